/*  Kolvex - the SDL screen
 *
 *  A 32-bit SDL 1.2 video surface. Layers are composited into draw_surface,
 *  which is the video surface itself unless magnification is on; then it is
 *  a separate surface of the unmagnified size that show() scales into the
 *  enlarged window (scale2x / scale3x).
 */
#ifndef KOLVEX_SDL_SCREEN_H
#define KOLVEX_SDL_SCREEN_H

#include <SDL.h>

#include "viewport.h"

class SdlScreen : public ViewPort {
 public:
  SdlScreen();
  ~SdlScreen() override;  // SDL_Quit

  bool init(int w, int h) override;
  void set_magnification(int algo) override;
  void blit(Layer *layer) override;
  void crop(Layer *layer) override;
  void show() override;
  void clear() override;
  void *get_surface() override;
  void fullscreen() override;
  bool lock() override;
  bool unlock() override;
  void *coords(int x, int y) override;
  bool compose_target(ComposeTarget *t) override;
  bool band_step(Layer *layer, ComposeStep *step) override;

  // Sets the video mode; the bpp SDL_VideoModeOK reports, 0 on failure.
  int setres(int w, int h);

  SDL_Surface *video_surface;
  SDL_Surface *draw_surface;
  SDL_Surface *emulated_surface;
  uint32_t video_flags;
  // The layer pixel format (bytes blue, green, red, fourth) as SDL masks.
  uint32_t bmask, gmask, rmask, amask;
};

#endif
