/*  Kolvex - the screen
 *
 *  ViewPort is the abstract screen the engine talks to; SdlScreen is its
 *  implementation. The geometry describes the unmagnified picture.
 */
#ifndef KOLVEX_VIEWPORT_H
#define KOLVEX_VIEWPORT_H

#include <cstdint>

class Layer;

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

  int32_t w = 0;
  int32_t h = 0;
  int32_t bpp = 0;
  int32_t size = 0;
  int32_t pitch = 0;
  int32_t magnification = 0;
};

#endif
