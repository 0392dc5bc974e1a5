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

}  // namespace

extern const BlitKernels kBlitKernelsAvx2 = make_kernels<Avx2>("avx2", bgrx_to_yuv420_sse2);
