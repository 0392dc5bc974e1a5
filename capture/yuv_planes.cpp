#include "yuv_planes.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "worker_pool.h"
#include "yuv420.h"  // the engine's dispatched kernel

namespace capture {

namespace {

// A few pieces a thread: one that finishes late holds the others up less.
constexpr int kPiecesPerThread = 4;

// Lines [row, end) (both even) of the frame into the planes.
void convert_lines(Yuv420Fn kernel, const uint8_t *bgrx, int pitch, int w, int row, int end,
                   uint8_t *const planes[3], const int strides[3]) {
  const int cw = w / 2;
  const uint8_t *from = bgrx + (long)row * pitch;
  if (strides[0] == w && strides[1] == cw && strides[2] == cw) {
    kernel(from, pitch, w, end - row, planes[0] + (long)row * w, planes[1] + (long)(row / 2) * cw,
           planes[2] + (long)(row / 2) * cw);
    return;
  }
  // Padded lines: two at a time through a packed slice.
  std::vector<uint8_t> slice((size_t)w * 2 + (size_t)cw * 2);
  uint8_t *y = slice.data(), *u = y + 2 * w, *v = u + cw;
  for (; row < end; row += 2, from += 2L * pitch) {
    kernel(from, pitch, w, 2, y, u, v);
    memcpy(planes[0] + (long)row * strides[0], y, w);
    memcpy(planes[0] + (long)(row + 1) * strides[0], y + w, w);
    memcpy(planes[1] + (long)(row / 2) * strides[1], u, cw);
    memcpy(planes[2] + (long)(row / 2) * strides[2], v, cw);
  }
}

}  // namespace

void bgrx_to_yuv420(const uint8_t *bgrx, int pitch, int w, int h, uint8_t *const planes[3],
                    const int strides[3], WorkerPool *pool, Yuv420Fn kernel) {
  if (!kernel) kernel = kolvex_bgrx_to_yuv420;
  const int pairs = h / 2;
  const int threads = pool ? pool->threads() : 1;
  const int pieces = threads > 1 ? std::min(pairs, threads * kPiecesPerThread) : 1;
  if (pieces <= 1) {
    convert_lines(kernel, bgrx, pitch, w, 0, h, planes, strides);
    return;
  }
  pool->run(pieces, [&](int i) {
    const int first = (int)((long)pairs * i / pieces), last = (int)((long)pairs * (i + 1) / pieces);
    convert_lines(kernel, bgrx, pitch, w, first * 2, last * 2, planes, strides);
  });
}

}  // namespace capture
