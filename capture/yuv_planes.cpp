#include "yuv_planes.h"

#include <cstring>
#include <vector>

#include "yuv420.h"  // the engine's dispatched kernel

namespace capture {

void bgrx_to_yuv420(const uint8_t *bgrx, int pitch, int w, int h, uint8_t *const planes[3],
                    const int strides[3]) {
  const int cw = w / 2;
  if (strides[0] == w && strides[1] == cw && strides[2] == cw &&
      planes[1] == planes[0] + (long)w * h && planes[2] == planes[1] + (long)cw * (h / 2)) {
    kolvex_bgrx_to_yuv420(bgrx, pitch, w, h, planes[0], planes[1], planes[2]);
    return;
  }
  // Padded or scattered planes: two lines at a time through a packed slice.
  std::vector<uint8_t> slice((size_t)w * 2 + (size_t)cw * 2);
  uint8_t *y = slice.data(), *u = y + 2 * w, *v = u + cw;
  for (int row = 0; row < h; row += 2) {
    kolvex_bgrx_to_yuv420(bgrx + (long)row * pitch, pitch, w, 2, y, u, v);
    memcpy(planes[0] + (long)row * strides[0], y, w);
    memcpy(planes[0] + (long)(row + 1) * strides[0], y + w, w);
    memcpy(planes[1] + (long)(row / 2) * strides[1], u, cw);
    memcpy(planes[2] + (long)(row / 2) * strides[2], v, cw);
  }
}

}  // namespace capture
