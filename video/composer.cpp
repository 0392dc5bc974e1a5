#include "composer.h"

#include <algorithm>
#include <cstring>

#include "worker_pool.h"

ComposeStep ComposeStep::clear(const ComposeTarget &t) {
  ComposeStep s;
  s.mode = kClear;
  s.w = t.w;
  s.h = t.h;
  return s;
}

namespace {

bool covers(const ComposeStep &a, const ComposeStep &b) {
  return a.x <= b.x && a.y <= b.y && a.x + a.w >= b.x + b.w && a.y + a.h >= b.y + b.h;
}

}  // namespace

void Composer::begin(const ComposeTarget &t) {
  target_ = t;
  steps_.clear();
}

void Composer::add(const ComposeStep &step) {
  const bool known = (step.mode >= BLIT_RGB && step.mode <= BLIT_ALPHA) ||
                     step.mode == ComposeStep::kOver || step.mode == ComposeStep::kClear;
  if (!known || step.w <= 0 || step.h <= 0) return;
  // A copy sets every byte it covers: a clear just under it would be a
  // frame's worth of memory written for nothing (a clip filling the screen).
  if (step.mode == BLIT_RGB && !steps_.empty() && steps_.back().mode == ComposeStep::kClear &&
      covers(step, steps_.back()))
    steps_.pop_back();
  steps_.push_back(step);
}

int Composer::band_rows_for(int pitch) {
  if (pitch <= 0) return 1;
  return std::max(1, (int)(kBandBytes / (size_t)pitch));
}

void Composer::flush(WorkerPool &pool, const BlitKernels &k, int band_rows) {
  if (steps_.empty() || target_.h <= 0) {
    steps_.clear();
    return;
  }
  kernels_ = &k;
  rows_ = band_rows > 0 ? band_rows : band_rows_for(target_.pitch);
  const int bands = (target_.h + rows_ - 1) / rows_;
  // Only `this` captured: the function keeps it without allocating.
  pool.run(bands, [this](int i) { band(i); });
  steps_.clear();
}

void Composer::band(int index) const {
  const int b0 = index * rows_, b1 = std::min(target_.h, b0 + rows_);
  for (const ComposeStep &s : steps_) {
    const int y0 = std::max(b0, s.y), y1 = std::min(b1, s.y + s.h);
    if (y1 <= y0) continue;
    uint8_t *dst = target_.pixels + (long)y0 * target_.pitch + (long)s.x * 4;
    if (s.mode == ComposeStep::kClear) {
      for (int y = y0; y < y1; y++, dst += target_.pitch) memset(dst, 0, (size_t)s.w * 4);
      continue;
    }
    if (s.sample.src) {
      // The picture's rows behind these target rows; the map's row start
      // moves with them, so each row is the one a whole sampling makes.
      const ComposeSample &p = s.sample;
      const int r0 = y0 - p.top, r1 = std::min(p.dh, y1 - p.top);
      if (r1 > r0) {
        AffineMap m = p.map;
        m.u += r0 * m.du_dy;
        m.v += r0 * m.dv_dy;
        transform_bilinear(*kernels_, p.src, p.src_pitch, p.sw, p.sh,
                           p.dst + (long)r0 * p.dst_pitch, p.dst_pitch, p.dw, r1 - r0, m);
      }
    }
    const BlitRowFn row = s.mode == ComposeStep::kOver ? kernels_->over : kernels_->row[s.mode];
    blit_rows_with(row, s.src + (long)(y0 - s.y) * s.src_pitch, s.src_pitch, dst, target_.pitch,
                   s.w, y1 - y0, s.arg);
  }
}
