#include "yuv420.h"

namespace capture {

// 8-bit fixed point. The offsets keep every intermediate positive, so the
// shifts are plain divisions. Luma and chroma are separate straight loops
// over rows that cannot overlap (__restrict), so that the compiler
// vectorises both (CMakeLists.txt lets it at -O2).
static inline uint8_t luma(int r, int g, int b) {
  return (uint8_t)(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
}

static void luma_row(const uint8_t *__restrict s, uint8_t *__restrict y, int w) {
  for (int x = 0; x < w; x++) y[x] = luma(s[4 * x + 2], s[4 * x + 1], s[4 * x]);
}

static void chroma_row(const uint8_t *__restrict l0, const uint8_t *__restrict l1,
                       uint8_t *__restrict u, uint8_t *__restrict v, int cw) {
  for (int x = 0; x < cw; x++) {
    const uint8_t *a = l0 + 8 * x, *b = l1 + 8 * x;
    const int bl = (a[0] + a[4] + b[0] + b[4] + 2) >> 2;
    const int gr = (a[1] + a[5] + b[1] + b[5] + 2) >> 2;
    const int rd = (a[2] + a[6] + b[2] + b[6] + 2) >> 2;
    u[x] = (uint8_t)((112 * bl - 38 * rd - 74 * gr + 128 + (128 << 8)) >> 8);
    v[x] = (uint8_t)((112 * rd - 94 * gr - 18 * bl + 128 + (128 << 8)) >> 8);
  }
}

void bgrx_to_yuv420(const uint8_t *bgrx, int pitch, int w, int h, uint8_t *const planes[3],
                    const int strides[3]) {
  for (int row = 0; row < h; row++)
    luma_row(bgrx + (long)row * pitch, planes[0] + (long)row * strides[0], w);
  for (int row = 0; row < h; row += 2) {
    const uint8_t *l0 = bgrx + (long)row * pitch;
    chroma_row(l0, l0 + pitch, planes[1] + (long)(row / 2) * strides[1],
               planes[2] + (long)(row / 2) * strides[2], w / 2);
  }
}

}  // namespace capture
