// The AVX2 kernels (compiled with -mavx2): 8 pixels a vector. Only the
// dispatcher's processor check lets anything here run.
#include "blit_simd.h"

namespace {

struct Avx2 {
  typedef __m256i V;
  static constexpr int kPixels = 8;
  static V load(const uint8_t *p) { return _mm256_loadu_si256((const __m256i *)p); }
  static void store(uint8_t *p, V v) { _mm256_storeu_si256((__m256i *)p, v); }
  static V set8(uint8_t x) { return _mm256_set1_epi8((char)x); }
  static V set16(uint16_t x) { return _mm256_set1_epi16((short)x); }
  static V set32(uint32_t x) { return _mm256_set1_epi32((int)x); }
  static V and_(V a, V b) { return _mm256_and_si256(a, b); }
  static V andnot(V a, V b) { return _mm256_andnot_si256(a, b); }
  static V or_(V a, V b) { return _mm256_or_si256(a, b); }
  static V xor_(V a, V b) { return _mm256_xor_si256(a, b); }
  static V add16(V a, V b) { return _mm256_add_epi16(a, b); }
  static V sub16(V a, V b) { return _mm256_sub_epi16(a, b); }
  static V mullo16(V a, V b) { return _mm256_mullo_epi16(a, b); }
  static V srl16(V a) { return _mm256_srli_epi16(a, 8); }
  static V avg8(V a, V b) { return _mm256_avg_epu8(a, b); }
  static V add32(V a, V b) { return _mm256_add_epi32(a, b); }
  static V sub32(V a, V b) { return _mm256_sub_epi32(a, b); }
  static V add64(V a, V b) { return _mm256_add_epi64(a, b); }
  static V srl32(V a, int n) { return _mm256_srli_epi32(a, n); }
  static V sll32(V a, int n) { return _mm256_slli_epi32(a, n); }
  static V bswap32(V a) {
    const V order = _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12, 3, 2,
                                     1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
    return _mm256_shuffle_epi8(a, order);
  }
  static V bswap64(V a) {
    const V order = _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6,
                                     5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8);
    return _mm256_shuffle_epi8(a, order);
  }
};

// --- the colour conversion, 8 pixels a vector -------------------------------
// The SSE2 conversion's arithmetic (blit_sse2.cpp) on both 128-bit halves;
// AVX2 packs within each half, so the packed results are put back in
// order with one 32-bit permutation.

// [a0 a2 b0 b2 | a4 a6 b4 b6] + [a1 a3 b1 b3 | a5 a7 b5 b7].
inline __m256i pair_sums(__m256i a, __m256i b) {
  const __m256 fa = _mm256_castsi256_ps(a), fb = _mm256_castsi256_ps(b);
  return _mm256_add_epi32(
      _mm256_castps_si256(_mm256_shuffle_ps(fa, fb, _MM_SHUFFLE(2, 0, 2, 0))),
      _mm256_castps_si256(_mm256_shuffle_ps(fa, fb, _MM_SHUFFLE(3, 1, 3, 1))));
}

// Luma of 8 pixels, one per 32-bit lane, in order.
inline __m256i luma8(__m256i px) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i w = _mm256_setr_epi16(25, 129, 66, 0, 25, 129, 66, 0, 25, 129, 66, 0, 25, 129,
                                      66, 0);
  const __m256i lo = _mm256_madd_epi16(_mm256_unpacklo_epi8(px, zero), w);
  const __m256i hi = _mm256_madd_epi16(_mm256_unpackhi_epi8(px, zero), w);
  return _mm256_srli_epi32(
      _mm256_add_epi32(pair_sums(lo, hi), _mm256_set1_epi32(128 + (16 << 8))), 8);
}

void luma_row(const uint8_t *s, uint8_t *y, int w) {
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  int x = 0;
  for (; x + 32 <= w; x += 32) {
    const uint8_t *p = s + 4 * x;
    const __m256i a = _mm256_packs_epi32(luma8(Avx2::load(p)), luma8(Avx2::load(p + 32)));
    const __m256i b = _mm256_packs_epi32(luma8(Avx2::load(p + 64)), luma8(Avx2::load(p + 96)));
    Avx2::store(y + x, _mm256_permutevar8x32_epi32(_mm256_packus_epi16(a, b), order));
  }
  yuvpx::luma_tail(s, y, x, w);
}

// Channel means of four 2x2 blocks from 8 pixels of each line: lanes 0-3
// blue, green, red, fourth of the first block, ... lanes 12-15 the fourth's.
inline __m256i block_means(__m256i a, __m256i b) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i lo = _mm256_add_epi16(_mm256_unpacklo_epi8(a, zero), _mm256_unpacklo_epi8(b, zero));
  const __m256i hi = _mm256_add_epi16(_mm256_unpackhi_epi8(a, zero), _mm256_unpackhi_epi8(b, zero));
  const __m256i sum =
      _mm256_add_epi16(_mm256_unpacklo_epi64(lo, hi), _mm256_unpackhi_epi64(lo, hi));
  return _mm256_srli_epi16(_mm256_add_epi16(sum, _mm256_set1_epi16(2)), 2);
}

// One chroma plane's values for 8 blocks: [0 1 4 5 | 2 3 6 7].
inline __m256i chroma8(__m256i m0, __m256i m1, __m256i w) {
  const __m256i sum = pair_sums(_mm256_madd_epi16(m0, w), _mm256_madd_epi16(m1, w));
  return _mm256_srai_epi32(_mm256_add_epi32(sum, _mm256_set1_epi32(128 + (128 << 8))), 8);
}

void chroma_row(const uint8_t *l0, const uint8_t *l1, uint8_t *u, uint8_t *v, int cw) {
  const __m256i wu = _mm256_setr_epi16(112, -74, -38, 0, 112, -74, -38, 0, 112, -74, -38, 0, 112,
                                       -74, -38, 0);
  const __m256i wv = _mm256_setr_epi16(-18, -94, 112, 0, -18, -94, 112, 0, -18, -94, 112, 0, -18,
                                       -94, 112, 0);
  // After the packs: bytes u0 u1 u4 u5 v0 v1 v4 v5 | u2 u3 u6 u7 v2 v3 v6 v7.
  const __m256i halves = _mm256_setr_epi32(0, 4, 1, 5, 0, 4, 1, 5);
  const __m128i order = _mm_setr_epi8(0, 1, 4, 5, 2, 3, 6, 7, 8, 9, 12, 13, 10, 11, 14, 15);
  int x = 0;
  for (; x + 8 <= cw; x += 8) {
    const __m256i m0 = block_means(Avx2::load(l0 + 8 * x), Avx2::load(l1 + 8 * x));
    const __m256i m1 = block_means(Avx2::load(l0 + 8 * x + 32), Avx2::load(l1 + 8 * x + 32));
    const __m256i uv = _mm256_packs_epi32(chroma8(m0, m1, wu), chroma8(m0, m1, wv));
    const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(uv, uv), halves);
    const __m128i both = _mm_shuffle_epi8(_mm256_castsi256_si128(bytes), order);
    _mm_storel_epi64((__m128i *)(u + x), both);
    _mm_storel_epi64((__m128i *)(v + x), _mm_unpackhi_epi64(both, both));
  }
  yuvpx::chroma_tail(l0, l1, u, v, x, cw);
}

void bgrx_to_yuv420_avx2(const uint8_t *bgrx, int pitch, int w, int h, uint8_t *y, uint8_t *u,
                         uint8_t *v) {
  yuvpx::frame(bgrx, pitch, w, h, y, u, v, luma_row, chroma_row);
}

}  // namespace

extern const BlitKernels kBlitKernelsAvx2 = make_kernels<Avx2>("avx2", bgrx_to_yuv420_avx2,
                                                               transform_row_avx2);
