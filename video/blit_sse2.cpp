// The SSE2 kernels, which every x86-64 processor runs, and the SSE2 colour
// conversion that the other x86 sets share.
#include "blit_simd.h"

namespace {

struct Sse2 : Vec128 {
  // Bytes swapped within the 16-bit words, then the words reversed.
  static V bswap32(V a) {
    const V b = swap16(a);
    return _mm_shufflehi_epi16(_mm_shufflelo_epi16(b, 0xB1), 0xB1);
  }
  static V bswap64(V a) {
    const V b = swap16(a);
    return _mm_shufflehi_epi16(_mm_shufflelo_epi16(b, 0x1B), 0x1B);
  }
  static V swap16(V a) { return _mm_or_si128(_mm_slli_epi16(a, 8), _mm_srli_epi16(a, 8)); }
};

// [a0 a2 b0 b2] + [a1 a3 b1 b3]: the sums of neighbouring 32-bit lanes.
inline __m128i pair_sums(__m128i a, __m128i b) {
  const __m128 fa = _mm_castsi128_ps(a), fb = _mm_castsi128_ps(b);
  return _mm_add_epi32(_mm_castps_si128(_mm_shuffle_ps(fa, fb, _MM_SHUFFLE(2, 0, 2, 0))),
                       _mm_castps_si128(_mm_shuffle_ps(fa, fb, _MM_SHUFFLE(3, 1, 3, 1))));
}

// Luma of 4 pixels, one per 32-bit lane: 25 b + 129 g in one product pair,
// 66 r in the other; 16 << 8 is the studio-range offset before the shift.
inline __m128i luma4(__m128i px) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i w = _mm_setr_epi16(25, 129, 66, 0, 25, 129, 66, 0);
  const __m128i lo = _mm_madd_epi16(_mm_unpacklo_epi8(px, zero), w);
  const __m128i hi = _mm_madd_epi16(_mm_unpackhi_epi8(px, zero), w);
  return _mm_srli_epi32(_mm_add_epi32(pair_sums(lo, hi), _mm_set1_epi32(128 + (16 << 8))), 8);
}

void luma_row(const uint8_t *s, uint8_t *y, int w) {
  int x = 0;
  for (; x + 16 <= w; x += 16) {
    const uint8_t *p = s + 4 * x;
    const __m128i a = _mm_packs_epi32(luma4(Vec128::load(p)), luma4(Vec128::load(p + 16)));
    const __m128i b = _mm_packs_epi32(luma4(Vec128::load(p + 32)), luma4(Vec128::load(p + 48)));
    Vec128::store(y + x, _mm_packus_epi16(a, b));
  }
  yuvpx::luma_tail(s, y, x, w);
}

// Channel means of two 2x2 blocks, from 4 pixels of each line: lanes 0-3
// the first block's blue, green, red, fourth, lanes 4-7 the second's.
inline __m128i block_means(__m128i a, __m128i b) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i lo = _mm_add_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero));
  const __m128i hi = _mm_add_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero));
  const __m128i sum = _mm_add_epi16(_mm_unpacklo_epi64(lo, hi), _mm_unpackhi_epi64(lo, hi));
  return _mm_srli_epi16(_mm_add_epi16(sum, _mm_set1_epi16(2)), 2);
}

// One chroma plane's values for 4 blocks, weights (blue, green, red, 0).
inline __m128i chroma4(__m128i m01, __m128i m23, __m128i w) {
  const __m128i sum = pair_sums(_mm_madd_epi16(m01, w), _mm_madd_epi16(m23, w));
  return _mm_srai_epi32(_mm_add_epi32(sum, _mm_set1_epi32(128 + (128 << 8))), 8);
}

void chroma_row(const uint8_t *l0, const uint8_t *l1, uint8_t *u, uint8_t *v, int cw) {
  const __m128i wu = _mm_setr_epi16(112, -74, -38, 0, 112, -74, -38, 0);
  const __m128i wv = _mm_setr_epi16(-18, -94, 112, 0, -18, -94, 112, 0);
  int x = 0;
  for (; x + 4 <= cw; x += 4) {
    const __m128i m01 = block_means(Vec128::load(l0 + 8 * x), Vec128::load(l1 + 8 * x));
    const __m128i m23 = block_means(Vec128::load(l0 + 8 * x + 16), Vec128::load(l1 + 8 * x + 16));
    const __m128i uv = _mm_packs_epi32(chroma4(m01, m23, wu), chroma4(m01, m23, wv));
    const __m128i bytes = _mm_packus_epi16(uv, uv);
    const int32_t u4 = _mm_cvtsi128_si32(bytes), v4 = _mm_cvtsi128_si32(_mm_srli_si128(bytes, 4));
    memcpy(u + x, &u4, 4);
    memcpy(v + x, &v4, 4);
  }
  yuvpx::chroma_tail(l0, l1, u, v, x, cw);
}

}  // namespace

void bgrx_to_yuv420_sse2(const uint8_t *bgrx, int pitch, int w, int h, uint8_t *y, uint8_t *u,
                         uint8_t *v) {
  yuvpx::frame(bgrx, pitch, w, h, y, u, v, luma_row, chroma_row);
}

extern const BlitKernels kBlitKernelsSse2 = make_kernels<Sse2>("sse2", bgrx_to_yuv420_sse2,
                                                               transform_row_sse2);
