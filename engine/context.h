/*  Kolvex - the engine context
 *
 *  Owns the screen, the layer list (position 1 on top, the last at the
 *  bottom), the on-screen display and the plug-in registry, and runs the
 *  frame loop cafudda(): start new layer threads, composite bottom to top
 *  (band by band on the worker pool, composer.h), draw the OSD, show,
 *  and in timed runs hold the frame rate and let the music player mix its
 *  next buffer.
 */
#ifndef KOLVEX_CONTEXT_H
#define KOLVEX_CONTEXT_H

#include <sys/time.h>
#include <time.h>

#include <functional>
#include <memory>
#include <vector>

#include "canvas.h"
#include "composer.h"
#include "hook.h"
#include "layer.h"
#include "linklist.h"
#include "osd.h"
#include "plugger.h"
#include "viewport.h"
#include "worker_pool.h"

class Context {
 public:
  Context();
  ~Context();

  bool init(int w, int h);  // the screen; the canvas placed on it
  // The canvas (canvas.h): w x h canvas pixels (0: the screen's), filling
  // the screen or letterboxed. Set before the layers are set up: they size
  // and place themselves by it. Placed on the screen there is now, and
  // again by init().
  void set_canvas(int w, int h, bool fill);
  // The canvas as placed; the screen itself while none is (a screen set
  // by hand, without init).
  Canvas canvas() const;
  // 0: exactly one frame. n > 0: frames until n seconds have passed.
  // n < 0: one frame followed by the rate limiter and the music update.
  void cafudda(int seconds);
  void close();  // stop and delete every listed layer, the screen, plug-ins
  // Draws the layers' latest frames again, without the OSD, without a fade
  // step and without asking any layer for its next frame: a held (paused)
  // picture changed between frames. Filters run again on it; a layer that
  // asked to be re-fed (Layer::refeed) makes its frame again first.
  void redraw();

  // The threads a frame's work is shared out on (worker_pool.h): the
  // bands of the composed screen, the transform sampler, video scaling,
  // a capture's colour conversion and pictures. 0 is the machine's cores,
  // the default; 1 does it all on the calling thread. Any count gives the
  // same bytes. Main thread, between frames.
  void set_threads(int n) { pool.set_threads(n); }
  int threads() const { return pool.threads(); }
  WorkerPool pool;

  void magnify(int m);
  void set_fps_interval(int rate);
  void calc_fps();
  void rocknroll(bool state);
  void wait_layers();  // lockstep: every drawn layer's next frame is made
  // Has each layer that asked for it (Layer::refeed) make the frame due
  // again before it is composited; with `wait`, until it is made.
  void refeed_layers(bool wait);
  // rocknroll waits this long (2 s) for a new layer's first frame; a layer
  // that has none by then is logged and drawn once it delivers.
  bool wait_first_frame(Layer *l);

  struct timeval cur_time;
  struct timeval lst_time;
  struct timespec slp_time;
  int fps_count;
  int elapsed;
  int fps_usec;
  // The rate and the microseconds a slot of fps_usec falls short of it,
  // summed: the schedule gains the missing microsecond whenever the sum
  // reaches a whole one, so frame k starts exactly k * 1000000 / rate
  // microseconds after the first at any rate.
  int fps_rate;
  int fps_rem;
  double start_time;
  bool keep_going;
  int magnification;
  bool change_magnification;
  bool skip_layers;
  Linklist layers;
  // The context's own screen: made by init(), or given (a screen without
  // a window, before the layers are set up); deleted by close().
  std::unique_ptr<ViewPort> screen;
  void set_screen(std::unique_ptr<ViewPort> s) { screen = std::move(s); }
  Osd osd;
  Plugger plugger;
  float fps;
  bool track_fps;
  bool clear_all;

  // Frames drawn since construction (each cafudda iteration counts one).
  unsigned long frames;
  // The time of the frame being drawn, in seconds: frames at the set rate
  // (not the measured one), so that the same frame has the same time on
  // every run, frame k at exactly k / rate.
  double frame_time() const { return (double)frames / fps_rate; }

  // Lockstep: after every frame the loop waits until each layer it drew
  // has made its next frame. Slower, but every frame is the same on every
  // run, whatever the machine does meanwhile (frame-exact rendering).
  bool lockstep;

  // Each frame goes to the window (screen->show). A program that takes the
  // frames another way and shows no one the window (a capture on the dummy
  // video driver) turns this off and saves the window's copy.
  bool present;

  // The per-frame hook, for a program that takes the frames (a capture, a
  // stream): called on the frame loop's thread for every frame of a timed
  // run (cafudda(n), n != 0) once the layers and the OSD are drawn, before
  // the frame is shown, while the handle on_frame.set() gave is kept
  // (hook.h). Returning false ends the run after this frame and
  // sets `ended`: from then on cafudda() returns at once and draws
  // nothing, so a programme of many steps runs out without another frame.
  Hook<bool(Context &)> on_frame;
  bool ended;

  // The window's own hook: called on the frame loop's thread for every
  // frame after on_frame has taken it and before it is shown, to draw what
  // only the window shows (a player's status line). With clear_all on,
  // the next frame is composed afresh and nothing it drew goes out.
  std::function<void(Context &)> on_show;

  // Each layer's frame as it is about to be drawn, its effects applied
  // (geo.w x geo.h, geo.pitch bytes a line): called on the frame loop's
  // thread while the layer holds its frame, so a watcher (a control
  // surface's thumbnails) may read it then, never keep it. The answer is
  // not used.
  Hook<bool(const Layer &, const void *frame)> on_layer_frame;

 private:
  void place_canvas();
  // The layers bottom to top onto the screen (and the clear, with
  // clear_all): in bands on the pool where the screen allows it.
  void compose(bool advance);
  Composer composer_;  // its step list kept from frame to frame
  std::vector<Layer *> held_;  // the frame's layers in lock order (room kept)
  Canvas canvas_;
  int canvas_w_, canvas_h_;
  bool canvas_fill_;

  Context(const Context &) = delete;
  Context &operator=(const Context &) = delete;
};

#endif
