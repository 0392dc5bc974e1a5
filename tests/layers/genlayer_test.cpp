// Particle generator: the mix steps, the phase wrap, the blob's paired
// additions with their carries, clipping on small layers, a fixed seed's
// frames, and the layer in the engine's frame loop.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "genlayer.h"
#include "kolvex.h"
#include "test_support.h"

namespace {

// Memory bytes of one pixel.
using Px = std::vector<uint8_t>;
Px px(const void *frame, int w, int x, int y) {
  const uint8_t *p = (const uint8_t *)frame + ((size_t)y * w + x) * 4;
  return {p[0], p[1], p[2], p[3]};
}

TEST(GenLayerParams, MixStepsUpAndDown) {
  const float bottom = (float)((double)0.1f - 0.1);  // the float 0.1 is above the double
  const std::vector<float> up = {0.8f, 0.90000004f, 1.0f, 1.0f},
                           down = {0.59999996f, 0.49999997f, 0.39999998f, 0.29999998f, 0.19999999f,
                                   0.09999999f, 0.1f,        bottom,      0.1f,        bottom};
  for (bool dir : {true, false}) {
    GenLayer g;
    EXPECT_EQ(g.mix, 0.7f);
    for (float want : dir ? up : down) {
      g.blossom_recal(dir);
      EXPECT_EQ(g.mix, want) << (dir ? "up" : "down");
    }
  }
}

class GenEngine : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(ctx.init(640, 480)); }

  // A layer with a known shape: seeded, then redrawn.
  static void reseed(GenLayer &g, uint32_t seed) {
    fastsrand(seed);
    g.blossom_recal(true);
  }
  static void clear(GenLayer &g) {
    memset(g.surface->pixels, 0, (size_t)g.surface->pitch * g.surface->h);
  }

  Context ctx;
};

TEST_F(GenEngine, PhaseWrapsAfter629Frames) {
  GenLayer g(64, 48);  // the phase does not depend on the size
  ASSERT_TRUE(g.init(&ctx));
  for (int i = 0; i < 628; i++) ASSERT_NE(g.feed(), nullptr);
  EXPECT_GT(g.phase, 6.27f);
  g.feed();
  EXPECT_NEAR(g.phase, 0.0068636f, 2e-6f);
}

// The worked examples: three sprite centres on one pixel, the carry out of
// the right pixel of a pair into the left one, a blob at odd x drawn one
// pixel left, and the point's word addition.
TEST_F(GenEngine, BlobAndPointCarries) {
  GenLayer g;
  ASSERT_TRUE(g.init(&ctx));
  ASSERT_EQ(g.blob_size, 16);
  EXPECT_EQ(px(g.blob_table, 16, 0, 8), (Px{19, 15, 15, 0})) << "outer ring at 180 degrees";
  const void *f = g.surface->pixels;
  clear(g);
  for (int i = 0; i < 3; i++) g.blob(100, 100);
  // Centre at (108, 108), the left pixel of its pair; 109 holds a centre
  // cell too. 3 x 122 = 366: red 110 and a carry into green 111; 3 x 158 + 1
  // = 475: blue 219 and a carry out of the right pixel into the left's low byte.
  EXPECT_EQ(px(f, 640, 109, 108), (Px{219, 111, 110, 0}));
  EXPECT_EQ(px(f, 640, 108, 108), (Px{219, 111, 110, 1}));
  // Ring 2 beside a centre cell: no wrap of its own, its neighbour's carry.
  EXPECT_EQ(px(f, 640, 106, 107), (Px{234, 180, 180, 1}));
  EXPECT_EQ(px(f, 640, 99, 100), (Px{0, 0, 0, 0}));
  EXPECT_EQ(px(f, 640, 116, 108), (Px{0, 0, 0, 0}));

  clear(g);
  g.blob(101, 50);
  EXPECT_EQ(px(f, 640, 108, 58), (Px{158, 122, 122, 0}));

  clear(g);
  g.point(5, 7);
  EXPECT_EQ(px(f, 640, 5, 7), (Px{0x99, 0x99, 0x99, 0x99}));
  g.point(5, 7);  // 0x133333332: carries run from the last byte to the first
  EXPECT_EQ(px(f, 640, 5, 7), (Px{0x33, 0x33, 0x33, 0x32}));
  EXPECT_EQ(px(f, 640, 4, 7), (Px{0, 0, 0, 0}));
  g.point(-1, 0);  // off the frame: nothing (ASan watches the rest)
  g.point(640, 479);
}

TEST_F(GenEngine, SameSeedSameFrames) {
  GenLayer a, b, c;
  ASSERT_TRUE(a.init(&ctx));
  ASSERT_TRUE(b.init(&ctx));
  ASSERT_TRUE(c.init(&ctx));
  reseed(a, 2004);
  reseed(b, 2004);
  reseed(c, 2005);
  const size_t n = (size_t)640 * 480 * 4;
  uint64_t hash = 0;
  for (int f = 0; f < 5; f++) {
    const uint8_t *fa = (const uint8_t *)a.feed();
    const uint8_t *fb = (const uint8_t *)b.feed();
    const uint8_t *fc = (const uint8_t *)c.feed();
    ASSERT_TRUE(fa && fb && fc);
    EXPECT_EQ(memcmp(fa, fb, n), 0) << "frame " << f;
    EXPECT_NE(memcmp(fa, fc, n), 0) << "frame " << f;
    hash = kt::fnv1a(fa, n);
  }
  // Regression guard for the fifth frame of seed 2004 (parameters, curve,
  // sprite and carries together).
  EXPECT_EQ(hash, 0xf5e569b966a4a7c9ull) << std::hex << hash;
}

// A single blob on a cleared frame is its sprite, cut at the frame's edges
// (ASan watches every write).
TEST_F(GenEngine, SmallLayersClipTheirBlobs) {
  const int w = 40, h = 30;
  GenLayer g(w, h);
  ASSERT_TRUE(g.init(&ctx));
  const std::pair<int, int> at[] = {{-6, -4}, {w - 10, h - 6}, {w - 2, -15}, {-14, h - 1},
                                    {-16, 0}, {w, 0},          {0, h}};
  for (auto p : at) {
    SCOPED_TRACE(testing::Message() << p.first << "," << p.second);
    clear(g);
    g.blob(p.first, p.second);
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x++) {
        const int col = x - p.first, row = y - p.second;
        const bool in = col >= 0 && col < 16 && row >= 0 && row < 16;
        ASSERT_EQ(px(g.surface->pixels, w, x, y), in ? px(g.blob_table, 16, col, row) : Px(4, 0))
            << x << "," << y;
      }
  }

  // Odd width: of the pair at columns 100/101 only 100 exists, and its
  // right half must not spill into the next row.
  GenLayer odd(101, 40);
  ASSERT_TRUE(odd.init(&ctx));
  memset(odd.surface->pixels, 0, (size_t)odd.surface->pitch * 40);
  for (int i = 0; i < 3; i++) odd.blob(92, 0);
  EXPECT_EQ(px(odd.surface->pixels, 101, 100, 8), (Px{219, 111, 110, 0}));
  EXPECT_EQ(px(odd.surface->pixels, 101, 0, 9), (Px{0, 0, 0, 0}));
}

// On its own thread in the engine's loop, frame-exact, with keys changing
// the shape between frames (TSan watches the parameters).
TEST_F(GenEngine, DrawsInTheFrameLoopWhileKeysRedrawTheShape) {
  GenLayer *g = new GenLayer();
  ASSERT_TRUE(g->init(&ctx));
  ASSERT_TRUE(g->init(&ctx));  // a second init replaces the first's surface and sprite
  ctx.layers.append(g);        // the context deletes it when it closes
  ctx.lockstep = true;
  SDL_keysym key{};
  for (int frame = 0; frame < 6; frame++) {
    ctx.cafudda(0);
    key.sym = frame % 2 ? SDLK_RIGHT : SDLK_LEFT;
    EXPECT_TRUE(g->keypress(&key));
  }
  const uint32_t *screen = (const uint32_t *)kt::screen_pixel(ctx, 0, 0);
  EXPECT_GE(std::count_if(screen, screen + 640 * 480, [](uint32_t v) { return v != 0; }), 400);
  EXPECT_TRUE(g->active);
}

}  // namespace
