// The SSE2 transform sampler: the neighbours of four points fetched one by
// one (SSE2 has no gather), weighed four pixels a turn in 16-bit lanes.
#include <immintrin.h>

#include "blit_dispatch.h"
#include "transform_pixel.h"
#include "transform_simd.h"

namespace {

struct Lanes {
  typedef __m128i V;
  static V set16(uint16_t x) { return _mm_set1_epi16((short)x); }
  static V add16(V a, V b) { return _mm_add_epi16(a, b); }
  static V sub16(V a, V b) { return _mm_sub_epi16(a, b); }
  static V mullo16(V a, V b) { return _mm_mullo_epi16(a, b); }
  static V srl16(V a) { return _mm_srli_epi16(a, 8); }
};

inline uint32_t load32(const uint8_t *p) {
  uint32_t x;
  __builtin_memcpy(&x, p, 4);
  return x;
}

// Each pixel's weight in the four 16-bit lanes of its channels.
inline void spread(__m128i w, __m128i *lo, __m128i *hi) {
  const __m128i both = _mm_or_si128(w, _mm_slli_epi32(w, 16));
  *lo = _mm_unpacklo_epi32(both, both);
  *hi = _mm_unpackhi_epi32(both, both);
}

}  // namespace

void transform_row_sse2(const uint8_t *src, int src_pitch, int sw, int sh, uint8_t *dst, int n,
                        int32_t u, int32_t v, int32_t du, int32_t dv) {
  const __m128i zero = _mm_setzero_si128();
  uint32_t uu = (uint32_t)u, vv = (uint32_t)v;  // exact: every point fits
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    uint32_t q[4][4];  // by neighbour, then pixel
    int wx[4], wy[4];
    for (int j = 0; j < 4; j++, uu += (uint32_t)du, vv += (uint32_t)dv) {
      const xformpx::Tap x = xformpx::tap(uu, sw), y = xformpx::tap(vv, sh);
      const uint8_t *r0 = src + (long)y.lo * src_pitch, *r1 = src + (long)y.hi * src_pitch;
      q[0][j] = load32(r0 + 4 * x.lo);
      q[1][j] = load32(r0 + 4 * x.hi);
      q[2][j] = load32(r1 + 4 * x.lo);
      q[3][j] = load32(r1 + 4 * x.hi);
      wx[j] = x.weight;
      wy[j] = y.weight;
    }
    __m128i lo[4], hi[4];
    for (int k = 0; k < 4; k++) {
      const __m128i p = _mm_set_epi32((int)q[k][3], (int)q[k][2], (int)q[k][1], (int)q[k][0]);
      lo[k] = _mm_unpacklo_epi8(p, zero);
      hi[k] = _mm_unpackhi_epi8(p, zero);
    }
    __m128i wx_lo, wx_hi, wy_lo, wy_hi;
    spread(_mm_set_epi32(wx[3], wx[2], wx[1], wx[0]), &wx_lo, &wx_hi);
    spread(_mm_set_epi32(wy[3], wy[2], wy[1], wy[0]), &wy_lo, &wy_hi);
    const __m128i a = bilinear16<Lanes>(lo[0], lo[1], lo[2], lo[3], wx_lo, wy_lo);
    const __m128i b = bilinear16<Lanes>(hi[0], hi[1], hi[2], hi[3], wx_hi, wy_hi);
    _mm_storeu_si128((__m128i *)(dst + 4 * i), _mm_packus_epi16(a, b));
  }
  xformpx::row_tail(src, src_pitch, sw, sh, dst, i, n, u, v, du, dv);
}
