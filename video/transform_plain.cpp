// The plain C++ transform sampler: every pixel through transform_pixel.h.
// It defines the bytes the SIMD samplers must give.
#include "blit_dispatch.h"
#include "transform_pixel.h"

void transform_row_plain(const uint8_t *src, int src_pitch, int sw, int sh, uint8_t *dst, int n,
                         int32_t u, int32_t v, int32_t du, int32_t dv) {
  xformpx::row_tail(src, src_pitch, sw, sh, dst, 0, n, u, v, du, dv);
}
