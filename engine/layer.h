/*  Kolvex - layer base
 *
 *  A layer is a picture source: it produces frames of its own size with
 *  feed() on its own thread (run(), the feed loop) and the frame loop
 *  composites its latest frame once per frame with cafudda(): filters,
 *  fade step, transform (layer_transform.h), blit in the layer's mode.
 *
 *  Frames are 32 bits per pixel, bytes blue, green, red, fourth byte.
 */
#ifndef KOLVEX_LAYER_H
#define KOLVEX_LAYER_H

#include <SDL.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

#include <string>

#include "blit.h"
#include "fade.h"
#include "geometry.h"
#include "jsync.h"
#include "layer_blend.h"
#include "layer_transform.h"
#include "linklist.h"
#include "params.h"

class Composer;
class Context;

class Layer : public Entry, public JSyncThread, public Parametric {
 public:
  Layer();
  virtual ~Layer();

  // Virtual slots after the thread base's destructor: run, then these.
  void run() override;                       // the feed loop
  virtual bool open(const char *file) = 0;   // a kind without a file returns true
  virtual bool init(Context *env) = 0;       // calls _init
  virtual void close() = 0;
  virtual bool keypress(SDL_keysym *key) = 0;
  virtual void *feed() = 0;                  // next frame, or null
  // What its last key or setting changed, for a status line ("speed
  // 1.25x"); "" when it tells nothing.
  virtual std::string said() const { return ""; }

  // Composite this layer for the current frame. Called by the frame loop
  // with the engine's layer list locked; true when drawn. Without
  // `advance` the frame is drawn again as it stands: no fade step, and the
  // thread is not asked for its next frame.
  bool cafudda(bool advance = true);
  // cafudda in three parts, for a frame composed in bands (composer.h)
  // whose loop holds every drawn layer's frame until the bands are drawn:
  // hold() takes the frame's locks of a layer that draws this frame (the
  // loop takes them in one fixed order, whatever the stack's, so no two
  // frames take them the other way round); compose() does cafudda's work
  // up to the draw and adds the draw to `c` (flushing `c` first and
  // drawing whole where it cannot be a band step), true when drawn;
  // release() lets the frame go as cafudda does, once `c` is flushed.
  void hold();
  bool compose(Composer &c, bool advance = true);
  void release(bool advance = true);

  void setname(const char *text);  // first 3 characters
  const char *get_name() { return name; }
  void set_blit(int code) { blit = (uint8_t)code; }
  const char *get_blit();
  // A blend of the layer's own, used instead of the blit mode while set
  // (layer_blend.h); the layer owns it, null goes back to the blit mode.
  // Main thread, between frames.
  void set_blend(std::unique_ptr<LayerBlend> b) { blender = std::move(b); }
  void set_blend(LayerBlend *b) { blender.reset(b); }  // takes it
  LayerBlend *get_blend() const { return blender.get(); }
  LayerBlend *take_blend() { return blender.release(); }  // the caller owns it
  void set_alpha(int a);           // clamped 0..255, also writes alpha_name
  void set_filename(const char *path);
  // Top-left corner in canvas pixels (Context::canvas), under the general
  // lock, then crop.
  void set_position(int x, int y);
  // Scale (0.01..16), clockwise turn in degrees (taken modulo 360) and fit
  // to the canvas, applied to the filtered frame before its blit or blend;
  // placement as layer_transform.h says. Main thread, between frames: the
  // next frame step shows them.
  void set_scale(double s) { transform.set_scale(s); }
  void set_rotation(double degrees) { transform.set_rotation(degrees); }
  void set_fit(Fit f) { transform.set_fit(f); }
  double get_scale() const { return transform.scale(); }
  double get_rotation() const { return transform.rotation(); }
  Fit get_fit() const { return transform.fit(); }

  // Fades (fade.h), stepped by cafudda(advance=true). Main thread,
  // between frames, like the setters above.
  // fade_out: the alpha moves from where it is to `target` (0..255) and
  // ends on it, 0 included, in the ALPHA mode; a layer with its own blend
  // keeps it and the alpha applies to the blend. A plain mode shows the
  // layer whole, so the fade starts at 255. The first fade out remembers
  // the layer's look (mode and alpha); later ones keep that first look.
  // fade_in: the same up (or down) to `target`, -1 being the look's alpha
  // (255 without one). A fade in that ends on the look's alpha gives its
  // mode back and forgets it; one from a plain mode remembers that mode.
  // seconds < 0: one alpha step a frame. seconds >= 0: linear over
  // round(seconds * env->fps_rate) frames, frame k of n at
  // round(start + (target - start) * k / n); 0 is the target next frame.
  void fade_out(int target = 0, double seconds = -1);
  void fade_in(int target = -1, double seconds = -1);
  bool fading() const { return fade.running(); }
  // From a fade out until a fade in starts, the target reached or not: what
  // a toggle asks. stop_fade() ends it too.
  bool fading_out() const { return fading_out_; }
  // The fade ends where it is and the look is forgotten: for a caller about
  // to set the alpha or the mode by hand, which then stays.
  void stop_fade();

  // What the layer was made from (a file's path, "layer_gen",
  // "frei0r.NAME:SETTINGS"), as its maker names it: users call a layer by
  // it. Empty when made by hand.
  std::string source;

  // Parameters (params.h), main thread: the base's rows (alpha, blit, pos,
  // shown, the fades), then the kind's own (kind_params). layer_params.cpp.
  const ParamTable &params() const final;
  virtual const ParamTable &kind_params() const;
  static const ParamTable &base_params();  // the base's rows, for lists
  // The blend the layer was given (OVER, a frei0r mixer) while it shows one
  // of the nine modes: the blit parameter brings it back by its name.
  // Empty when it has none.
  std::string own_blend() const;
  // Where set_position put it, in canvas pixels; its centred place until then.
  void position(int &x, int &y) const;

  // Another layer's settings, for a layer that takes its place (a new
  // source): mode, alpha, blends (own and parked), the fade under way and
  // the look it remembers, a position set by hand (a centred layer stays
  // centred), scale, rotation and fit, hidden, and its effects, moved over and set up again for
  // this layer's size (one that refuses it is left off, logged). Both set
  // up (init); `from`'s thread stopped. Main thread, between frames.
  void take_settings(Layer &from);

  // Ends the layer's thread: sets quit, signals it and waits until it has
  // left its loop, signalling again meanwhile (a wake-up sent while feed()
  // was busy is lost). False, with an error line, when the thread is still
  // running after `timeout` seconds; such a layer must not be deleted
  // (LayerDeleter).
  bool stop(double timeout = 5.0);

  uint8_t blit;
  uint8_t alpha;
  Linklist filters;
  ScreenGeometry geo;
  std::atomic<bool> active;
  std::atomic<bool> quit;
  std::atomic<bool> running;
  bool late;  // started, gave no first frame in time (main thread only)
  bool hidden;
  SDL_Rect rect;
  BlitClip clip;
  void *blit_buffer;
  Context *env;
  char filename[256];
  std::atomic<void *> feed_buffer;
  char name[4];
  char alpha_name[4];
  void *buffer;

  // Lockstep (Context::lockstep): frames cafudda has asked of the feed
  // thread, and frames it has delivered since its first one. wait_fed()
  // returns once every asked-for frame is there, or the thread has ended.
  uint64_t feeds_asked;
  std::atomic<uint64_t> feeds_done;
  void wait_fed();

  // The composed frame (Context::frames) the next feed() is for: set by
  // cafudda before it signals, so a kind that shows a clock (a video) knows
  // its time without reading the frame loop's counter while it moves.
  std::atomic<uint64_t> frame_asked;

  // The thread makes each frame one frame ahead. A kind whose frames are a
  // function of the frame number (a video, a frei0r source) calls refeed()
  // from a main-thread setter that makes the frame made ahead wrong: the
  // frame loop then has that frame made again, for the same frame number,
  // before it composites it, so the change shows in the frame it is made
  // for. Kinds that step on every feed (an animation) must not call it.
  void refeed() { refeed_wanted = true; }
  // The frame loop, before compositing: asks the thread for the frame due
  // (Context::frames) once more when refeed() was called since; true when
  // asked. A layer whose thread has not started yet keeps the request.
  bool feed_again();

 private:
  pthread_cond_t fed_cond;  // the feed thread has made a frame (feed lock)
  std::atomic<bool> refeed_wanted;
  std::unique_ptr<LayerBlend> blender;
  std::unique_ptr<LayerBlend> parked_;  // own_blend() while a mode shows
  mutable ParamTable params_;
  mutable std::string params_own_;      // own_blend() params_ was made for
  bool pos_set_ = false;
  int pos_x_ = 0, pos_y_ = 0;
  friend struct LayerParams;
  void *filter_frame;  // the filter chain's copy of the frame
  uint32_t filter_frame_size;
  void *filter_copy(const void *frame);
  // The fade, and how the layer looked before a fade out (main thread).
  struct Look {
    uint8_t blit, alpha;
  };
  Fade fade;
  std::optional<Look> look;
  bool fading_out_ = false;
  void enter_fade(bool out);
  void start_fade(int target, double seconds);
  void step_fade();  // the frame's alpha; a fade in back to the look ends it
  LayerTransform transform;
  // Between hold() and release(): locked, then fed once the frame was
  // taken (the thread is asked for the next one on release).
  enum class Held : uint8_t { no, locked, fed };
  Held held_ = Held::no;
  bool prepare(bool advance);  // the held frame taken, filtered and faded
  // blit_buffer through the blit mode or the blend: as a step of `c`
  // where it can be one; else `c` flushed and drawn whole.
  void draw(Composer *c);
  bool band_step(ComposeStep *step);
  void draw_transformed(Composer *c);  // the transformed picture in its place
  void ask_next();   // the thread makes the next frame

 protected:
  // Geometry, centring in the canvas, crop and buffer. w, h are screen
  // pixels: a kind passes its natural size times the canvas's scale; 0 is
  // the canvas's size on the screen. A width whose line would not fit the
  // 16-bit pitch is cut to one that does (16383 at 32 bpp), logged.
  void _init(Context *env, int w, int h, int bpp);
};

// Ownership of a layer: its thread is stopped before it is deleted. One
// whose thread will not stop is leaked, with a line, rather than destroyed
// under the thread.
struct LayerDeleter {
  double timeout = 5.0;  // seconds the thread is given (Layer::stop)
  void operator()(Layer *layer) const;
};
using LayerPtr = std::unique_ptr<Layer, LayerDeleter>;

#endif
