// The AVX2 transform sampler (compiled with -mavx2): eight points a turn,
// their neighbours gathered, their indices clamped in vectors. Only the
// dispatcher's processor check lets it run.
#include <immintrin.h>

#include "blit_dispatch.h"
#include "transform_pixel.h"

namespace {

// transform_pixel.h's mix on 16-bit lanes (pixels widened, two a 128
// bits, a weight a lane): the sums stay within 16 bits unsigned, 255 * 256
// + 128 at most.
inline __m256i mix16(__m256i a, __m256i b, __m256i w) {
  const __m256i full = _mm256_set1_epi16(256), round = _mm256_set1_epi16(128);
  const __m256i sum = _mm256_add_epi16(_mm256_mullo_epi16(a, _mm256_sub_epi16(full, w)),
                                       _mm256_mullo_epi16(b, w));
  return _mm256_srli_epi16(_mm256_add_epi16(sum, round), 8);
}

// The sampled pixels of a..d (top-left, top-right, bottom-left,
// bottom-right neighbours, widened), wx and wy their weights per lane.
inline __m256i bilinear16(__m256i a, __m256i b, __m256i c, __m256i d, __m256i wx, __m256i wy) {
  return mix16(mix16(a, b, wx), mix16(c, d, wx), wy);
}

// xformpx::tap on eight coordinates: byte offsets of the low and high
// neighbours (times `stride`) and the high one's weight.
struct Taps {
  __m256i lo, hi, weight;
};
inline Taps taps(__m256i t, int n, int stride) {
  const __m256i one = _mm256_set1_epi32(1);
  const __m256i s = _mm256_add_epi32(t, _mm256_set1_epi32(0x8000));
  const __m256i i = _mm256_sub_epi32(_mm256_srli_epi32(s, 16), one);
  const __m256i by = _mm256_set1_epi32(stride);
  Taps k;
  k.lo = _mm256_mullo_epi32(_mm256_max_epi32(i, _mm256_setzero_si256()), by);
  k.hi = _mm256_mullo_epi32(_mm256_min_epi32(_mm256_add_epi32(i, one), _mm256_set1_epi32(n - 1)),
                            by);
  k.weight = _mm256_and_si256(_mm256_srli_epi32(s, 8), _mm256_set1_epi32(0xFF));
  return k;
}

inline __m256i gather(const uint8_t *src, __m256i offsets) {
  return _mm256_i32gather_epi32((const int *)src, offsets, 1);
}

// Each pixel's weight in the four 16-bit lanes of its channels, in the
// order unpacklo/unpackhi_epi8 widen the pixels.
inline void spread(__m256i w, __m256i *lo, __m256i *hi) {
  const __m256i both = _mm256_or_si256(w, _mm256_slli_epi32(w, 16));
  *lo = _mm256_unpacklo_epi32(both, both);
  *hi = _mm256_unpackhi_epi32(both, both);
}

}  // namespace

void transform_row_avx2(const uint8_t *src, int src_pitch, int sw, int sh, uint8_t *dst, int n,
                        int32_t u, int32_t v, int32_t du, int32_t dv) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  // Wrapping 32-bit sums: exact for every point inside the row.
  __m256i uu = _mm256_add_epi32(_mm256_set1_epi32(u), _mm256_mullo_epi32(lane, _mm256_set1_epi32(du)));
  __m256i vv = _mm256_add_epi32(_mm256_set1_epi32(v), _mm256_mullo_epi32(lane, _mm256_set1_epi32(dv)));
  const __m256i ustep = _mm256_set1_epi32((int32_t)((uint32_t)du * 8u));
  const __m256i vstep = _mm256_set1_epi32((int32_t)((uint32_t)dv * 8u));
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    const Taps x = taps(uu, sw, 4), y = taps(vv, sh, src_pitch);
    const __m256i p[4] = {gather(src, _mm256_add_epi32(y.lo, x.lo)),
                          gather(src, _mm256_add_epi32(y.lo, x.hi)),
                          gather(src, _mm256_add_epi32(y.hi, x.lo)),
                          gather(src, _mm256_add_epi32(y.hi, x.hi))};
    __m256i wx_lo, wx_hi, wy_lo, wy_hi;
    spread(x.weight, &wx_lo, &wx_hi);
    spread(y.weight, &wy_lo, &wy_hi);
    const __m256i a = bilinear16(
        _mm256_unpacklo_epi8(p[0], zero), _mm256_unpacklo_epi8(p[1], zero),
        _mm256_unpacklo_epi8(p[2], zero), _mm256_unpacklo_epi8(p[3], zero), wx_lo, wy_lo);
    const __m256i b = bilinear16(
        _mm256_unpackhi_epi8(p[0], zero), _mm256_unpackhi_epi8(p[1], zero),
        _mm256_unpackhi_epi8(p[2], zero), _mm256_unpackhi_epi8(p[3], zero), wx_hi, wy_hi);
    _mm256_storeu_si256((__m256i *)(dst + 4 * i), _mm256_packus_epi16(a, b));
    uu = _mm256_add_epi32(uu, ustep);
    vv = _mm256_add_epi32(vv, vstep);
  }
  xformpx::row_tail(src, src_pitch, sw, sh, dst, i, n, u, v, du, dv);
}
