#include "context.h"

#include <SDL.h>
#include <mikmod.h>

#include <algorithm>
#include <chrono>
#include <functional>

#include "clock.h"
#include "jutils.h"
#include "sdl_screen.h"

Context::Context()
    : cur_time(),
      lst_time(),
      slp_time(),
      fps_count(0),
      elapsed(0),
      fps_usec(1000000 / 24),
      fps_rate(24),
      fps_rem(0),
      start_time(0.0),
      keep_going(false),
      magnification(0),
      change_magnification(false),
      skip_layers(false),
      fps(0.0f),
      track_fps(false),
      clear_all(false),
      frames(0),
      lockstep(false),
      present(true),
      ended(false),
      canvas_w_(0),
      canvas_h_(0),
      canvas_fill_(false) {
  notice("morvash the %s %s engine", "Orvanta", "1.0");
  act("Kolvex video-layer engine, by the Kolvex developers");
}

Context::~Context() {
  close();
  notice("Kolvex engine closed, cu");
}

// ---------------------------------------------------------------------------
// Set-up
// ---------------------------------------------------------------------------
bool Context::init(int w, int h) {
  screen = std::make_unique<SdlScreen>();
  if (!screen->init(w, h)) {
    error("Can't initialize the viewport");
    error("This is a fatal error");
    return false;
  }
  place_canvas();
  plugger.refresh();
  osd.init(this);
  find_best_memcpy();
  set_fps_interval(24);
  clock_gettime_tv(&lst_time);
  return true;
}

void Context::set_canvas(int w, int h, bool fill) {
  canvas_w_ = w;
  canvas_h_ = h;
  canvas_fill_ = fill;
  place_canvas();
}

void Context::place_canvas() {
  if (!screen) return;
  canvas_ = Canvas::place(canvas_w_, canvas_h_, screen->w, screen->h, canvas_fill_);
  const Canvas &canvas = canvas_;
  if (canvas.screen_w == screen->w && canvas.screen_h == screen->h && !canvas.x && !canvas.y)
    screen->area = ViewPort::Area();  // the whole screen
  else
    screen->area = {canvas.x, canvas.y, canvas.screen_w, canvas.screen_h};
  if (canvas.w != screen->w || canvas.h != screen->h)
    notice("canvas %ix%i shown %ix%i at %i,%i on the screen%s", canvas.w, canvas.h,
           canvas.screen_w, canvas.screen_h, canvas.x, canvas.y, canvas_fill_ ? ", filling it" : "");
}

Canvas Context::canvas() const {
  if (canvas_.screen_w > 0 || !screen) return canvas_;
  return Canvas::place(0, 0, screen->w, screen->h, false);
}

void Context::set_fps_interval(int rate) {
  if (rate < 1) {
    warning("frame rate %i refused, kept at %i", rate, 1000000 / fps_usec);
    return;
  }
  fps_usec = 1000000 / rate;
  fps_rate = rate;
  fps_rem = 0;
}

void Context::magnify(int m) {
  if (m == magnification) return;
  magnification = m;
  change_magnification = true;
}

// ---------------------------------------------------------------------------
// The frame loop
// ---------------------------------------------------------------------------
void Context::cafudda(int seconds) {
  if (ended) return;
  if (seconds != 0) start_time = dtime();
  do {
    rocknroll(true);
    refeed_layers(lockstep);
    compose(true);

    osd.cafudda();
    if (seconds != 0 && !on_frame.call_or(true, *this)) ended = true;
    if (on_show) on_show(*this);
    if (present) screen->show();
    frames++;

    if (change_magnification) {
      if (lockstep) wait_layers();
      screen->set_magnification(magnification);
      osd.init(this);  // the draw surface may have moved
      for (Entry *e = layers.begin(); e; e = e->next) {
        Layer *l = static_cast<Layer *>(e);
        l->lock();
        screen->crop(l);
        l->unlock();
      }
      change_magnification = false;
    }

    if (seconds == 0) {
      if (lockstep) wait_layers();
      return;
    }
    keep_going = !ended && (dtime() - start_time) < seconds;
    calc_fps();
    MikMod_Update();
    // The layers have made their next frames meanwhile; between frames and
    // after the loop they are idle, so that the caller can change them.
    if (lockstep) wait_layers();
  } while (keep_going);
}

// The rate limiter. The schedule lst_time advances by exactly one slot per
// frame, so an oversleep shortens the next sleep and the rate does not drift.
void Context::calc_fps() {
  clock_gettime_tv(&cur_time);
  elapsed = (int)(cur_time.tv_usec - lst_time.tv_usec);
  if (cur_time.tv_sec > lst_time.tv_sec) elapsed += 1000000;

  if (track_fps) {
    if (++fps_count == 24) {
      fps_count = 0;
      fps = (float)(1000000.0 / elapsed);
    }
  }

  if (elapsed > fps_usec) {
    lst_time = cur_time;  // late: restart the schedule from now
    fps_rem = 0;
    return;
  }
  // Microseconds times 1024, a cheap near-thousand: at rates below 2 a
  // slot is over a second, which nanosleep only takes split.
  const long long nsec = (long long)(fps_usec - elapsed) << 10;
  slp_time.tv_sec = (time_t)(nsec / 1000000000);
  slp_time.tv_nsec = (long)(nsec % 1000000000);
  clock_sleep(&slp_time);
  lst_time.tv_usec += fps_usec;
  fps_rem += 1000000 % fps_rate;
  if (fps_rem >= fps_rate) {
    fps_rem -= fps_rate;
    lst_time.tv_usec++;
  }
  if (lst_time.tv_usec > 999999) {
    lst_time.tv_usec -= 1000000;
    lst_time.tv_sec++;
  }
}

void Context::redraw() {
  if (!screen) return;
  refeed_layers(lockstep);
  compose(false);
}

// Each layer holds its frame from its turn in the walk until the bands are
// drawn; a layer that must see the screen whole has the steps under it
// drawn first (Layer::compose). Only pixels leave the frame loop's thread.
void Context::compose(bool advance) {
  ComposeTarget target;
  if (!screen->compose_target(&target)) {
    if (clear_all) screen->clear();
    layers.lock();
    for (Entry *e = layers.end(); e; e = e->prev)
      if (!skip_layers) static_cast<Layer *>(e)->cafudda(advance);
    layers.unlock();
    return;
  }
  composer_.begin(target);
  if (clear_all) composer_.add(ComposeStep::clear(target));
  layers.lock();
  held_.clear();
  if (!skip_layers)
    for (Entry *e = layers.begin(); e; e = e->next) held_.push_back(static_cast<Layer *>(e));
  // The frames are locked by address, not by place in the stack, which
  // changes: two frames never take two layers' locks the other way round.
  std::sort(held_.begin(), held_.end(), std::less<Layer *>());
  for (Layer *l : held_) l->hold();
  if (!skip_layers)
    for (Entry *e = layers.end(); e; e = e->prev)
      static_cast<Layer *>(e)->compose(composer_, advance);
  composer_.flush(pool);
  for (Layer *l : held_) l->release(advance);
  layers.unlock();
}

void Context::refeed_layers(bool wait) {
  bool asked = false;
  layers.lock();
  for (Entry *e = layers.begin(); e; e = e->next) asked |= static_cast<Layer *>(e)->feed_again();
  layers.unlock();
  if (asked && wait) wait_layers();
}

void Context::wait_layers() {
  layers.lock();
  for (Entry *e = layers.begin(); e; e = e->next) static_cast<Layer *>(e)->wait_fed();
  layers.unlock();
}

void Context::rocknroll(bool state) {
  layers.lock();
  for (Entry *e = layers.begin(); e; e = e->next) {
    Layer *l = static_cast<Layer *>(e);
    if (l->late) {  // gave up waiting for it once: it joins when it delivers
      if (l->running) {
        l->late = false;
        l->active = state;
      }
      continue;
    }
    if (l->running || l->alive) continue;
    if (l->start() != 0) {
      // No thread: never wait for it. The layer stays inactive.
      error("can't start thread for layer %s", l->get_name());
      continue;
    }
    if (wait_first_frame(l)) {
      l->active = state;
    } else if (l->alive) {
      error("layer %s delivers no frame: left out until it does", l->get_name());
      l->late = true;
    }
  }
  layers.unlock();
}

// A watchdog, not frame timing: on the steady clock, so that a virtual
// engine clock cannot stretch it. True once the layer has its first frame.
bool Context::wait_first_frame(Layer *l) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (!l->running) {
    if (!l->alive) return false;  // the thread ended without a first frame
    if (std::chrono::steady_clock::now() > deadline) return false;
    jsleep(0, 500000);
  }
  return true;
}

// ---------------------------------------------------------------------------
// Tear-down
// ---------------------------------------------------------------------------
void Context::close() {
  while (Entry *e = layers.begin()) {
    Layer *l = static_cast<Layer *>(e);
    l->lock();
    layers.rem(1);
    l->quit = true;
    l->signal_feed();
    l->unlock();
    LayerDeleter()(l);  // deleted once its thread has ended, never under it
  }
  screen.reset();
  plugger.close();
}
