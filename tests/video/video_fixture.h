/*  Shared by the screen and compositing tests: a headless engine of a
 *  chosen size, a draw surface fenced by guard bytes, and a plain byte-wise
 *  model of what each blit mode must leave on the screen. */
#ifndef KOLVEX_VIDEO_FIXTURE_H
#define KOLVEX_VIDEO_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "kolvex.h"
#include "test_support.h"

namespace vt {

// A started engine whose screen is w x h. Log output of the set-up is
// swallowed, unless `quiet` is false, so that the tests see only their own
// lines.
struct Engine {
  Context ctx;
  SdlScreen *screen = nullptr;
  bool ok = false;

  Engine(int w, int h, bool quiet = true) {
    if (quiet) {
      kt::StderrCapture swallow;
      ok = ctx.init(w, h);
    } else {
      ok = ctx.init(w, h);
    }
    screen = static_cast<SdlScreen *>(ctx.screen);
  }
};

// Replaces the screen's draw surface by one over our own memory, with
// guard bytes before and after it, for as long as the object lives. Any
// write off the surface, by our loops or by SDL, shows in the guards.
class GuardedSurface {
 public:
  static constexpr uint8_t kGuard = 0xA5;
  static constexpr size_t kPad = 64 * 1024;

  GuardedSurface(SdlScreen *screen, uint32_t amask = 0) : screen_(screen) {
    const size_t bytes = (size_t)screen->w * screen->h * 4;
    store_.assign(kPad * 2 + bytes, kGuard);
    surface_ = SDL_CreateRGBSurfaceFrom(pixels(), screen->w, screen->h, 32, screen->w * 4,
                                        screen->rmask, screen->gmask, screen->bmask, amask);
    saved_ = screen->draw_surface;
    if (surface_) screen->draw_surface = surface_;
  }
  ~GuardedSurface() {
    screen_->draw_surface = saved_;
    if (surface_) SDL_FreeSurface(surface_);
  }
  GuardedSurface(const GuardedSurface &) = delete;
  GuardedSurface &operator=(const GuardedSurface &) = delete;

  bool ok() const { return surface_ != nullptr; }
  uint8_t *pixels() { return store_.data() + kPad; }
  size_t bytes() const { return store_.size() - kPad * 2; }
  void fill(const std::vector<uint8_t> &picture) { memcpy(pixels(), picture.data(), bytes()); }
  // Offset of the first guard byte that changed, or -1.
  long damaged_guard() const {
    for (size_t i = 0; i < kPad; i++) {
      if (store_[i] != kGuard) return (long)i - (long)kPad;
      if (store_[kPad + bytes() + i] != kGuard) return (long)(bytes() + i);
    }
    return -1;
  }

 private:
  SdlScreen *screen_;
  SDL_Surface *saved_ = nullptr;
  SDL_Surface *surface_ = nullptr;
  std::vector<uint8_t> store_;
};

// ---------------------------------------------------------------------------
// Reference model of the direct modes, one pixel, bytes in memory order.
// The arithmetic modes read the pixel as a word whose most significant byte
// is the first byte in memory, whatever this machine's byte order.
// ---------------------------------------------------------------------------
inline uint32_t word_of(const uint8_t *b) {
  return (uint32_t)b[0] << 24 | (uint32_t)b[1] << 16 | (uint32_t)b[2] << 8 | b[3];
}

inline void bytes_of(uint32_t word, uint8_t *b) {
  b[0] = (uint8_t)(word >> 24);
  b[1] = (uint8_t)(word >> 16);
  b[2] = (uint8_t)(word >> 8);
  b[3] = (uint8_t)word;
}

// What direct mode `mode` (2..8) leaves in screen pixel `dst` for layer
// pixel `src`.
inline void model_direct(int mode, const uint8_t *src, uint8_t *dst) {
  switch (mode) {
    case BLIT_BLU: dst[0] = src[0]; break;
    case BLIT_GRE: dst[1] = src[1]; break;
    case BLIT_RED: dst[2] = src[2]; break;
    case BLIT_ADD: bytes_of(word_of(dst) + word_of(src), dst); break;
    case BLIT_SUB: bytes_of(word_of(dst) - word_of(src), dst); break;
    case BLIT_AND: for (int i = 0; i < 4; i++) dst[i] &= src[i]; break;
    case BLIT_OR: for (int i = 0; i < 4; i++) dst[i] |= src[i]; break;
    default: break;
  }
}

// The screen rectangle a layer at (x, y) of w x h covers on a sw x sh
// screen; empty (x0 >= x1 or y0 >= y1) when it covers nothing.
struct Span {
  int x0, y0, x1, y1;
  bool contains(int px, int py) const { return px >= x0 && px < x1 && py >= y0 && py < y1; }
  bool empty() const { return x0 >= x1 || y0 >= y1; }
};

inline Span on_screen(int x, int y, int w, int h, int sw, int sh) {
  Span s{x < 0 ? 0 : x, y < 0 ? 0 : y, x + w, y + h};
  if (s.x1 > sw) s.x1 = sw;
  if (s.y1 > sh) s.y1 = sh;
  return s;
}

inline int blend(int a, int src, int dst) { return (a * src + (255 - a) * dst) / 255; }

}  // namespace vt

#endif
