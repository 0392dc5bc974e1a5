// The band compositor leaves the bytes of drawing each layer over its
// whole rectangle in turn: any band height, any thread count, every kernel
// set, layers crossing bands and edges, the clear, a turned picture
// sampled band by band; guard rows and line padding untouched.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "composer.h"
#include "test_support.h"
#include "worker_pool.h"

namespace {

constexpr int kW = 997, kH = 150, kPitch = kW * 4 + 12, kGuard = 3;  // 12 bytes of padding
constexpr uint8_t kTurned = 0xEE;  // a 90 x 70 picture scaled 1.6, turned 30 degrees, by ADD

struct Layer {
  int x, y, w, h;  // on the target, before clipping
  uint8_t mode;
  uint32_t arg;
};
// Bottom to top: off every edge, one row, one column, inside a band,
// across many, empty, every mode's kernel, OVER, clears midway (under
// copies that cover them or not quite).
const Layer kStack[] = {
    {0, 0, kW, kH, BLIT_RGB, 0},         {-40, -7, 300, 60, BLIT_ADD, 0},
    {kW - 100, kH - 20, 180, 90, BLIT_SUB, 0}, {5, 33, 1, 100, BLIT_AND, 0},
    {0, 77, kW, 1, BLIT_OR, 0},          {-3, 10, kW + 9, 41, BLIT_BLU, 0},
    {400, -50, 77, kH + 100, BLIT_GRE, 0}, {7, 64, 64, 5, BLIT_RED, 0},
    {60, 20, 500, 111, BLIT_ALPHA, blit_blend_arg(77, 0xFF)},
    {-13, -9, 182, 171, kTurned, 0},
    {300, 3, 400, 140, BLIT_ALPHA, blit_blend_arg(128, 0)},
    {-10, 40, 200, 200, ComposeStep::kOver, 200}, {20, 20, 0, 50, BLIT_ADD, 0},
    {kW, 10, 30, 30, BLIT_RGB, 0xFF},     {500, 60, 300, 30, ComposeStep::kClear, 0},
    {510, 65, 200, 200, BLIT_RGB, 0xFF},  {100, 100, 400, 40, ComposeStep::kOver, 255},
    {0, 120, kW, 20, ComposeStep::kClear, 0}, {-5, 125, kW + 10, 40, BLIT_RGB, 0},
    {30, 0, 90, kH, ComposeStep::kClear, 0}, {30, -1, 90, kH + 1, BLIT_RGB, 0xFF},
};

// The target (between guard rows), the layers' frames and their steps.
struct Scene {
  std::vector<uint8_t> screen = kt::noise((size_t)kPitch * (kH + 2 * kGuard), 1);
  std::vector<std::vector<uint8_t>> frames;
  std::vector<uint8_t> turned;  // the sampled picture
  std::vector<ComposeStep> steps;
  ComposeTarget target() { return {screen.data() + kGuard * kPitch, kPitch, kW, kH}; }

  Scene() {
    uint32_t seed = 2;
    for (const Layer &l : kStack) {
      const bool turn = l.mode == kTurned;
      frames.push_back(kt::noise(turn ? 90 * 70 * 4 : (size_t)l.w * l.h * 4, seed++));
      if (turn) turned.assign((size_t)l.w * l.h * 4, 0);
      ComposeStep s;
      s.mode = turn ? (uint8_t)BLIT_ADD : l.mode;
      s.arg = l.arg;
      const int x0 = std::max(0, l.x), y0 = std::max(0, l.y);
      s.x = x0, s.y = y0, s.w = std::min(kW, l.x + l.w) - x0, s.h = std::min(kH, l.y + l.h) - y0;
      s.src_pitch = l.w * 4;
      s.src = (turn ? turned.data() : frames.back().data()) + (long)(y0 - l.y) * s.src_pitch +
              (long)(x0 - l.x) * 4;
      if (turn) {
        PicturePlacement p;
        p.sx = p.sy = 1.6;
        p.degrees = 30;
        p.cx = l.w / 2.0, p.cy = l.h / 2.0;
        s.sample = {frames.back().data(), 90 * 4, 90, 70, turned.data(), l.w * 4, l.w, l.h, l.y,
                    transform_map(90, 70, p)};
      }
      steps.push_back(s);
    }
  }
};

// The whole-frame path: each step over its whole rectangle in turn.
std::vector<uint8_t> whole(const BlitKernels &k) {
  Scene sc;
  const ComposeTarget t = sc.target();
  for (const ComposeStep &s : sc.steps) {
    uint8_t *dst = t.pixels + (long)s.y * t.pitch + (long)s.x * 4;
    for (int y = 0; s.mode == ComposeStep::kClear && y < s.h; y++)
      std::fill_n(dst + (long)y * t.pitch, s.w * 4, 0);
    if (s.w <= 0 || s.h <= 0 || s.mode == ComposeStep::kClear) continue;
    const ComposeSample &p = s.sample;
    if (p.src)
      transform_bilinear(k, p.src, p.src_pitch, p.sw, p.sh, p.dst, p.dst_pitch, p.dw, p.dh, p.map);
    blit_rows_with(s.mode == ComposeStep::kOver ? k.over : k.row[s.mode], s.src, s.src_pitch, dst,
                   t.pitch, s.w, s.h, s.arg);
  }
  return sc.screen;
}

}  // namespace

TEST(Composer, BandsGiveTheWholeFrameBytes) {
  const BlitKernels *sets[kBlitKernelSetsMax];
  const int n = blit_kernel_sets(sets, kBlitKernelSetsMax);
  ASSERT_LT(Composer::band_rows_for(kPitch), kH / 2);  // the default cuts several bands
  Composer c;
  for (int i = 0; i < n; i++) {
    const std::vector<uint8_t> want = whole(*sets[i]);
    ASSERT_NE(want, Scene().screen);
    for (int threads : {1, 2, 3, 9}) {  // 9: more threads than bands
      WorkerPool pool(threads);
      for (int rows : {1, 7, 0, kH + 50}) {  // one row, odd, default, taller than the target
        Scene sc;
        c.begin(sc.target());
        for (const ComposeStep &s : sc.steps) c.add(s);
        c.flush(pool, *sets[i], rows);
        EXPECT_TRUE(c.empty());
        EXPECT_TRUE(sc.screen == want)
            << sets[i]->name << ", " << threads << " threads, " << rows << " rows";
      }
    }
  }
}
