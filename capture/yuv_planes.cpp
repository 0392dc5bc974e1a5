#include "yuv_planes.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "worker_pool.h"
#include "yuv420.h"  // the engine's dispatched kernel

namespace capture {

namespace {

// A few pieces a thread: one that finishes late holds the others up less.
// A piece converts at least this many bytes of the frame: a small frame's
// share of a wake-up would cost more than the work.
constexpr int kPiecesPerThread = 4;
constexpr long kMinPieceBytes = 256 * 1024;

// Lines [row, end) (both even) of the frame into the planes; `slice`
// holds two packed lines (w * 3 bytes) where the planes' lines are padded.
void convert_lines(Yuv420Fn kernel, const uint8_t *bgrx, int pitch, int w, int row, int end,
                   uint8_t *const planes[3], const int strides[3], uint8_t *slice) {
  const int cw = w / 2;
  const uint8_t *from = bgrx + (long)row * pitch;
  if (!slice) {
    kernel(from, pitch, w, end - row, planes[0] + (long)row * w, planes[1] + (long)(row / 2) * cw,
           planes[2] + (long)(row / 2) * cw);
    return;
  }
  uint8_t *y = slice, *u = y + 2 * w, *v = u + cw;
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
  const long by_size = std::max(1L, (long)pairs * 2 * w * 4 / kMinPieceBytes);
  const int pieces =
      threads > 1 ? (int)std::min({(long)pairs, (long)threads * kPiecesPerThread, by_size}) : 1;
  const int cw = w / 2;
  const bool packed = strides[0] == w && strides[1] == cw && strides[2] == cw;
  // The padded case's packed lines, one pair a piece, made here once: the
  // pieces allocate nothing.
  std::vector<uint8_t> slices(packed ? 0 : (size_t)pieces * w * 3);
  auto slice = [&](int i) { return packed ? nullptr : slices.data() + (size_t)i * w * 3; };
  if (pieces <= 1) {
    convert_lines(kernel, bgrx, pitch, w, 0, h, planes, strides, slice(0));
    return;
  }
  pool->run(pieces, [&](int i) {
    const int first = (int)((long)pairs * i / pieces), last = (int)((long)pairs * (i + 1) / pieces);
    convert_lines(kernel, bgrx, pitch, w, first * 2, last * 2, planes, strides, slice(i));
  });
}

}  // namespace capture
