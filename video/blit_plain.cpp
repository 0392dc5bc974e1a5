// The plain C++ kernels ("plain"): every pixel through blit_pixel.h. They define the
// bytes the SIMD kernels must give, and run wherever no SIMD set does.
#include <cstring>

#include "blit_dispatch.h"
#include "blit_pixel.h"

namespace {

template <class Pixel>
inline void each_pixel(const uint8_t *s, uint8_t *d, int n, Pixel pixel) {
  for (int i = 0; i < n; i++) pixel(s + 4 * i, d + 4 * i);
}

void copy_row(const uint8_t *s, uint8_t *d, int n, uint32_t arg) {
  const uint8_t fourth = (uint8_t)arg;
  if (!fourth) {
    memcpy(d, s, (size_t)n * 4);
    return;
  }
  each_pixel(s, d, n, [fourth](const uint8_t *a, uint8_t *b) { blitpx::copy(a, b, fourth); });
}

template <int Byte>
void channel_row(const uint8_t *s, uint8_t *d, int n, uint32_t) {
  each_pixel(s, d, n, [](const uint8_t *a, uint8_t *b) { blitpx::channel(a, b, Byte); });
}

void add_row(const uint8_t *s, uint8_t *d, int n, uint32_t) { each_pixel(s, d, n, blitpx::add); }
void sub_row(const uint8_t *s, uint8_t *d, int n, uint32_t) { each_pixel(s, d, n, blitpx::sub); }
void and_row(const uint8_t *s, uint8_t *d, int n, uint32_t) { each_pixel(s, d, n, blitpx::bit_and); }
void or_row(const uint8_t *s, uint8_t *d, int n, uint32_t) { each_pixel(s, d, n, blitpx::bit_or); }

void blend_row(const uint8_t *s, uint8_t *d, int n, uint32_t arg) {
  const int alpha = (int)(arg & 0xFF);
  const uint8_t keep = (uint8_t)(arg >> 8);
  each_pixel(s, d, n,
             [alpha, keep](const uint8_t *a, uint8_t *b) { blitpx::blend(a, b, alpha, keep); });
}

void over_row(const uint8_t *s, uint8_t *d, int n, uint32_t arg) {
  const int alpha = (int)(arg & 0xFF);
  each_pixel(s, d, n, [alpha](const uint8_t *a, uint8_t *b) { blitpx::over(a, b, alpha); });
}

void swap_rb_row(const uint8_t *s, uint8_t *d, int n, uint32_t) {
  each_pixel(s, d, n, blitpx::swap_rb);
}

void bgrx_to_yuv420(const uint8_t *bgrx, int pitch, int w, int h, uint8_t *y, uint8_t *u,
                    uint8_t *v) {
  yuvpx::frame(
      bgrx, pitch, w, h, y, u, v,
      [](const uint8_t *s, uint8_t *yo, int n) { yuvpx::luma_tail(s, yo, 0, n); },
      [](const uint8_t *l0, const uint8_t *l1, uint8_t *uo, uint8_t *vo, int cw) {
        yuvpx::chroma_tail(l0, l1, uo, vo, 0, cw);
      });
}

void pairs_to_bytes(uint8_t *p, int n) {
  for (int i = 0; i < n; i++) blitpx::pair_to_bytes(p + 8 * i);
}

void add_pair_rows(uint8_t *dst, long pitch, const uint64_t *src, int rows, int width) {
  for (int r = 0; r < rows; r++, dst += pitch, src += width)
    for (int j = 0; j < width; j++) blitpx::add_pair(dst + 8 * j, src[j]);
}

}  // namespace

extern const BlitKernels kBlitKernelsPlain = {
    "plain",
    {nullptr, copy_row, channel_row<0>, channel_row<1>, channel_row<2>, add_row, sub_row,
     and_row, or_row, blend_row},
    bgrx_to_yuv420, pairs_to_bytes, add_pair_rows, over_row, swap_rb_row,
    transform_row_plain};
