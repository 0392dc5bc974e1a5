// The transform sampler: every kernel set gives the plain kernel's bytes
// over a table of maps, and the plain kernel draws what a viewer expects
// of a turn, a scale, a fit and a full circle.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "blit_dispatch.h"
#include "test_support.h"
#include "transform.h"

namespace {

std::vector<const BlitKernels *> kernel_sets() {
  const BlitKernels *sets[kBlitKernelSetsMax];
  const int n = blit_kernel_sets(sets, kBlitKernelSetsMax);
  return std::vector<const BlitKernels *>(sets, sets + n);
}

struct Picture {
  int w, h, pitch;  // pitch in bytes
  std::vector<uint8_t> bytes;
  Picture(int w, int h, int pad = 0) : w(w), h(h), pitch((w + pad) * 4), bytes((size_t)pitch * h) {}
  uint8_t *at(int x, int y) { return &bytes[(size_t)y * pitch + x * 4]; }
  const uint8_t *at(int x, int y) const { return &bytes[(size_t)y * pitch + x * 4]; }
  uint32_t word(int x, int y) const {
    const uint8_t *p = at(x, y);
    return (uint32_t)p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24;
  }
  void set(int x, int y, uint32_t word) {
    uint8_t *p = at(x, y);
    for (int i = 0; i < 4; i++) p[i] = (uint8_t)(word >> (8 * i));
  }
};

Picture draw(const BlitKernels &k, const Picture &src, int dw, int dh, const PicturePlacement &p,
             int pad = 0) {
  Picture out(dw, dh, pad);
  EXPECT_TRUE(transform_bilinear(k, src.bytes.data(), src.pitch, src.w, src.h, out.bytes.data(),
                                 out.pitch, dw, dh, transform_map(src.w, src.h, p)));
  return out;
}

PicturePlacement centred(int dw, int dh, double sx, double sy, double degrees) {
  PicturePlacement p;
  p.sx = sx;
  p.sy = sy;
  p.degrees = degrees;
  p.cx = dw / 2.0;
  p.cy = dh / 2.0;
  return p;
}

}  // namespace

// Noise through every kernel set: tails of every length, lines padded,
// pictures of one pixel and of a full screen, points off every edge.
TEST(TransformKernels, EverySetGivesThePlainBytes) {
  const std::vector<const BlitKernels *> sets = kernel_sets();
  ASSERT_STREQ(sets.front()->name, "plain");
  struct Case {
    const char *what;
    int sw, sh, src_pad, dw, dh, dst_pad;
    double sx, sy, degrees, cx, cy;  // cx < 0: centred
  };
  const Case cases[] = {
      {"identity, moved by a fraction", 37, 5, 3, 41, 9, 0, 1, 1, 0, 21.25, 4.6},
      {"identity, whole pixels", 19, 6, 0, 19, 6, 1, 1, 1, 0, -1, -1},
      {"scale up", 13, 7, 0, 33, 18, 2, 2.5, 2.5, 0, -1, -1},
      {"scale down", 200, 90, 5, 61, 27, 0, 0.3, 0.3, 0, -1, -1},
      {"90 degrees", 33, 17, 0, 17, 33, 0, 1, 1, 90, -1, -1},
      {"45 degrees", 31, 29, 0, 45, 43, 3, 1, 1, 45, -1, -1},
      {"-30 degrees, stretched", 64, 48, 0, 85, 71, 0, 1.3, 0.7, -30, -1, -1},
      {"one pixel", 1, 1, 0, 3, 3, 0, 2, 2, 0, -1, -1},
      {"two pixels turned", 2, 1, 0, 5, 5, 0, 1.7, 1.7, 75, -1, -1},
      {"large", 1920, 1080, 0, 1000, 700, 0, 0.6, 0.6, 30, -1, -1},
      {"mostly outside", 20, 10, 0, 77, 51, 0, 1.1, 1.1, 10, 70.3, 3.9},
      {"off every edge", 15, 11, 0, 29, 29, 0, 1.9, 1.9, 200, -1, -1},
      {"tiny scale", 300, 200, 0, 7, 5, 0, 0.01, 0.01, 12, -1, -1},
  };
  uint32_t seed = 90;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Picture src(c.sw, c.sh, c.src_pad);
    src.bytes = kt::noise(src.bytes.size(), seed++);
    PicturePlacement p = centred(c.dw, c.dh, c.sx, c.sy, c.degrees);
    if (c.cx >= 0) p.cx = c.cx, p.cy = c.cy;
    const Picture want = draw(*sets[0], src, c.dw, c.dh, p, c.dst_pad);
    // Both kinds of pixel present where the case means them, or the
    // comparison proves less than it says.
    const auto zero = std::count(want.bytes.begin(), want.bytes.end(), 0);
    EXPECT_LT(zero, (long)want.bytes.size());
    for (const BlitKernels *k : sets) {
      const Picture got = draw(*k, src, c.dw, c.dh, p, c.dst_pad);
      EXPECT_EQ(got.bytes, want.bytes) << k->name;
    }
  }
}

// A quarter turn clockwise moves every pixel exactly: source (x, y) lands
// at (h - 1 - y, x), no blur; a half turn and three quarters likewise.
TEST(TransformLooks, QuarterTurnsMovePixelsExactly) {
  const Picture src = [] {
    Picture p(7, 4);
    p.bytes = kt::noise(p.bytes.size(), 5);
    return p;
  }();
  const BlitKernels &plain = *kernel_sets()[0];
  struct Turn {
    double degrees;
    int dw, dh;
    int (*sx)(int x, int y, int w, int h);  // source pixel of destination (x, y)
    int (*sy)(int x, int y, int w, int h);
  };
  const Turn turns[] = {
      {90, 4, 7, [](int, int y, int, int) { return y; }, [](int x, int, int, int h) { return h - 1 - x; }},
      {180, 7, 4, [](int x, int, int w, int) { return w - 1 - x; },
       [](int, int y, int, int h) { return h - 1 - y; }},
      {-90, 4, 7, [](int, int y, int w, int) { return w - 1 - y; }, [](int x, int, int, int) { return x; }},
  };
  for (const Turn &t : turns) {
    const Picture got = draw(plain, src, t.dw, t.dh, centred(t.dw, t.dh, 1, 1, t.degrees));
    for (int y = 0; y < t.dh; y++)
      for (int x = 0; x < t.dw; x++)
        ASSERT_EQ(got.word(x, y), src.word(t.sx(x, y, 7, 4), t.sy(x, y, 7, 4)))
            << t.degrees << " degrees at " << x << "," << y;
  }
  // The top-left pixel, marked, goes to the top-right under 90 degrees.
  Picture marked(7, 4);
  marked.set(0, 0, 0xFFFFFFFFu);
  const Picture turned = draw(plain, marked, 4, 7, centred(4, 7, 1, 1, 90));
  EXPECT_EQ(turned.word(3, 0), 0xFFFFFFFFu);
  EXPECT_EQ(turned.word(0, 0), 0u);
}

// Scale 2 doubles a checkerboard's squares: 4-pixel squares become 8,
// exact inside, blended only on the two pixels either side of an inner
// border (the picture's own edges repeat their pixels). Scale 0.5 halves
// them into 2, every pixel the mean of two equal ones: exact.
TEST(TransformLooks, ScaleChangesAPatternsSize) {
  const uint32_t a = 0xFF2040C0u, b = 0xFF10E010u;
  Picture board(16, 16);
  for (int y = 0; y < 16; y++)
    for (int x = 0; x < 16; x++) board.set(x, y, ((x / 4 + y / 4) % 2) ? b : a);
  const BlitKernels &plain = *kernel_sets()[0];
  struct Row {
    double scale;
    int square;  // destination pixels a square
  };
  for (const Row r : {Row{2, 8}, Row{0.5, 2}}) {
    const int side = (int)(16 * r.scale);
    const Picture got = draw(plain, board, side, side, centred(side, side, r.scale, r.scale, 0));
    auto inner_border = [&](int i) {
      return r.scale > 1 && ((i % r.square == 0 && i > 0) || (i % r.square == r.square - 1 && i < side - 1));
    };
    int blended = 0;
    for (int y = 0; y < side; y++)
      for (int x = 0; x < side; x++) {
        const uint32_t want = ((x / r.square + y / r.square) % 2) ? b : a;
        if (inner_border(x) || inner_border(y)) {
          blended += got.word(x, y) != a && got.word(x, y) != b;
          continue;
        }
        ASSERT_EQ(got.word(x, y), want) << r.scale << " at " << x << "," << y;
      }
    if (r.scale > 1) {
      EXPECT_EQ(blended, side * side - (side - 6) * (side - 6)) << "every border pixel blends";
    }
  }
}

// A 40 x 20 picture, its left 5 columns green, on a square 64 x 64
// canvas: fit shows all of it, 64 x 32 in the middle with the green strip
// 8 wide; fill covers the canvas and cuts the strip off; stretch covers it
// and keeps the strip, 8 wide.
TEST(TransformLooks, FitFillAndStretchOnAnotherAspect) {
  const uint32_t green = 0xFF00FF00u, grey = 0xFF808080u;
  Picture pic(40, 20);
  for (int y = 0; y < 20; y++)
    for (int x = 0; x < 40; x++) pic.set(x, y, x < 5 ? green : grey);
  const BlitKernels &plain = *kernel_sets()[0];
  struct Row {
    Fit fit;
    int top, bottom;  // rows covered
    int strip;        // green columns at the left (interior pixels)
  };
  const Row rows[] = {{Fit::fit, 16, 48, 8}, {Fit::fill, 0, 64, 0}, {Fit::stretch, 0, 64, 8}};
  for (const Row &r : rows) {
    double sx, sy;
    fit_scale(r.fit, 40, 20, 64, 64, &sx, &sy);
    const Picture got = draw(plain, pic, 64, 64, centred(64, 64, sx, sy, 0));
    for (int y = 0; y < 64; y++) {
      const bool covered = y >= r.top && y < r.bottom;
      EXPECT_EQ(got.word(32, y) != 0, covered) << (int)r.fit << " row " << y;
      EXPECT_EQ(got.word(0, y) != 0, covered) << (int)r.fit << " row " << y;
      EXPECT_EQ(got.word(63, y) != 0, covered) << (int)r.fit << " row " << y;
    }
    const int mid = (r.top + r.bottom) / 2;
    int strip = 0;
    while (strip < 64 && got.word(strip, mid) == green) strip++;
    EXPECT_NEAR(strip, r.strip, 1) << (int)r.fit;
  }
  double sx, sy;
  fit_scale(Fit::none, 40, 20, 64, 64, &sx, &sy);
  EXPECT_EQ(sx * 1000 + sy, 1001) << "none keeps the natural size";
}

// A full circle, or any multiple, draws what no turn draws, byte for byte.
TEST(TransformLooks, FullCirclesAreNoTurn) {
  Picture src(23, 11);
  src.bytes = kt::noise(src.bytes.size(), 8);
  const BlitKernels &plain = *kernel_sets()[0];
  const Picture none = draw(plain, src, 30, 30, centred(30, 30, 1.5, 1.5, 0));
  for (double d : {360.0, -360.0, 720.0, 3600.0}) {
    const Picture got = draw(plain, src, 30, 30, centred(30, 30, 1.5, 1.5, d));
    EXPECT_EQ(got.bytes, none.bytes) << d;
  }
}
