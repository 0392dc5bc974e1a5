/*  Kolvex capture - colour conversion
 *
 *  Layer-format frames (bytes blue, green, red, fourth) to 4:2:0 YUV,
 *  BT.601 studio range, each chroma sample the mean of a 2x2 block
 *  (centred siting), as y4m streams and the video encoders take them:
 *  the engine's kernel (kolvex_bgrx_to_yuv420) into planes of any layout.
 */
#ifndef KOLVEX_CAPTURE_YUV_PLANES_H
#define KOLVEX_CAPTURE_YUV_PLANES_H

#include <cstdint>

namespace capture {

// planes: y (w x h), u and v ((w/2) x (h/2)), `strides` bytes a line;
// w and h even.
void bgrx_to_yuv420(const uint8_t *bgrx, int pitch, int w, int h, uint8_t *const planes[3],
                    const int strides[3]);

// The same into packed planes: y has w*h bytes, u and v (w/2)*(h/2) each.
inline void bgrx_to_yuv420(const uint8_t *bgrx, int pitch, int w, int h, uint8_t *y, uint8_t *u,
                           uint8_t *v) {
  uint8_t *const planes[3] = {y, u, v};
  const int strides[3] = {w, w / 2, w / 2};
  bgrx_to_yuv420(bgrx, pitch, w, h, planes, strides);
}

}  // namespace capture

#endif
