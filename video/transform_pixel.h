/*  Kolvex - one pixel of the transform sampler, in plain C++
 *
 *  Defines the bytes: the plain kernel loops over it and the SIMD kernels
 *  finish their rows with it. Internal to video/.
 *
 *  The point (u, v) is 16.16 fixed point from the picture's top-left
 *  corner, inside it. Pixel centres lie half a pixel in, so the point is
 *  moved back half a pixel; the four pixels around it are weighed by the
 *  8 fraction bits below the integer part, across first, then down, each
 *  step rounded to the nearest byte. Points within half a pixel of an
 *  edge take that edge's pixels twice.
 */
#ifndef KOLVEX_TRANSFORM_PIXEL_H
#define KOLVEX_TRANSFORM_PIXEL_H

#include <stdint.h>

namespace xformpx {

struct Tap {
  int lo, hi;  // neighbouring pixel indices, edges repeated
  int weight;  // of hi, 0..255; lo weighs 256 - weight
};

// Along one axis of n pixels; t is the coordinate (0 <= t < n << 16).
static inline Tap tap(uint32_t t, int n) {
  const uint32_t s = t + 0x8000u;  // half a pixel back, kept unsigned
  const int i = (int)(s >> 16) - 1;
  Tap k;
  k.lo = i < 0 ? 0 : i;
  k.hi = i + 1 > n - 1 ? n - 1 : i + 1;
  k.weight = (int)((s >> 8) & 0xFF);
  return k;
}

static inline int mix(int a, int b, int w) { return (a * (256 - w) + b * w + 128) >> 8; }

static inline void sample(const uint8_t *src, int pitch, int sw, int sh, uint32_t u, uint32_t v,
                          uint8_t *out) {
  const Tap x = tap(u, sw), y = tap(v, sh);
  const uint8_t *r0 = src + (long)y.lo * pitch, *r1 = src + (long)y.hi * pitch;
  const uint8_t *a = r0 + 4 * x.lo, *b = r0 + 4 * x.hi, *c = r1 + 4 * x.lo, *d = r1 + 4 * x.hi;
  for (int i = 0; i < 4; i++)
    out[i] = (uint8_t)mix(mix(a[i], b[i], x.weight), mix(c[i], d[i], x.weight), y.weight);
}

// Pixels from..n-1 of a row (the kernels' tails and the plain kernel).
static inline void row_tail(const uint8_t *src, int pitch, int sw, int sh, uint8_t *dst, int from,
                            int n, int32_t u, int32_t v, int32_t du, int32_t dv) {
  for (int i = from; i < n; i++)
    sample(src, pitch, sw, sh, (uint32_t)((int64_t)u + (int64_t)i * du),
           (uint32_t)((int64_t)v + (int64_t)i * dv), dst + 4 * i);
}

}  // namespace xformpx

#endif
