/*  Kolvex - the screen
 *
 *  ViewPort is the abstract screen the engine talks to; SdlScreen is its
 *  implementation. The geometry describes the unmagnified picture.
 */
#ifndef KOLVEX_VIEWPORT_H
#define KOLVEX_VIEWPORT_H

#include <cstdint>

class Layer;
struct ComposeStep;
struct ComposeTarget;

class ViewPort {
 public:
  ViewPort() {}
  virtual ~ViewPort() {}

  // Slot order matters to callers: keep it.
  virtual bool init(int w, int h) = 0;
  virtual void set_magnification(int algo) = 0;  // 0 off, 1 scale2x, 2 scale3x
  virtual void blit(Layer *layer) = 0;
  virtual void crop(Layer *layer) = 0;
  virtual void show() = 0;
  virtual void clear() = 0;
  virtual void *get_surface() = 0;
  virtual void fullscreen() = 0;
  virtual bool lock() = 0;
  virtual bool unlock() = 0;
  virtual void *coords(int x, int y) = 0;  // no bounds check
  // Band compositing (composer.h). The surface the frame is composed on,
  // when the engine may write it from any thread; false: every layer is
  // drawn by blit(), the screen cleared by clear().
  virtual bool compose_target(ComposeTarget *) { return false; }
  // The layer's blit() as a step onto that surface: true with *step set
  // (an empty one draws nothing), false when only blit() can draw it.
  // Called where blit() would be, on the frame loop's thread.
  virtual bool band_step(Layer *, ComposeStep *) { return false; }

  int32_t w = 0;
  int32_t h = 0;
  int32_t bpp = 0;
  int32_t size = 0;
  int32_t pitch = 0;
  int32_t magnification = 0;

  // Where layers may draw: the canvas's rectangle on the screen (the
  // engine sets it). A width below 0 is the whole screen.
  struct Area {
    int32_t x = 0, y = 0, w = -1, h = -1;
  } area;
  // The area within the screen: x0, y0 inclusive, x1, y1 exclusive.
  void drawable(int32_t &x0, int32_t &y0, int32_t &x1, int32_t &y1) const {
    if (area.w < 0) {
      x0 = y0 = 0, x1 = w, y1 = h;
      return;
    }
    x0 = area.x < 0 ? 0 : area.x;
    y0 = area.y < 0 ? 0 : area.y;
    x1 = area.x + area.w > w ? w : area.x + area.w;
    y1 = area.y + area.h > h ? h : area.y + area.h;
  }
};

#endif
