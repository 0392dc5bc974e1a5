/*  Kolvex - a frame composed band by band
 *
 *  The pixel side of compositing, apart from layers and screens: a list
 *  of steps, each one layer's visible rectangle drawn onto the target by
 *  one row kernel (blit_dispatch.h), run bottom to top. flush() cuts the
 *  target into horizontal bands small enough to stay in cache, gives each
 *  band every step in order, clipped to its rows, and shares the bands out
 *  on a worker pool: the target streams through memory once a frame
 *  instead of once a layer, on every core.
 *
 *  The guarantee: any band height and any thread count leave exactly the
 *  bytes that running each step over its whole rectangle in turn, with
 *  the same kernel set, leaves. A step writes only the target rows of its
 *  rectangle and reads only its own source, so bands never touch each
 *  other's bytes.
 */
#ifndef KOLVEX_COMPOSER_H
#define KOLVEX_COMPOSER_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "blit_dispatch.h"
#include "transform.h"

class WorkerPool;

// The surface composed onto: w x h pixels of 4 bytes, lines `pitch` bytes
// apart.
struct ComposeTarget {
  uint8_t *pixels = nullptr;
  int pitch = 0;
  int w = 0, h = 0;
};

// A transformed picture made row by row as the bands need it: rows of the
// dw x dh picture at `dst` sampled from the sw x sh frame at `src` by
// `map` (transform_bilinear), picture row 0 being target row `top`.
struct ComposeSample {
  const uint8_t *src = nullptr;
  int src_pitch = 0, sw = 0, sh = 0;
  uint8_t *dst = nullptr;
  int dst_pitch = 0, dw = 0, dh = 0;
  int top = 0;
  AffineMap map{};
};

// One layer's draw: w x h target pixels at (x, y), all inside the target,
// taken from `src` (its first visible pixel, lines `src_pitch` apart)
// through the row kernel of `mode` with `arg` as blit_dispatch.h says.
struct ComposeStep {
  static constexpr uint8_t kOver = 0xF0;   // BlitKernels::over, arg the alpha
  static constexpr uint8_t kClear = 0xF1;  // every byte of the rows 0
  uint8_t mode = BLIT_INVALID;             // BLIT_RGB .. BLIT_ALPHA, kOver, kClear
  uint32_t arg = 0;
  const uint8_t *src = nullptr;
  int src_pitch = 0;
  int x = 0, y = 0, w = 0, h = 0;
  // With sample.src set, `src` lies in sample.dst: the band's rows of the
  // picture are sampled before they are drawn.
  ComposeSample sample;

  // The whole target set to 0, bars included (SDL_FillRect's bytes).
  static ComposeStep clear(const ComposeTarget &t);
};

class Composer {
 public:
  // Target bytes a band covers by default: the band stays in a 2 MB L2
  // while the layers' rows stream over it; 256 KiB to 512 KiB ran closest
  // to the copy floor at 3840x2160 (bench_engine, compose/band_kib).
  static constexpr size_t kBandBytes = 256 * 1024;

  // A new frame onto `t`; steps still pending are dropped.
  void begin(const ComposeTarget &t);
  const ComposeTarget &target() const { return target_; }
  // Appended after the pending steps; an empty rectangle or a mode that
  // is none of the above is dropped, and so is a clear just under a
  // BLIT_RGB step that covers it (the bytes are the copy's either way).
  void add(const ComposeStep &step);
  bool empty() const { return steps_.empty(); }
  size_t pending() const { return steps_.size(); }

  // Runs the pending steps band by band on `pool` with kernel set `k`,
  // `band_rows` target rows a band (0: kBandBytes' worth, at least one
  // row), then empties the list, keeping its room. Main thread.
  void flush(WorkerPool &pool, const BlitKernels &k, int band_rows = 0);
  void flush(WorkerPool &pool) { flush(pool, blit_kernels()); }

  // The default band height for a target of lines `pitch` bytes long.
  static int band_rows_for(int pitch);

 private:
  void band(int index) const;  // one band, every step in order

  ComposeTarget target_;
  std::vector<ComposeStep> steps_;
  // Set by flush for its bands, read by them: what they share.
  const BlitKernels *kernels_ = nullptr;
  int rows_ = 1;
};

#endif
