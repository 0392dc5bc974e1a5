/*  A layer scaled, turned and fitted, as the frame step draws it: where
 *  its picture lands on the screen, what the corners of a turned picture
 *  leave under each kind of blend, and the settings' ranges. */
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "engine_fixture.h"
#include "over_blend.h"

namespace {

// Colours as memory words (bytes blue, green, red, fourth).
const uint32_t kLeft = 0xFFC04020u, kRight = 0xFF2060E0u, kMark = 0xFFFFFFFFu;
const uint32_t kGround = 0xFF505050u;

// 64 x 32: the left half one colour, the right half another, the top-left
// 8 x 8 corner marked.
void paint(kt::TestLayer &l) {
  for (int y = 0; y < 32; y++)
    for (int x = 0; x < 64; x++) {
      const uint32_t c = x < 8 && y < 8 ? kMark : x < 32 ? kLeft : kRight;
      memcpy(&l.frame[((size_t)y * 64 + x) * 4], &c, 4);
    }
}

uint32_t at(kt::Engine &e, int x, int y) {
  uint32_t w;
  memcpy(&w, kt::screen_pixel(e.ctx, x, y), 4);
  return w & 0xFFFFFF;
}

struct Probe {
  int x, y;
  uint32_t word;
  bool same = true;  // false: anything but `word`
};

}  // namespace

// The layer, 64 x 32, centred on a 640 x 480 screen (288..351, 224..255)
// over a grey ground, set differently for each frame.
TEST(LayerTransform, FrameStepDrawsThePictureWhereExpected) {
  kt::Engine e;
  ASSERT_TRUE(e.ok);
  e.ctx.lockstep = true;
  e.ctx.clear_all = true;
  auto *ground = new kt::TestLayer(), *layer = new kt::TestLayer(64, 32);
  ground->init(&e.ctx);
  layer->init(&e.ctx);
  ground->fill(kGround);
  paint(*layer);
  e.ctx.layers.add(ground);
  e.ctx.layers.prepend(layer);
  e.ctx.cafudda(0);

  const uint32_t ground_rgb = kGround & 0xFFFFFF, left = kLeft & 0xFFFFFF;
  const uint32_t right = kRight & 0xFFFFFF, mark = kMark & 0xFFFFFF;
  struct Case {
    const char *what;
    double scale, degrees;
    Fit fit;
    int blit;        // 0: OVER
    int px, py;      // set_position, or -1 for centred
    std::vector<Probe> probes;
  };
  const Case cases[] = {
      {"as it is", 1, 0, Fit::none, BLIT_RGB, -1, -1,
       {{290, 226, mark}, {300, 240, left}, {340, 240, right}, {286, 240, ground_rgb}}},
      // 128 x 64 around the same centre: 256..383, 208..271.
      {"scale 2", 2, 0, Fit::none, BLIT_RGB, -1, -1,
       {{258, 210, mark}, {274, 226, left}, {262, 240, left}, {380, 240, right},
        {254, 240, ground_rgb}, {320, 206, ground_rgb}, {320, 273, ground_rgb}}},
      // A quarter turn clockwise: 32 x 64 at 304..335, 208..271, the left
      // half on top, the mark at the top-right.
      {"90 degrees", 1, 90, Fit::none, BLIT_RGB, -1, -1,
       {{332, 211, mark}, {310, 220, left}, {310, 260, right}, {300, 240, ground_rgb},
        {320, 205, ground_rgb}}},
      // Placed at the top-left: the turn is about the centre it has there
      // (32, 16), its top cut by the screen's edge.
      {"90 degrees at 0,0", 1, 90, Fit::none, BLIT_RGB, 0, 0,
       {{20, 30, right}, {20, 5, left}, {44, 0, left}, {12, 20, ground_rgb}, {50, 20, ground_rgb}}},
      // Fit: 640 x 320 at rows 80..399; fill: 960 x 480, the mark cut off;
      // stretch: the whole screen, the mark in its corner.
      {"fit", 1, 0, Fit::fit, BLIT_RGB, -1, -1,
       {{5, 85, mark}, {100, 300, left}, {600, 300, right}, {320, 70, ground_rgb},
        {320, 410, ground_rgb}}},
      {"fill", 1, 0, Fit::fill, BLIT_RGB, -1, -1,
       {{0, 0, left}, {10, 240, left}, {630, 240, right}, {639, 479, right}}},
      {"stretch", 1, 0, Fit::stretch, BLIT_RGB, -1, -1,
       {{0, 0, mark}, {70, 100, mark}, {300, 240, left}, {639, 479, right}}},
      {"fit at half scale", 0.5, 0, Fit::fit, BLIT_RGB, -1, -1,
       {{162, 162, mark}, {200, 240, left}, {470, 240, right}, {155, 240, ground_rgb},
        {320, 155, ground_rgb}}},
      // Turned 45 degrees the box's corners lie outside the picture: black
      // under a copy, the ground kept under ADD and OVER.
      {"45 degrees, copy", 1, 45, Fit::none, BLIT_RGB, -1, -1,
       {{288, 208, 0}, {310, 230, left}, {283, 240, ground_rgb}}},
      {"45 degrees, ADD", 1, 45, Fit::none, BLIT_ADD, -1, -1,
       {{288, 208, ground_rgb}, {310, 230, ground_rgb, false}}},
      {"45 degrees, OVER", 1, 45, Fit::none, 0, -1, -1,
       {{288, 208, ground_rgb}, {310, 230, left}, {330, 250, right}}},
      {"back as it was", 1, 360, Fit::none, BLIT_RGB, -1, -1,
       {{290, 226, mark}, {300, 240, left}, {340, 240, right}, {286, 240, ground_rgb}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    layer->set_scale(c.scale);
    layer->set_rotation(c.degrees);
    layer->set_fit(c.fit);
    if (c.px >= 0) layer->set_position(c.px, c.py);
    else layer->set_position(288, 224);
    layer->set_blend(c.blit ? nullptr : new OverBlend);
    if (c.blit) layer->set_blit(c.blit);
    e.ctx.cafudda(0);
    for (const Probe &p : c.probes) {
      if (p.same)
        EXPECT_EQ(at(e, p.x, p.y), p.word) << p.x << "," << p.y;
      else
        EXPECT_NE(at(e, p.x, p.y), p.word) << p.x << "," << p.y;
    }
    // The layer's own geometry is as it was: the transform draws from it.
    EXPECT_EQ(layer->geo.w * 1000 + layer->geo.h, 64032);
  }
  et::drop(layer);
  et::drop(ground);
}

// Placed wholly off the screen, a layer that its scale brings back is
// drawn, about the centre it was given (not where the screen's crop put
// the frame it hid); as it is, it is not drawn.
TEST(LayerTransform, ScaleBringsALayerBackFromOffTheScreen) {
  kt::Engine e;
  ASSERT_TRUE(e.ok);
  e.ctx.lockstep = true;
  e.ctx.clear_all = true;
  auto *layer = new kt::TestLayer(64, 32);
  layer->init(&e.ctx);
  paint(*layer);
  e.ctx.layers.add(layer);
  e.ctx.cafudda(0);
  layer->set_position(-300, 10);  // centre at -268, 26
  e.ctx.cafudda(0);
  EXPECT_EQ(at(e, 2, 26), 0u);
  layer->set_scale(16);  // 1024 x 512: -780..243
  e.ctx.cafudda(0);
  EXPECT_EQ(at(e, 2, 26), kRight & 0xFFFFFF);
  EXPECT_EQ(at(e, 240, 26), kRight & 0xFFFFFF);
  EXPECT_EQ(at(e, 250, 26), 0u);
  et::drop(layer);
}

TEST(LayerTransform, SettingsKeepTheirRanges) {
  kt::TestLayer l;
  EXPECT_EQ(l.get_scale(), 1);
  EXPECT_EQ(l.get_rotation(), 0);
  EXPECT_EQ(l.get_fit(), Fit::none);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double in, want;
  } scales[] = {{2.5, 2.5}, {0, 0.01}, {-3, 0.01}, {100, 16}, {nan, 16}, {1, 1}};
  for (const auto &s : scales) {
    l.set_scale(s.in);
    EXPECT_EQ(l.get_scale(), s.want) << s.in;
  }
  const struct {
    double in, want;
  } turns[] = {{45, 45}, {450, 90}, {-90, 270}, {360, 0}, {inf, 0}, {-720.5, 359.5}, {nan, 359.5}};
  for (const auto &t : turns) {
    l.set_rotation(t.in);
    EXPECT_EQ(l.get_rotation(), t.want) << t.in;
  }
  l.set_fit(Fit::fill);
  EXPECT_EQ(l.get_fit(), Fit::fill);
}
