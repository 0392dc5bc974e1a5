// The SSSE3 kernels (compiled with -mssse3): SSE2's, with one byte shuffle
// turning the arithmetic modes' pixel words round.
#include "blit_simd.h"

namespace {

struct Ssse3 : Vec128 {
  static V bswap32(V a) {
    return _mm_shuffle_epi8(a, _mm_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12));
  }
  static V bswap64(V a) {
    return _mm_shuffle_epi8(a, _mm_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8));
  }
};

}  // namespace

extern const BlitKernels kBlitKernelsSsse3 = make_kernels<Ssse3>("ssse3", bgrx_to_yuv420_sse2,
                                                                 transform_row_sse2);
