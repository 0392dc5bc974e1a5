/*  Kolvex - one pixel of every blit row kernel, in plain C++
 *
 *  These define the bytes: the plain C++ kernels are loops over them, and
 *  the SIMD kernels finish their rows' last pixels with them. Pixels are
 *  four bytes at any address (memcpy loads). Internal to video/.
 */
#ifndef KOLVEX_BLIT_PIXEL_H
#define KOLVEX_BLIT_PIXEL_H

#include <stdint.h>
#include <string.h>

#include "blit.h"

namespace blitpx {

static inline uint32_t load(const uint8_t *p) {
  uint32_t v;
  memcpy(&v, p, 4);
  return v;
}

static inline void store(uint8_t *p, uint32_t v) { memcpy(p, &v, 4); }

// BLIT_RGB: the pixel, `fourth` ORed into its fourth byte.
static inline void copy(const uint8_t *s, uint8_t *d, uint8_t fourth) {
  memcpy(d, s, 4);
  d[3] |= fourth;
}

// BLIT_BLU, BLIT_GRE, BLIT_RED: byte `byte` (0, 1, 2) of s into d.
static inline void channel(const uint8_t *s, uint8_t *d, int byte) { d[byte] = s[byte]; }

// BLIT_ADD, BLIT_SUB: whole pixel words, first byte in memory on top.
static inline void add(const uint8_t *s, uint8_t *d) {
  store(d, pixel_word(pixel_word(load(d)) + pixel_word(load(s))));
}
static inline void sub(const uint8_t *s, uint8_t *d) {
  store(d, pixel_word(pixel_word(load(d)) - pixel_word(load(s))));
}

static inline void bit_and(const uint8_t *s, uint8_t *d) { store(d, load(d) & load(s)); }
static inline void bit_or(const uint8_t *s, uint8_t *d) { store(d, load(d) | load(s)); }

// BLIT_ALPHA: each colour byte d + ((s - d) * alpha >> 8), the shift
// rounding down (an arithmetic shift of the signed product); the fourth
// byte is d's ANDed with `keep`.
static inline void blend(const uint8_t *s, uint8_t *d, int alpha, uint8_t keep) {
  for (int i = 0; i < 3; i++) d[i] = (uint8_t)(d[i] + (((int)s[i] - d[i]) * alpha >> 8));
  d[3] &= keep;
}

// OVER: the layer pixel's own alpha (its fourth byte) times the layer's
// alpha widened to 0..256, over 256, widened again to 0..256, so that 255
// and 255 give the layer pixel exactly and either at 0 leaves the screen;
// each colour byte then becomes d + ((s - d) * a >> 8) as in the blend.
// The screen's fourth byte stays.
static inline int over_weight(int pixel_alpha, int layer_alpha) {
  const int a = pixel_alpha * (layer_alpha + (layer_alpha >> 7)) >> 8;
  return a + (a >> 7);
}
static inline void over(const uint8_t *s, uint8_t *d, int layer_alpha) {
  const int a = over_weight(s[3], layer_alpha);
  for (int i = 0; i < 3; i++) d[i] = (uint8_t)(d[i] + (((int)s[i] - d[i]) * a >> 8));
}

// Red and blue trade places (BGRA <-> RGBA); s may be d.
static inline void swap_rb(const uint8_t *s, uint8_t *d) {
  const uint8_t b = s[0], g = s[1], r = s[2], a = s[3];
  d[0] = r;
  d[1] = g;
  d[2] = b;
  d[3] = a;
}

// dst += v for a native 64-bit number at any address.
static inline void add_pair(uint8_t *dst, uint64_t v) {
  uint64_t m;
  memcpy(&m, dst, 8);
  m += v;
  memcpy(dst, &m, 8);
}

// A native 64-bit number at p turned into its pixel pair's bytes.
static inline void pair_to_bytes(uint8_t *p) {
  uint64_t v;
  memcpy(&v, p, 8);
  v = pair_word(v);
  memcpy(p, &v, 8);
}

}  // namespace blitpx

// BT.601 studio range in 8-bit fixed point (kolvex_bgrx_to_yuv420). The
// offsets keep every intermediate positive, so the shifts are divisions.
namespace yuvpx {

static inline uint8_t luma(const uint8_t *p) {
  return (uint8_t)(((66 * p[2] + 129 * p[1] + 25 * p[0] + 128) >> 8) + 16);
}

// The chroma pair of the 2x2 block whose left pixels are a (upper line)
// and b (lower line).
static inline void chroma(const uint8_t *a, const uint8_t *b, uint8_t *u, uint8_t *v) {
  const int bl = (a[0] + a[4] + b[0] + b[4] + 2) >> 2;
  const int gr = (a[1] + a[5] + b[1] + b[5] + 2) >> 2;
  const int rd = (a[2] + a[6] + b[2] + b[6] + 2) >> 2;
  *u = (uint8_t)((112 * bl - 38 * rd - 74 * gr + 128 + (128 << 8)) >> 8);
  *v = (uint8_t)((112 * rd - 94 * gr - 18 * bl + 128 + (128 << 8)) >> 8);
}

// The frame walk, a pair of lines at a time while both are in the cache:
// luma_row(line, y, w) for each, then chroma_row(line, next line, u, v,
// w / 2) for the pair.
template <class LumaRow, class ChromaRow>
static inline void frame(const uint8_t *bgrx, int pitch, int w, int h, uint8_t *y, uint8_t *u,
                  uint8_t *v, LumaRow luma_row, ChromaRow chroma_row) {
  const int cw = w / 2;
  for (int row = 0; row < h; row += 2) {
    const uint8_t *l0 = bgrx + (long)row * pitch;
    luma_row(l0, y + (long)row * w, w);
    if (row + 1 == h) break;
    luma_row(l0 + pitch, y + (long)(row + 1) * w, w);
    chroma_row(l0, l0 + pitch, u + (long)(row / 2) * cw, v + (long)(row / 2) * cw, cw);
  }
}

static inline void luma_tail(const uint8_t *s, uint8_t *y, int from, int w) {
  for (int x = from; x < w; x++) y[x] = luma(s + 4 * x);
}

static inline void chroma_tail(const uint8_t *l0, const uint8_t *l1, uint8_t *u, uint8_t *v,
                               int from, int cw) {
  for (int x = from; x < cw; x++) chroma(l0 + 8 * x, l1 + 8 * x, u + x, v + x);
}

}  // namespace yuvpx

#endif
