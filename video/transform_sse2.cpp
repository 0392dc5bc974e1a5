// The SSE2 transform sampler. SSE2 has no gather: each point's two pairs
// of neighbours, side by side in memory, are read with one 8-byte load
// each; a pair's bytes are interleaved so that one multiply-add weighs
// every channel across, and another down.
#include <immintrin.h>

#include "blit_dispatch.h"
#include "transform_pixel.h"

namespace {

// Pixels lo and hi of a line as 8 bytes; at an edge hi is lo, and the
// pixel past the line's end is not read.
inline __m128i pair(const uint8_t *line, const xformpx::Tap &x) {
  if (x.hi == x.lo + 1) return _mm_loadl_epi64((const __m128i *)(line + 4 * x.lo));
  uint32_t p;
  __builtin_memcpy(&p, line + 4 * x.lo, 4);
  const __m128i one = _mm_cvtsi32_si128((int)p);
  return _mm_unpacklo_epi32(one, one);
}

// The weights (256 - w, w) in every 16-bit pair.
inline __m128i weights(int w) { return _mm_set1_epi32((int)((uint32_t)w << 16 | (uint32_t)(256 - w))); }

// (x * weights + 128) >> 8 for interleaved 16-bit pairs: 32-bit lanes.
inline __m128i weigh(__m128i pairs, __m128i w) {
  return _mm_srli_epi32(_mm_add_epi32(_mm_madd_epi16(pairs, w), _mm_set1_epi32(128)), 8);
}

// Two points: their top pairs ta, tb and bottom pairs ba, bb, weights
// across and down. Returns their 8 channel values in 16-bit lanes.
inline __m128i two(__m128i ta, __m128i tb, __m128i ba, __m128i bb, int wxa, int wxb, int wya,
                   int wyb) {
  const __m128i zero = _mm_setzero_si128();
  // [a0 b0 a1 b1 a2 b2 a3 b3] per point, a and b the pair's pixels.
  const __m128i t = _mm_unpacklo_epi32(ta, tb), b = _mm_unpacklo_epi32(ba, bb);
  const __m128i ti = _mm_unpacklo_epi8(t, _mm_srli_si128(t, 8));
  const __m128i bi = _mm_unpacklo_epi8(b, _mm_srli_si128(b, 8));
  const __m128i top_a = weigh(_mm_unpacklo_epi8(ti, zero), weights(wxa));
  const __m128i top_b = weigh(_mm_unpackhi_epi8(ti, zero), weights(wxb));
  const __m128i bot_a = weigh(_mm_unpacklo_epi8(bi, zero), weights(wxa));
  const __m128i bot_b = weigh(_mm_unpackhi_epi8(bi, zero), weights(wxb));
  // [top bottom] interleaved per channel, then down.
  const __m128i va = weigh(_mm_unpacklo_epi16(_mm_packs_epi32(top_a, zero), _mm_packs_epi32(bot_a, zero)),
                           weights(wya));
  const __m128i vb = weigh(_mm_unpacklo_epi16(_mm_packs_epi32(top_b, zero), _mm_packs_epi32(bot_b, zero)),
                           weights(wyb));
  return _mm_packs_epi32(va, vb);
}

}  // namespace

void transform_row_sse2(const uint8_t *src, int src_pitch, int sw, int sh, uint8_t *dst, int n,
                        int32_t u, int32_t v, int32_t du, int32_t dv) {
  uint32_t uu = (uint32_t)u, vv = (uint32_t)v;  // exact: every point fits
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    __m128i top[4], bot[4];
    int wx[4], wy[4];
    for (int j = 0; j < 4; j++, uu += (uint32_t)du, vv += (uint32_t)dv) {
      const xformpx::Tap x = xformpx::tap(uu, sw), y = xformpx::tap(vv, sh);
      top[j] = pair(src + (long)y.lo * src_pitch, x);
      bot[j] = pair(src + (long)y.hi * src_pitch, x);
      wx[j] = x.weight;
      wy[j] = y.weight;
    }
    const __m128i a = two(top[0], top[1], bot[0], bot[1], wx[0], wx[1], wy[0], wy[1]);
    const __m128i b = two(top[2], top[3], bot[2], bot[3], wx[2], wx[3], wy[2], wy[3]);
    _mm_storeu_si128((__m128i *)(dst + 4 * i), _mm_packus_epi16(a, b));
  }
  xformpx::row_tail(src, src_pitch, sw, sh, dst, i, n, u, v, du, dv);
}
