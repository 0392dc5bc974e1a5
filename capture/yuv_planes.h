/*  Kolvex capture - colour conversion
 *
 *  Layer-format frames (bytes blue, green, red, fourth) to 4:2:0 YUV,
 *  BT.601 studio range, each chroma sample the mean of a 2x2 block
 *  (centred siting), as y4m streams and the video encoders take them:
 *  the engine's kernel (kolvex_bgrx_to_yuv420) into planes of any layout.
 *
 *  Given the engine's worker pool (worker_pool.h) the frame is cut into
 *  pieces of whole pairs of lines, a few for each thread, each piece
 *  converting its own lines into the planes: the same bytes as one call,
 *  on any number of threads.
 */
#ifndef KOLVEX_CAPTURE_YUV_PLANES_H
#define KOLVEX_CAPTURE_YUV_PLANES_H

#include <cstdint>

#include "blit_dispatch.h"

class WorkerPool;

namespace capture {

// planes: y (w x h), u and v ((w/2) x (h/2)), `strides` bytes a line;
// w and h even. `pool`: the lines shared out on it (null: all on the
// calling thread). `kernel`: a kernel set's conversion (blit_dispatch.h)
// in place of the one in use.
void bgrx_to_yuv420(const uint8_t *bgrx, int pitch, int w, int h, uint8_t *const planes[3],
                    const int strides[3], WorkerPool *pool = nullptr, Yuv420Fn kernel = nullptr);

// The same into packed planes: y has w*h bytes, u and v (w/2)*(h/2) each.
inline void bgrx_to_yuv420(const uint8_t *bgrx, int pitch, int w, int h, uint8_t *y, uint8_t *u,
                           uint8_t *v, WorkerPool *pool = nullptr) {
  uint8_t *const planes[3] = {y, u, v};
  const int strides[3] = {w, w / 2, w / 2};
  bgrx_to_yuv420(bgrx, pitch, w, h, planes, strides, pool);
}

}  // namespace capture

#endif
