#include "player.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "clock.h"
#include "factory.h"
#include "jutils.h"
#include "modulator.h"
#include "png_writer.h"
#include "screenshot.h"
#ifdef KOLVEX_HAVE_FFMPEG
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

// SDL falls back to drivers that show nothing when there is no display;
// asked for by name they are what the user wants (tests, benchmarks).
bool shows_nothing() {
  char name[32] = "";
  if (!SDL_VideoDriverName(name, sizeof name)) return true;
  const char *asked = getenv("SDL_VIDEODRIVER");
  if (asked && *asked) return false;
  return strcmp(name, "offscreen") == 0 || strcmp(name, "dummy") == 0;
}

}  // namespace

Player::Player(const PlayerOptions &opt) : opt_(opt), modulator_(new Modulator(opt.fps)) {}

std::string beside_program(const std::string &relative) {
  char exe[4096];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return relative;  // no /proc: as if run from bin/
  exe[n] = '\0';
  std::string dir(exe);
  dir.erase(dir.rfind('/') + 1);
  return dir + relative;
}

std::string installed_plugin_dir() { return beside_program(KOLVEX_PLUGIN_DIR_FROM_BIN); }

Player::~Player() {
  editor_.reset();
  loader_.reset();  // after the open under way
  if (session_) session_->abandon();  // its writer works on the engine's pool
  if (ctx_) ctx_->close();  // the listed layers' threads end first
  ctx_.reset();
  session_.reset();         // then the clock, the signals and the log back
}

bool use_plugin_dir(Plugger &plugger, const PlayerOptions &opt, std::string &err) {
  const char *env = getenv("KOLVEX_PLUGIN_DIR");
  const std::string dir = !opt.plugin_dir.empty() ? opt.plugin_dir
                          : env && *env          ? env
                                                 : installed_plugin_dir();
  if (plugger.set_search_dir(dir.c_str())) return true;
  if (opt.plugin_dir.empty() && !(env && *env)) {  // not installed: no plug-ins
    plugger.set_search_dir(nullptr);
    return true;
  }
  err = (opt.plugin_dir.empty() ? "KOLVEX_PLUGIN_DIR " : "--plugin-dir ") + dir +
        ": not a directory that can be read";
  return false;
}

// frei0r's part of --list-effects: the native OVER blend, then each plug-in
// (kind, the name to use, what it says it is) and its parameters (name to
// use, type, default, explanation), explanations on one line.
static void list_frei0r(const Frei0rLibrary &lib, FILE *out) {
  auto one_line = [](std::string s) {
    for (char &c : s)
      if (c == '\n' || c == '\t') c = ' ';
    return s;
  };
  fprintf(out, "%-7s %-28s %s\n", "blend", "OVER", "each pixel's alpha times the layer's (--blit OVER)");
  for (const Frei0rPlugin *p : lib.all()) {
    fprintf(out, "%-7s %-28s %s: %s\n", frei0r_kind_name(p->kind), p->use_name().c_str(),
            p->name.c_str(), one_line(p->explanation).c_str());
    for (size_t i = 0; i < p->params.size(); i++) {
      Frei0rValue v;
      const std::string def = p->default_value((int)i, v) ? format_frei0r_value(v) : "?";
      fprintf(out, "          %-20s %-8s %-10s %s\n", p->params[i].key.c_str(),
              frei0r_type_name(p->params[i].type), def.c_str(),
              one_line(p->params[i].explanation).c_str());
    }
  }
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
    fprintf(out, "%-7s %-28s %s: %s\n", "filter", text(f->name), text(f->author), text(f->info));
  }
  if (i == 0 && !opt.quiet) {
    const char *dir = plugger._getsearchpath();
    fprintf(stderr, "kolvex: none of our own effect plug-ins %s%s (--plugin-dir names a place)\n",
            dir ? "in " : "found", dir ? dir : "");
  }
  list_frei0r(plugger.frei0r, out);
  return 0;
}

// ---------------------------------------------------------------------------
// Before the window
// ---------------------------------------------------------------------------
// --seed, else 2004 (used with --capture: the same command, the same frames).
uint32_t Player::seed() const { return opt_.has_seed ? opt_.seed : 2004; }

bool Player::prepare(std::string &err) {
  const bool capturing = !opt_.capture_dir.empty();
  if (!inputs_.open(opt_, err)) return false;
  if (inputs_.has_audio())
    modulator_->set_audio([this](int64_t frame) { return inputs_.analyse(frame); });
  modulator_->set_midi(inputs_.midi());
  capture::SessionOptions so;
  so.program = "kolvex";
  so.dir = opt_.capture_dir;
  so.name = "kolvex";
  so.settings = opt_.capture;
  so.stream_url = opt_.stream_url;
  so.stream_format = opt_.stream_format;
  so.width = opt_.width;
  so.height = opt_.height;
  so.fps = opt_.fps;
  so.frames = opt_.seconds ? capture::run_frames(opt_.seconds, opt_.fps) : opt_.frames;
  so.origin = seed();
  so.audio_rate = inputs_.capture_rate();
  if (so.audio_rate) so.sound = [this](int16_t *stereo, int n) { inputs_.fill(stereo, n); };
  so.progress = capturing && !opt_.quiet && isatty(STDOUT_FILENO);
  so.summary = !opt_.quiet;
  so.sink_level = opt_.quiet ? LOG_ERROR : opt_.verbose >= 2 ? LOG_DEBUG
                  : opt_.verbose                              ? LOG_WARNING
                                                              : LOG_ERROR;
  set_debug(opt_.quiet ? 0 : opt_.verbose);
  session_.reset(new capture::RenderSession(so));
  session_->begin();

  for (const std::string &path : opt_.banks)
    if (!bank_.add(path, err)) return false;
  // The factory first: a name it refuses needs no engine to be told.
  for (const LayerSpec &layer_spec : opt_.layers) {
    LayerPtr l = make_layer(layer_spec.source.c_str(), err);
    if (!l) return false;
    pending_.push_back(std::move(l));
  }
  ctx_.reset(new Context());
  ctx_->set_threads(opt_.threads);  // before anything runs on them
  if (!use_plugin_dir(ctx_->plugger, opt_, err)) return false;
  ctx_->plugger.refresh();  // the engine's init finds them loaded
  ctx_->set_screen(std::make_unique<LayoutScreen>(opt_.width, opt_.height));
  ctx_->set_canvas(opt_.canvas_w, opt_.canvas_h, opt_.fill);
  // The stream last: a bad layer needs no connection to be told.
  return make_layers(err) && check_modulation(err) && session_->open_stream(*ctx_, err);
}

// The LFOs, then each --map against the layers as they will play, their
// effects and blends (the tree reads them before they join the engine).
bool Player::check_modulation(std::string &err) {
  for (const std::string &lfo : opt_.lfos)
    if (!modulator_->add_lfo(lfo, err)) return false;
  Controls tree(*ctx_);
  tree.prepared = &stack_;
  tree.modulator = modulator_.get();
  for (const std::string &map : opt_.maps)
    if (!modulator_->check_map(map, tree, err)) {
      err = "--map '" + map + "': " + err;
      return false;
    }
  return true;
}

bool Player::make_layers(std::string &err) {
  for (size_t i = 0; i < pending_.size(); i++) {
    Layer *l = pending_[i].get();
    const LayerSpec &layer_spec = opt_.layers[i];
    if (!apply_settings(l, layer_spec, false, err)) return false;
    if (!init_layer(l, layer_spec.source, err)) return false;
    l->set_blit(layer_spec.blit);
    l->set_alpha(layer_spec.alpha);
    if (!layer_spec.blend.empty()) {
      std::unique_ptr<LayerBlend> b = make_blend(layer_spec.blend.c_str(), err);
      if (!b) return false;
      l->set_blend(std::move(b));
    }
    if (layer_spec.has_pos) l->set_position(layer_spec.x, layer_spec.y);
    if (!apply_settings(l, layer_spec, true, err)) return false;
    stack_.push_back(l);
    if (!attach_effects(i, layer_spec, err)) return false;
  }
  return true;
}

// At the canvas, from the seed's clock where the frames must be the same on
// every run. A picture that does not decode completely is refused: the one
// line says why, instead of the decoder's own.
bool Player::init_layer(Layer *l, const std::string &source, std::string &err) {
  const bool seeded = opt_.has_seed || !opt_.capture_dir.empty();
  seed_seconds = seed();
  const KolvexClock *clock = kolvex_get_clock();
  if (seeded) kolvex_set_clock(&seed_clock);
  session_->hold_log(true);
  const bool ok = l->init(ctx_.get());
  kolvex_set_clock(clock);
  const std::string why = session_->first_error();
  session_->hold_log(false, ok);
  if (!ok) err = source + ": the picture does not decode" + (why.empty() ? "" : " (" + why + ")");
  return ok;
}

// --set, --fit, --speed and the like: rows of the layer's table, those
// that cannot change while playing before it starts (`live` false), the
// others once it has; a kind without the row refuses them.
bool Player::apply_settings(Layer *layer, const LayerSpec &layer_spec, bool live,
                            std::string &err) {
  for (const LayerSpec::Setting &s : layer_spec.settings) {
    const Param *p = layer->param(s.row);
    if (p && p->live != live) continue;
    ParamValue v;
    std::string why;
    if (!p || !p->set) {
      err = layer_spec.source + ": " + s.option + " is not a setting of this kind of layer";
      return false;
    }
    if (parse_param(*p, s.args, v, why) == ParamParse::bad) {
      err = layer_spec.source + ": " + s.option + " " + why;
      return false;
    }
    p->set(*layer, v);
  }
  return true;
}

bool Player::attach_effects(size_t index, const LayerSpec &layer_spec, std::string &err) {
  Layer *layer = stack_[index];
  for (const std::string &name : layer_spec.effects) {
    std::string key, settings;
    const bool frei0r = split_frei0r_name(name.c_str(), key, settings);  // one per use
    Filter *f = frei0r ? ctx_->plugger.pick(name.c_str(), err) : ctx_->plugger.pick(name.c_str());
    if (!f) {
      if (!frei0r) err = "no effect named " + name + "; --list-effects lists them";
      return false;
    }
    if (f->in_use) {  // one filter, one list
      const size_t on = effect_on_[f];
      err = "--effect " + name + ": already on " +
            (on == index ? "this layer (an effect runs once a layer)"
                         : "layer " + std::to_string(on + 1) + " (an effect runs on one layer)");
      return false;
    }
    if (f->init(&layer->geo) != 0) {
      err = "--effect " + name + ": the effect refuses a layer of " + std::to_string(layer->geo.w) +
            "x" + std::to_string(layer->geo.h);
      return false;
    }
    f->in_use = 1;
    effect_on_[f] = index;
    layer->filters.add(f);
  }
  return true;
}

// ---------------------------------------------------------------------------
// The window
// ---------------------------------------------------------------------------
bool Player::open(std::string &err) {
  ctx_->set_screen(nullptr);
  const bool capturing = !opt_.capture_dir.empty();
  if (capturing) setenv("SDL_VIDEODRIVER", "dummy", 0);  // frames go to files: no window
  session_->hold_log(true);
  const bool opened = ctx_->init(opt_.width, opt_.height);
  const std::string why = session_->first_error();
  session_->hold_log(false, opened);
  if (!opened) {
    err = "can't open the screen" + (why.empty() ? "" : ": " + why);
    return false;
  }
  if (!capturing && shows_nothing()) {
    err = "no display to show the window on (is DISPLAY set?); --capture renders without one";
    return false;
  }
  if (!session_->attach(*ctx_, err)) return false;
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
  controls_.reset(new Controls(*ctx_));
  controls_->modulator = modulator_.get();
  open_editor();
  keys_.reset(new KeyMap(*controls_));
  ctx_->on_show = [this](Context &) { to_window(); };
  return true;
}

// ---------------------------------------------------------------------------
// Playing
// ---------------------------------------------------------------------------
void Player::tell(const std::string &line) {
  if (line.empty()) return;
  status_ = line;
  status_frames_ = 2 * opt_.fps;
  for (auto &watch : told_watchers_) watch(line);
}

// The frame has gone out (capture, stream): a screenshot takes it as it
// went, then the window gets the performer's line.
void Player::to_window() {
  if (controls_->screenshot) take_screenshot();
  for (auto &watch : programme_watchers_) watch(*ctx_);
  draw_status();
}

// At the window's bottom on a black band, in the OSD's font at its size:
// clear of the show's own lines, readable over any picture.
void Player::draw_status() {
  ViewPort *s = ctx_->screen.get();
  const int band = 10;
  // The OSD's font draws only inside the canvas: the band is the bottom of
  // what it may draw on (the window's bottom unless a letterbox bar is there).
  int32_t x0, y0, x1, y1;
  s->drawable(x0, y0, x1, y1);
  if (status_.empty() || y1 - y0 < band || !s->lock()) return;
  uint8_t *surface = (uint8_t *)s->get_surface();
  for (int y = y1 - band; y < y1; y++)
    memset(surface + (size_t)y * s->pitch + (size_t)x0 * 4, 0, (size_t)(x1 - x0) * 4);
  ctx_->osd.print(status_.c_str(), (uint32_t *)s->coords(x0 + 4, y1 - band), 1, 1);
  s->unlock();
}

// While paused the picture stands still: the layers' frames as they were,
// drawn again only when a key changes the stack, and the OSD over a copy.
// Each held frame goes out like a played one.
void Player::show_paused() {
  ViewPort *s = ctx_->screen.get();
  const size_t bytes = (size_t)s->pitch * s->h;
  s->lock();
  if (frozen_.empty()) {
    s->unlock();
    ctx_->redraw();
    s->lock();
    const uint8_t *pixels = (const uint8_t *)s->get_surface();
    frozen_.assign(pixels, pixels + bytes);
  } else {
    memcpy(s->get_surface(), frozen_.data(), bytes);
  }
  s->unlock();
  ctx_->osd.cafudda();
  session_->show_held(*ctx_);
  to_window();
  if (ctx_->present) s->show();
}

void Player::add_source(std::unique_ptr<ControlSource> source) {
  sources_.push_back(std::move(source));
}

bool Player::start_inputs(const std::string &wav, std::string &err) {
  return inputs_.start(opt_.capture_dir.empty(), wav, err);
}

// What the modulator has to tell (a learn done, a MIDI port gone or back)
// and the sound input's news: on the status line and on stderr, once each.
void Player::tell_news() {
  std::vector<std::string> lines = modulator_->take_lines();
  lines.push_back(inputs_.news());
  for (const std::string &line : lines) announce(line);
}

void Player::announce(const std::string &line) {
  if (line.empty()) return;
  if (!opt_.quiet) fprintf(stderr, "kolvex: %s\n", line.c_str());
  tell(line);
}

void Player::take_screenshot() {
  controls_->screenshot = false;
  ViewPort *s = ctx_->screen.get();
  const std::string name = next_screenshot_name();
  std::string err;
  bool saved = false;
  if (!name.empty() && s->lock()) {
    saved = capture::save_png(name, (const uint8_t *)s->get_surface(), s->w, s->h, s->pitch, err);
    s->unlock();
  }
  if (name.empty())
    tell("no screenshot: kolvex-0001.png to kolvex-9999.png are taken");
  else
    tell(saved ? "screenshot " + name : err.empty() ? "can't write " + name : err);
}

// Once a second at most, while frames are being dropped.
void Player::tell_stream_drops() {
  const int64_t dropped = session_->stream_dropped();
  if (dropped == told_dropped_ || session_->frames() % opt_.fps) return;
  told_dropped_ = dropped;
  tell("stream: " + std::to_string(dropped) + " frames dropped");
}

// The stack's own changes (stack_editor.h): loads off the frame loop, set
// up like the command line's layers, told to the tree and the record.
void Player::open_editor() {
  loader_.reset(new Loader());
  editor_.reset(new StackEditor(*ctx_, bank_, *loader_));
  editor_->ready = [this](Layer *l, const std::string &source, std::string &e) {
    return init_layer(l, source, e);
  };
  editor_->on_restack = [this] { stack_ = editor_->stack(); };
  editor_->on_failed = [this](const std::string &line) { announce(line); };
  // Done when it joins: the record has it at the frame it first shows in.
  editor_->on_joined = [this](const std::string &path, const std::string &name,
                              const std::string &said) {
    controls_->changed(path, {ControlArg::string(name)});
    tell(said);
  };
  controls_->editor = editor_.get();
}

bool Player::step() {
  const uint64_t changes = controls_->changes;
  for (auto &source : sources_) source->poll(*controls_, frame());
  modulator_->poll(*controls_, frame());
  tell_news();
  // Loads join between frames; a render waits for those due now.
  editor_->settle(ctx_->lockstep);
  if (controls_->changes != changes) frozen_.clear();  // a held picture is drawn again
  if (controls_->paused) {
    show_paused();
    ctx_->calc_fps();
  } else {
    frozen_.clear();
    ctx_->cafudda(-1);
  }
  tell_stream_drops();

  // A line told now is drawn in the next 2 * fps frames.
  if (status_frames_ > 0 && --status_frames_ == 0) status_.clear();
  SDL_Event ev;
  while (SDL_PollEvent(&ev)) {
    if (ev.type == SDL_QUIT) controls_->quit = true;
    if (ev.type != SDL_KEYDOWN) continue;
    const bool paused = controls_->paused;
    const std::string line = keys_->press(ev.key.keysym);
    tell(line);
    if (paused && controls_->paused && !line.empty()) frozen_.clear();  // drawn again
  }
  return !ctx_->ended && !controls_->quit && !session_->interrupted();
}

int Player::run() {
  while (step()) {
  }
  return session_->finish();
}
