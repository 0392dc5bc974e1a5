#include "layer.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "composer.h"
#include "context.h"
#include "jutils.h"
#include "plugger.h"
#include "viewport.h"

Layer::Layer()
    : blit(BLIT_RGB),
      alpha(255),
      geo(),
      active(false),
      quit(false),
      running(false),
      late(false),
      hidden(false),
      rect(),
      clip(),
      blit_buffer(nullptr),
      env(nullptr),
      filename(),
      feed_buffer(nullptr),
      name(),
      alpha_name(),
      buffer(nullptr),
      feeds_asked(0),
      feeds_done(0),
      frame_asked(0),
      refeed_wanted(false),
      filter_frame(nullptr),
      filter_frame_size(0) {
  set_alpha(255);
  setname("???");
  // Timed waits measure on the steady clock: a clock set back cannot
  // stretch them.
  pthread_condattr_t attr;
  pthread_condattr_init(&attr);
  pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
  if (pthread_cond_init(&fed_cond, &attr)) error("error initializing POSIX thread fed condition");
  pthread_condattr_destroy(&attr);
}

Layer::~Layer() {
  pthread_cond_destroy(&fed_cond);
  filters.clear();
  if (buffer) jfree(buffer);
  free(filter_frame);
}

// ---------------------------------------------------------------------------
// Names and settings
// ---------------------------------------------------------------------------
void Layer::setname(const char *text) { snprintf(name, sizeof name, "%s", text); }

const char *Layer::get_blit() {
  static const char *names[] = {"???", "RGB", "BLU", "GRE", "RED", "ADD", "SUB", "AND", "OR "};
  if (blit == BLIT_ALPHA) return alpha_name;
  if (blit < BLIT_ALPHA) return names[blit];
  return "???";
}

void Layer::set_alpha(int a) {
  alpha = (uint8_t)(a > 255 ? 255 : a < 0 ? 0 : a);
  snprintf(alpha_name, sizeof alpha_name, "%03u", (unsigned)alpha);
}

void Layer::set_filename(const char *path) {
  const char *slash = strrchr(path, '/');
  snprintf(filename, sizeof filename, "%s", slash ? slash + 1 : path);
}

void Layer::set_position(int x, int y) {
  lock();
  pos_set_ = true;
  pos_x_ = x, pos_y_ = y;
  geo.x = (int16_t)env->canvas().to_screen_x(x);
  geo.y = (int16_t)env->canvas().to_screen_y(y);
  transform.set_origin(geo.x, geo.y);
  env->screen->crop(this);
  unlock();
}

void Layer::take_settings(Layer &from) {
  set_blit(from.blit);
  set_alpha(from.alpha);
  blender = std::move(from.blender);
  parked_ = std::move(from.parked_);
  fade = from.fade;
  look = from.look;
  fading_out_ = from.fading_out_;
  hidden = from.hidden;
  if (from.pos_set_) set_position(from.pos_x_, from.pos_y_);
  set_scale(from.get_scale());
  set_rotation(from.get_rotation());
  set_fit(from.get_fit());
  const bool resized = from.geo.w != geo.w || from.geo.h != geo.h;
  while (Entry *e = from.filters.begin()) {
    Filter *f = static_cast<Filter *>(e);
    e->rem();
    if (resized && f->init(&geo) != 0) {
      warning("effect %s refuses a layer of %ix%i: left off", f->name ? f->name : "?", geo.w, geo.h);
      f->in_use = 0;
      continue;
    }
    filters.append(f);
  }
}

// ---------------------------------------------------------------------------
// Geometry set-up, called by each kind's init
// ---------------------------------------------------------------------------
void Layer::_init(Context *ctx, int w, int h, int bpp) {
  env = ctx;
  ViewPort *scr = env->screen.get();
  geo.bpp = (uint8_t)(bpp ? bpp : scr->bpp);
  // A line must fit the 16-bit pitch; a wider layer would get a pitch cut
  // short, its lines overlapping. Cut the width instead: the geometry then
  // still describes a frame of geo.size bytes.
  const Canvas canvas = env->canvas();
  int want_w = w ? w : canvas.screen_w;
  const int widest = geo.bpp >= 8 ? 0xFFFF / (geo.bpp / 8) : 0xFFFF;
  if (want_w < 0 || want_w > widest) {
    error("layer %s: %i pixels wide, more than %i: cut to that", name, want_w, widest);
    want_w = widest;
  }
  geo.w = (uint16_t)want_w;
  geo.h = (uint16_t)(h ? h : canvas.screen_h);
  geo.pitch = (uint16_t)(geo.w * (geo.bpp / 8));
  geo.size = (uint32_t)geo.w * geo.h * (geo.bpp / 8);
  geo.fps = env->fps;
  geo.x = (int16_t)(canvas.x + (canvas.screen_w - (int)geo.w) / 2);
  geo.y = (int16_t)(canvas.y + (canvas.screen_h - (int)geo.h) / 2);
  transform.set_origin(geo.x, geo.y);
  scr->crop(this);
  // Set up again: jalloc warns about the buffer in use; it is replaced,
  // and freed rather than lost. When the new one cannot be had the old one
  // goes too: it is smaller than what geo now describes.
  void *old = buffer;
  buffer = jalloc(buffer, geo.size);
  if (old) jfree(old);
  func("initialized %s layer %ix%i %ibpp", name, geo.w, geo.h, geo.bpp);
}

// ---------------------------------------------------------------------------
// The feed loop, on the layer's own thread
// ---------------------------------------------------------------------------
void Layer::run() {
  // Wait for a first frame: it only shows that the layer can make frames.
  // A quit request ends the wait, so a layer that never delivers can stop.
  while (!feed()) {
    if (quit) {
      running = false;
      return;
    }
    jsleep(0, 50);
  }
  running = true;
  lock_feed();
  wait_feed();
  while (!quit) {
    void *frame = feed();
    feed_buffer = frame;
    feeds_done++;
    pthread_cond_broadcast(&fed_cond);
    if (!frame) error("feed error on layer %s", name);
    wait_feed();
  }
  unlock_feed();
  running = false;  // last touch of the object by this thread
}

bool Layer::stop(double timeout) {
  lock();
  quit = true;
  unlock();
  // A watchdog, not frame timing: measured on the steady clock, so that a
  // virtual engine clock cannot stretch it.
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double>(timeout));
  while (running || alive) {
    signal_feed();  // again and again: one sent while feed() was busy is lost
    if (std::chrono::steady_clock::now() > deadline) {
      error("layer %s thread does not stop", name);
      return false;
    }
    jsleep(0, 1000000);
  }
  return true;
}

void LayerDeleter::operator()(Layer *layer) const {
  if (!layer) return;
  if (layer->stop(timeout)) delete layer;
  else error("layer %s left undeleted: its thread still runs", layer->get_name());
}

void Layer::wait_fed() {
  lock_feed();
  while (feeds_done < feeds_asked && running && !quit) {
    // Signalled under the feed lock, the thread is woken only while it
    // waits: a wake-up lost while it was busy is repeated, never doubled.
    // The thread says when the frame is made; a thread that ended says
    // nothing, so the wait looks again every millisecond.
    signal_feed();
    struct timespec until;
    clock_gettime(CLOCK_MONOTONIC, &until);
    until.tv_nsec += 1000000;
    if (until.tv_nsec >= 1000000000) {
      until.tv_nsec -= 1000000000;
      until.tv_sec++;
    }
    pthread_cond_timedwait(&fed_cond, &feed_mutex, &until);
  }
  unlock_feed();
}

// The filter chain's working frame: one per layer, made when a filter first
// runs and kept at the size of the layer's frame.
void *Layer::filter_copy(const void *frame) {
  if (!filter_frame || filter_frame_size != geo.size) {
    free(filter_frame);
    filter_frame_size = 0;
    filter_frame = malloc(geo.size ? geo.size : 1);
    if (!filter_frame) {
      error("cannot allocate %lu bytes of memory", (unsigned long)geo.size);
      return nullptr;
    }
    filter_frame_size = geo.size;
  }
  memcpy(filter_frame, frame, geo.size);
  return filter_frame;
}

// ---------------------------------------------------------------------------
// One frame of compositing: main thread, engine's layer list locked
// ---------------------------------------------------------------------------
bool Layer::cafudda(bool advance) {
  hold();
  const bool drawn = prepare(advance);
  if (drawn && transform.active()) draw_transformed(nullptr);
  else if (drawn) draw(nullptr);
  release(advance);
  return drawn;
}

bool Layer::compose(Composer &c, bool advance) {
  if (!prepare(advance)) return false;
  if (transform.active()) draw_transformed(&c);
  else draw(&c);
  return true;
}

// The feed lock keeps the frame whole: the thread holds it while it draws,
// so the blit never shows a frame half drawn. It is free whenever the
// thread waits for its signal, which is the steady state at 24 fps.
void Layer::hold() {
  // A transformed layer may reach the screen from a place its frame alone
  // would not.
  if (held_ != Held::no || !active || (hidden && !transform.active())) return;
  lock_feed();
  filters.lock();
  held_ = Held::locked;
}

bool Layer::prepare(bool advance) {
  if (held_ != Held::locked) return false;
  held_ = Held::fed;
  blit_buffer = feed_buffer;
  if (!blit_buffer) return false;

  void *const own = blit_buffer;
  for (Entry *e = filters.begin(); e; e = e->next) {
    Filter *f = static_cast<Filter *>(e);
    if (!f->active) continue;
    // Plug-ins may work in place. Those that do get a copy, so that no
    // layer's own frame (a picture decoded once, say) is ever changed.
    if (blit_buffer == own && f->changes_input()) {
      void *copy = filter_copy(blit_buffer);
      if (!copy) break;  // logged; the frame goes unfiltered
      blit_buffer = copy;
    }
    void *out = f->run(blit_buffer, *this);
    if (out) {
      blit_buffer = out;
    } else if (!f->warned_null) {
      // Keep the frame the chain had; blitting from null would crash.
      f->warned_null = true;
      warning("filter %s returned no frame", f->getname() ? f->getname() : "?");
    }
  }

  if (advance) step_fade();
  env->on_layer_frame.call_or(false, *this, blit_buffer);
  return true;
}

void Layer::release(bool advance) {
  if (held_ == Held::no) return;
  const bool ask = advance && held_ == Held::fed;
  held_ = Held::no;
  if (ask) frame_asked = env->frames + 1;
  filters.unlock();
  unlock_feed();
  if (ask) ask_next();
}

bool Layer::band_step(ComposeStep *step) {
  if (!blender) return env->screen->band_step(this, step);
  *step = ComposeStep();
  if (hidden || clip.w <= 0 || clip.h <= 0) return true;
  return blender->band_step(*this, step);
}

void Layer::draw(Composer *c) {
  if (c) {
    ComposeStep step;
    if (band_step(&step)) {
      c->add(step);
      return;
    }
    c->flush(env->pool);  // what lies under it, before it draws whole
  }
  if (!blender) env->screen->blit(this);
  else if (!hidden && clip.w > 0 && clip.h > 0) blender->blend(*this, *env->screen);
}

// The screen's blits and the blends draw what the layer's frame, geometry
// and clip describe: the transformed picture's stand in for this one draw.
// The feed lock is held, and the thread reads the geometry only under it.
// Composed in bands, each band samples its own rows of the picture.
void Layer::draw_transformed(Composer *c) {
  ScreenGeometry shown;
  ComposeSample sample;
  void *pixels = c ? transform.plan(blit_buffer, geo, env->canvas(), *env->screen, &shown, &sample)
                   : transform.render(blit_buffer, geo, env->canvas(), *env->screen, &shown);
  if (!pixels) return;
  const ScreenGeometry own_geo = geo;
  const SDL_Rect own_rect = rect;
  const BlitClip own_clip = clip;
  const bool own_hidden = hidden;
  void *const own_frame = blit_buffer;
  geo = shown;
  blit_buffer = pixels;
  env->screen->crop(this);
  ComposeStep step;
  if (!c) {
    draw(nullptr);
  } else if (band_step(&step)) {
    step.sample = sample;
    c->add(step);
  } else {
    c->flush(env->pool);
    if (transform_bilinear(sample.src, sample.src_pitch, sample.sw, sample.sh, sample.dst,
                           sample.dst_pitch, sample.dw, sample.dh, sample.map))
      draw(nullptr);
  }
  geo = own_geo;
  rect = own_rect;
  clip = own_clip;
  hidden = own_hidden;
  blit_buffer = own_frame;
}

// ---------------------------------------------------------------------------
// Fades
// ---------------------------------------------------------------------------
void Layer::fade_out(int target, double seconds) {
  enter_fade(true);
  fading_out_ = true;
  start_fade(target, seconds);
}

void Layer::fade_in(int target, double seconds) {
  enter_fade(false);
  fading_out_ = false;
  start_fade(target < 0 ? (look ? look->alpha : 255) : target, seconds);
}

void Layer::stop_fade() {
  fade.stop();
  look.reset();
  fading_out_ = false;
}

// A fade shows in the ALPHA mode or through the layer's own blend. A plain
// mode is remembered, and left at 255 where it showed the layer whole.
void Layer::enter_fade(bool out) {
  const bool plain = !blender && blit != BLIT_ALPHA;
  if (!look && (out || plain)) look = Look{blit, plain ? (uint8_t)255 : alpha};
  if (!plain) return;
  set_alpha(255);
  set_blit(BLIT_ALPHA);
}

void Layer::start_fade(int target, double seconds) {
  int64_t frames = -1;
  if (seconds >= 0) {  // NaN is none
    // Frames at the set rate: a capture and a live show step alike.
    const double n = seconds * (env ? env->fps_rate : 0);
    frames = n < (double)INT32_MAX ? (int64_t)std::llround(n) : INT32_MAX;
  }
  fade.start(alpha, target, frames);
}

void Layer::step_fade() {
  if (!fade.running()) return;
  set_alpha(fade.step());
  if (fade.running() || fading_out_ || !look || alpha != look->alpha) return;
  set_blit(look->blit);  // back in to the look
  look.reset();
}

bool Layer::feed_again() {
  if (!running || !refeed_wanted.exchange(false)) return false;
  frame_asked = env->frames;
  ask_next();
  return true;
}

void Layer::ask_next() {
  feeds_asked++;
  signal_feed();
}
