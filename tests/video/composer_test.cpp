// The band compositor gives the bytes of drawing each layer over its whole
// rectangle in turn: any band height, any thread count, every kernel set,
// with layers crossing bands and edges, the clear and a turned picture
// sampled band by band. Guard rows and line padding stay untouched.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "composer.h"
#include "test_support.h"
#include "worker_pool.h"

namespace {

constexpr int kW = 997, kH = 150, kPad = 12;       // target, bytes past each line
constexpr int kPitch = kW * 4 + kPad, kGuard = 3;  // guard rows above and below

struct Layer {
  int x, y, w, h;  // where it lies on the target, before clipping
  uint8_t mode;
  uint32_t arg;
};

// Bottom to top. Off every edge, one row, one column, inside a band,
// across many, empty; every mode's kernel, OVER, and the clear midway.
const Layer kStack[] = {
    {0, 0, kW, kH, BLIT_RGB, 0},
    {-40, -7, 300, 60, BLIT_ADD, 0},
    {kW - 100, kH - 20, 180, 90, BLIT_SUB, 0},
    {5, 33, 1, 100, BLIT_AND, 0},
    {0, 77, kW, 1, BLIT_OR, 0},
    {-3, 10, kW + 9, 41, BLIT_BLU, 0},
    {400, -50, 77, kH + 100, BLIT_GRE, 0},
    {7, 64, 64, 5, BLIT_RED, 0},
    {60, 20, 500, 111, BLIT_ALPHA, blit_blend_arg(77, 0xFF)},
    {300, 3, 400, 140, BLIT_ALPHA, blit_blend_arg(128, 0)},
    {-10, 40, 200, 200, ComposeStep::kOver, 200},
    {20, 20, 0, 50, BLIT_ADD, 0},
    {kW, 10, 30, 30, BLIT_RGB, 0xFF},
    {500, 60, 300, 30, ComposeStep::kClear, 0},
    {510, 65, 200, 200, BLIT_RGB, 0xFF},
    {100, 100, 400, 40, ComposeStep::kOver, 255},
};

struct Frames {
  std::vector<std::vector<uint8_t>> layers;  // each w x h, tightly packed
  std::vector<uint8_t> picture;              // the turned layer's frame
  std::vector<uint8_t> screen;               // kGuard rows, kH rows, kGuard rows
};

ComposeTarget target_of(std::vector<uint8_t> &screen) {
  return ComposeTarget{screen.data() + kGuard * kPitch, kPitch, kW, kH};
}

// A layer clipped to the target, as the screen's crop gives it.
ComposeStep step_of(const Layer &l, const uint8_t *frame) {
  ComposeStep s;
  s.mode = l.mode;
  s.arg = l.arg;
  const int x0 = std::max(0, l.x), y0 = std::max(0, l.y);
  const int x1 = std::min(kW, l.x + l.w), y1 = std::min(kH, l.y + l.h);
  s.x = x0, s.y = y0, s.w = x1 - x0, s.h = y1 - y0;
  s.src_pitch = l.w * 4;
  s.src = frame + (long)(y0 - l.y) * s.src_pitch + (long)(x0 - l.x) * 4;
  return s;
}

// A 90 x 70 picture scaled 1.6 and turned 30 degrees, its box starting
// above and left of the target, drawn by ADD.
constexpr int kPw = 90, kPh = 70;
ComposeSample turned(const std::vector<uint8_t> &picture, std::vector<uint8_t> &into) {
  PicturePlacement p;
  p.sx = p.sy = 1.6;
  p.degrees = 30;
  double bw, bh;
  transformed_size(kPw, kPh, p, &bw, &bh);
  ComposeSample s;
  s.src = picture.data();
  s.src_pitch = kPw * 4;
  s.sw = kPw, s.sh = kPh;
  s.dw = (int)bw + 1, s.dh = (int)bh + 1;
  s.dst_pitch = s.dw * 4;
  into.assign((size_t)s.dst_pitch * s.dh, 0);
  s.dst = into.data();
  s.top = -9;
  p.cx = s.dw / 2.0, p.cy = s.dh / 2.0;
  s.map = transform_map(kPw, kPh, p);
  return s;
}
constexpr int kTurnedX = -13;

std::vector<ComposeStep> steps(Frames &f, std::vector<uint8_t> &turned_pixels,
                               const ComposeTarget &t) {
  std::vector<ComposeStep> out;
  for (size_t i = 0; i < std::size(kStack); i++) {
    const Layer &l = kStack[i];
    if (l.mode == ComposeStep::kClear) {
      out.push_back(ComposeStep::clear(t));
      out.back().x = l.x, out.back().y = l.y, out.back().w = l.w, out.back().h = l.h;
      continue;
    }
    out.push_back(step_of(l, f.layers[i].data()));
    if (i == 8) {  // the turned picture right after the first blend
      const ComposeSample s = turned(f.picture, turned_pixels);
      ComposeStep st = step_of({kTurnedX, s.top, s.dw, s.dh, BLIT_ADD, 0}, s.dst);
      st.sample = s;
      out.push_back(st);
    }
  }
  return out;
}

Frames frames() {
  Frames f;
  uint32_t seed = 11;
  for (const Layer &l : kStack) f.layers.push_back(kt::noise((size_t)std::max(l.w, 0) * std::max(l.h, 0) * 4, seed++));
  f.picture = kt::noise((size_t)kPw * kPh * 4, seed++);
  f.screen = kt::noise((size_t)kPitch * (kH + 2 * kGuard), seed++);
  return f;
}

// The whole-frame path: each step over its whole rectangle in turn.
std::vector<uint8_t> whole(Frames f, const BlitKernels &k) {
  const ComposeTarget t = target_of(f.screen);
  std::vector<uint8_t> turned_pixels;
  for (const ComposeStep &s : steps(f, turned_pixels, t)) {
    if (s.w <= 0 || s.h <= 0) continue;
    uint8_t *dst = t.pixels + (long)s.y * t.pitch + (long)s.x * 4;
    if (s.mode == ComposeStep::kClear) {
      for (int y = 0; y < s.h; y++) std::fill_n(dst + (long)y * t.pitch, s.w * 4, 0);
      continue;
    }
    if (s.sample.src)
      transform_bilinear(k, s.sample.src, s.sample.src_pitch, s.sample.sw, s.sample.sh,
                         s.sample.dst, s.sample.dst_pitch, s.sample.dw, s.sample.dh, s.sample.map);
    blit_rows_with(s.mode == ComposeStep::kOver ? k.over : k.row[s.mode], s.src, s.src_pitch, dst,
                   t.pitch, s.w, s.h, s.arg);
  }
  return f.screen;
}

}  // namespace

TEST(Composer, BandsGiveTheWholeFrameBytes) {
  const BlitKernels *sets[kBlitKernelSetsMax];
  const int n = blit_kernel_sets(sets, kBlitKernelSetsMax);
  const Frames start = frames();
  // 1 row, odd, the default (several bands of this target), taller than it.
  const int kBandRows[] = {1, 7, 0, kH + 50};
  ASSERT_LT(Composer::band_rows_for(kPitch), kH / 2);
  const int kThreads[] = {1, 2, 3, 200};  // 200: more threads than most band counts
  Composer c;
  for (int i = 0; i < n; i++) {
    const std::vector<uint8_t> want = whole(start, *sets[i]);
    ASSERT_NE(want, start.screen);
    for (int threads : kThreads) {
      WorkerPool pool(threads);
      for (int rows : kBandRows) {
        Frames f = start;
        std::vector<uint8_t> turned_pixels;
        const ComposeTarget t = target_of(f.screen);
        c.begin(t);
        for (const ComposeStep &s : steps(f, turned_pixels, t)) c.add(s);
        c.flush(pool, *sets[i], rows);
        EXPECT_TRUE(c.empty());
        EXPECT_TRUE(f.screen == want)
            << sets[i]->name << ", " << threads << " threads, band rows " << rows;
      }
    }
  }
}
