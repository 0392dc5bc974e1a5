#include "player.h"

#include <cstdlib>
#include <cstring>

#include "capture_out.h"
#include "clock.h"
#include "factory.h"
#include "jutils.h"
#ifdef KOLVEX_HAVE_FFMPEG
#include "video_layer.h"
#endif

namespace {

// Stands in for the screen until the window opens: layers are sized,
// centred and decoded, and effects set up, against its size. Nothing is
// drawn on it; open() crops every layer again on the real screen.
class LayoutScreen : public ViewPort {
 public:
  LayoutScreen(int width, int height) {
    w = width;
    h = height;
    bpp = 32;
    pitch = w * 4;
    size = pitch * h;
  }
  bool init(int, int) override { return true; }
  void set_magnification(int) override {}
  void blit(Layer *) override {}
  void crop(Layer *) override {}
  void show() override {}
  void clear() override {}
  void *get_surface() override { return nullptr; }
  void fullscreen() override {}
  bool lock() override { return true; }
  bool unlock() override { return true; }
  void *coords(int, int) override { return nullptr; }
};

// The particle generator takes its seed from the clock's seconds when it
// is set up: --seed N is a clock standing at N seconds meanwhile.
uint32_t seed_seconds = 0;
void seed_time(struct timeval *tv) {
  tv->tv_sec = (time_t)seed_seconds;
  tv->tv_usec = 0;
}
void no_sleep(const struct timespec *) {}
const KolvexClock seed_clock = {seed_time, no_sleep};

}  // namespace

Player::Player(const PlayerOptions &opt) : opt_(opt) {}

Player::~Player() {
  std::string ignored;
  capture_out::finish(ignored);  // the real clock back, if still virtual
  if (ctx_) ctx_->close();       // the listed layers' threads end first
}

bool use_plugin_dir(Plugger &plugger, const PlayerOptions &opt, std::string &err) {
  if (opt.plugin_dir.empty() || plugger.set_search_dir(opt.plugin_dir.c_str())) return true;
  err = "--plugin-dir " + opt.plugin_dir + ": not a directory that can be read";
  return false;
}

int list_effects(const PlayerOptions &opt, FILE *out) {
  Plugger plugger;
  std::string err;
  if (!use_plugin_dir(plugger, opt, err)) {
    fprintf(stderr, "kolvex: %s\n", err.c_str());
    return 2;
  }
  plugger.refresh();
  auto text = [](const char *s) { return s ? s : "-"; };
  int i = 0;
  for (; i < MAX_PLUGINS && plugger.slots[i]; i++) {
    const Filter *f = plugger.slots[i];
    fprintf(out, "%-12s %-20s %s\n", text(f->name), text(f->author), text(f->info));
  }
  if (i == 0) fprintf(stderr, "kolvex: no effect plug-ins in %s\n", text(plugger._getsearchpath()));
  return 0;
}

// ---------------------------------------------------------------------------
// Before the window
// ---------------------------------------------------------------------------
bool Player::prepare(std::string &err) {
  if (!opt_.capture_dir.empty() && !capture_out::usable(opt_, err)) return false;
  // The factory first: a name it refuses needs no engine to be told.
  for (const LayerSpec &layer_spec : opt_.layers) {
    Layer *l = make_layer(layer_spec.source.c_str(), err);
    if (!l) return false;
    pending_.emplace_back(l);
  }
  ctx_.reset(new Context());
  if (!use_plugin_dir(ctx_->plugger, opt_, err)) return false;
  ctx_->plugger.refresh();  // the engine's init finds them loaded
  ctx_->screen = new LayoutScreen(opt_.width, opt_.height);
  return make_layers(err);
}

bool Player::make_layers(std::string &err) {
  const bool seeded = opt_.has_seed || !opt_.capture_dir.empty();
  seed_seconds = seed();
  for (size_t i = 0; i < pending_.size(); i++) {
    Layer *l = pending_[i].get();
    const LayerSpec &layer_spec = opt_.layers[i];
    if (!set_clip_options(l, layer_spec, err)) return false;
    if (seeded) kolvex_set_clock(&seed_clock);
    bool ok = l->init(ctx_.get());
    kolvex_set_clock(nullptr);
    // A picture that broke off part way is shown as far as it decoded.
    if (!ok && !l->feed_buffer) {
      err = layer_spec.source + ": the picture does not decode";
      return false;
    }
    l->set_blit(layer_spec.blit);
    l->set_alpha(layer_spec.alpha);
    if (layer_spec.has_pos) l->set_position(layer_spec.x, layer_spec.y);
    if (!attach_effects(l, layer_spec, err)) return false;
    stack_.push_back(l);
  }
  return true;
}

// --fit, --once and the like, for a video layer; refused on other kinds.
bool Player::set_clip_options(Layer *layer, const LayerSpec &layer_spec, std::string &err) {
  const LayerSpec::Clip &c = layer_spec.clip;
#ifdef KOLVEX_HAVE_FFMPEG
  if (VideoLayer *video = dynamic_cast<VideoLayer *>(layer)) {
    VideoOptions o;
    o.size = c.size == LayerSpec::Clip::FIT    ? VideoOptions::FIT
             : c.size == LayerSpec::Clip::FILL ? VideoOptions::FILL
                                               : VideoOptions::CLIP;
    o.once = c.once;
    o.speed = c.speed;
    o.start = c.start;
    video->set_options(o);
    return true;
  }
#else
  (void)layer;
#endif
  if (c.given.empty()) return true;
  err = layer_spec.source + ": " + c.given + " applies to video layers only";
  return false;
}

bool Player::attach_effects(Layer *layer, const LayerSpec &layer_spec, std::string &err) {
  for (const std::string &name : layer_spec.effects) {
    Filter *f = ctx_->plugger.pick(name.c_str());
    if (!f) {
      err = "no effect named " + name + "; --list-effects lists them";
      return false;
    }
    if (f->in_use) {  // one filter, one list
      err = "--effect " + name + ": already on another layer";
      return false;
    }
    f->init(&layer->geo);
    f->in_use = 1;
    layer->filters.add(f);
  }
  return true;
}

// ---------------------------------------------------------------------------
// The window
// ---------------------------------------------------------------------------
// --seed, else 2004 (used with --capture: the same command, the same frames).
uint32_t Player::seed() const { return opt_.has_seed ? opt_.seed : 2004; }

bool Player::open(std::string &err) {
  delete ctx_->screen;
  ctx_->screen = nullptr;
  if (!opt_.capture_dir.empty()) {
    setenv("SDL_VIDEODRIVER", "dummy", 0);  // frames go to files: no window
    if (!capture_out::begin(opt_, *ctx_, seed(), err)) return false;
  }
  if (!ctx_->init(opt_.width, opt_.height)) {
    err = "can't open the screen";
    return false;
  }
  SDL_WM_SetCaption("kolvex", "kolvex");
  ctx_->set_fps_interval(opt_.fps);
  ctx_->clear_all = true;  // a hidden or moved layer leaves nothing behind
  if (opt_.fullscreen) ctx_->screen->fullscreen();
  ctx_->magnify(opt_.magnify - 1);
  // Bottom first in the stack, position 1 on top in the engine's list.
  for (auto &owned : pending_) {
    Layer *l = owned.release();
    l->lock();
    ctx_->screen->crop(l);
    l->unlock();
    ctx_->layers.prepend(l);
  }
  pending_.clear();
  keys_.reset(new KeyMap(*ctx_, stack_));
  start_ = dtime();
  return true;
}

// ---------------------------------------------------------------------------
// Playing
// ---------------------------------------------------------------------------
void Player::tell(const std::string &line) {
  if (line.empty()) return;
  ctx_->osd.print_low("%s", line.c_str());
  status_frames_ = 2 * opt_.fps;
}

// While paused the picture stands still and the OSD is drawn over a copy
// of it taken without any text.
void Player::show_paused() {
  ViewPort *s = ctx_->screen;
  const size_t bytes = (size_t)s->pitch * s->h;
  if (frozen_.empty()) {  // one more frame, without text, to hold
    const int32_t low = ctx_->osd.show_low;
    ctx_->osd.show_low = 0;
    ctx_->cafudda(0);
    ctx_->osd.show_low = low;
    s->lock();
    const uint8_t *pixels = (const uint8_t *)s->get_surface();
    frozen_.assign(pixels, pixels + bytes);
  } else {
    s->lock();
    memcpy(s->get_surface(), frozen_.data(), bytes);
  }
  s->unlock();
  ctx_->osd.cafudda();
  s->show();
}

bool Player::step() {
  if (keys_->paused) {
    show_paused();
  } else {
    frozen_.clear();
    ctx_->cafudda(0);
  }
  keys_->settle();
  const bool more = opt_.seconds == 0 || dtime() - start_ < opt_.seconds;
  ctx_->calc_fps();

  // A line told now is drawn in the next 2 * fps frames.
  if (status_frames_ > 0 && --status_frames_ == 0) ctx_->osd.clean();
  SDL_Event ev;
  while (SDL_PollEvent(&ev)) {
    if (ev.type == SDL_QUIT) keys_->quit = true;
    if (ev.type == SDL_KEYDOWN) tell(keys_->press(ev.key.keysym));
  }
  return more && !keys_->quit;
}

int Player::run(std::string &err) {
  while (step()) {
  }
  return capture_out::finish(err) ? 0 : 1;
}
