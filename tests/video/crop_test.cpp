// Cropping a layer against the screen: the visible rectangle, the offsets,
// the out-of-screen flag and parking, the log lines; and a randomised check
// that crop + blit never touch a pixel outside the layer's on-screen
// rectangle nor a byte outside the draw surface.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "video_fixture.h"

namespace {

constexpr int kSW = 64, kSH = 48;

class Crop : public ::testing::Test {
 protected:
  vt::Engine e{kSW, kSH};
  void SetUp() override { ASSERT_TRUE(e.ok); }
  void TearDown() override { set_debug(0); }

  std::unique_ptr<kt::TestLayer> layer(int w, int h) {
    auto l = std::make_unique<kt::TestLayer>(w, h);
    kt::StderrCapture quiet;
    l->init(&e.ctx);
    return l;
  }
  // Moves the layer and returns the log of its crop.
  std::string place(Layer &l, int x, int y) {
    set_debug(2);
    kt::StderrCapture log;
    l.set_position(x, y);
    std::string text = log.text();
    set_debug(0);
    return text;
  }
  void expect_clip(const Layer &l, int x, int y, int w, int h, int offset) {
    EXPECT_EQ(l.clip.x, x);
    EXPECT_EQ(l.clip.y, y);
    EXPECT_EQ(l.clip.w, w);
    EXPECT_EQ(l.clip.h, h);
    EXPECT_EQ(l.clip.offset, offset);
    EXPECT_EQ(l.clip.dest, e.screen->coords(x, y));
  }
};

TEST_F(Crop, LayerOfScreenSize) {
  auto l = layer(0, 0);
  EXPECT_EQ(l->geo.w, kSW);
  EXPECT_EQ(l->geo.h, kSH);
  const std::string log = place(*l, 0, 0);
  EXPECT_EQ(log,
            "[F] CROP x[0] y[0] w[64] h[48] on screen w[64] h[48]\n"
            "[F] CROP x[0] y[0] w[64] h[48] xoff[0] yoff[0]\n");
  EXPECT_FALSE(l->hidden);
  expect_clip(*l, 0, 0, kSW, kSH, 0);
  EXPECT_EQ(l->clip.dest, e.screen->get_surface());
  EXPECT_EQ(l->rect.x, 0);
  EXPECT_EQ(l->rect.y, 0);
  EXPECT_EQ(l->rect.w, kSW);
  EXPECT_EQ(l->rect.h, kSH);
}

TEST_F(Crop, LargerLayerCentred) {
  auto l = layer(100, 80);  // centred by its set-up at (-18, -16)
  EXPECT_EQ(l->geo.x, -18);
  EXPECT_EQ(l->geo.y, -16);
  EXPECT_FALSE(l->hidden);
  expect_clip(*l, 0, 0, kSW, kSH, 18 * 4 + 16 * 400);
  EXPECT_EQ(l->rect.x, 18);
  EXPECT_EQ(l->rect.y, 16);
  EXPECT_EQ(l->rect.w, kSW);
  EXPECT_EQ(l->rect.h, kSH);
}

TEST_F(Crop, PartlyOffTopLeftLogsBothLines) {
  auto l = layer(20, 10);
  const std::string log = place(*l, -5, -3);
  EXPECT_EQ(log,
            "[F] CROP x[-5] y[-3] w[20] h[10] on screen w[64] h[48]\n"
            "[F] CROP x[0] y[0] w[15] h[7] xoff[5] yoff[3]\n");
  expect_clip(*l, 0, 0, 15, 7, 5 * 4 + 3 * 80);
  EXPECT_FALSE(l->hidden);

  place(*l, 50, 44);  // partly off right and bottom
  expect_clip(*l, 50, 44, 14, 4, 0);
  EXPECT_FALSE(l->hidden);
}

TEST_F(Crop, JustBesideAnEdgeIsNotFlagged) {
  auto l = layer(20, 10);
  struct Case { int x, y, w, h; };
  for (Case c : {Case{-20, 5, 0, 10}, Case{kSW, 5, 0, 10}, Case{5, -10, 20, 0}, Case{5, kSH, 20, 0}}) {
    const std::string log = place(*l, c.x, c.y);
    EXPECT_FALSE(kt::contains(log, "out of screen")) << log;
    EXPECT_FALSE(l->hidden) << c.x << "," << c.y;
    EXPECT_EQ(l->geo.x, c.x);
    EXPECT_EQ(l->geo.y, c.y);
    EXPECT_EQ(l->clip.w, c.w) << c.x << "," << c.y;
    EXPECT_EQ(l->clip.h, c.h) << c.x << "," << c.y;
  }
}

TEST_F(Crop, WhollyOffIsFlaggedAndParked) {
  auto l = layer(20, 10);
  struct Case { int x, y; const char *line; int park_x, park_y; };
  const Case cases[] = {
      {-21, 5, "[F] layer out of screen to the left", -21, 5},
      {-400, 5, "[F] layer out of screen to the left", -21, 5},
      {kSW + 5, 5, "[F] layer out of screen to the right", kSW + 1, 5},
      {30000, 5, "[F] layer out of screen to the right", kSW + 1, 5},
      {5, -11, "[F] layer out of screen up", 5, -11},
      {5, -30000, "[F] layer out of screen up", 5, -11},
      {5, kSH + 2, "[F] layer out of screen down", 5, kSH + 1},
  };
  for (const Case &c : cases) {
    std::string log = place(*l, c.x, c.y);
    EXPECT_EQ(kt::count_lines(log, c.line), 1) << log;
    EXPECT_TRUE(l->hidden) << c.x << "," << c.y;
    EXPECT_EQ(l->geo.x, c.park_x);
    EXPECT_EQ(l->geo.y, c.park_y);
    // Cropping a parked layer again gives the same answer.
    set_debug(2);
    kt::StderrCapture again;
    e.screen->crop(l.get());
    log = again.text();
    set_debug(0);
    EXPECT_EQ(kt::count_lines(log, c.line), 1) << log;
    EXPECT_TRUE(l->hidden);
    EXPECT_EQ(l->geo.x, c.park_x);
    EXPECT_EQ(l->geo.y, c.park_y);
  }
}

TEST_F(Crop, OffLeftAndPartlyOffBottomIsFlagged) {
  auto l = layer(20, 10);
  const std::string log = place(*l, -21, kSH - 3);
  EXPECT_EQ(kt::count_lines(log, "[F] layer out of screen to the left"), 1) << log;
  EXPECT_FALSE(kt::contains(log, "down")) << log;
  EXPECT_TRUE(l->hidden);
  EXPECT_EQ(l->clip.h, 3);
}

TEST_F(Crop, PlacedBackOnScreenIsDrawnAgain) {
  auto l = layer(8, 6);
  l->fill(0x11223344);
  l->blit_buffer = l->frame.data();
  l->set_blit(BLIT_OR);
  e.screen->clear();
  place(*l, -9, 0);
  ASSERT_TRUE(l->hidden);
  e.screen->blit(l.get());
  const uint8_t *p = (const uint8_t *)e.screen->get_surface();
  size_t drawn = 0;
  for (int i = 0; i < e.screen->size; i++) drawn += p[i] != 0;
  EXPECT_EQ(drawn, 0u);

  place(*l, 10, 12);
  EXPECT_FALSE(l->hidden);
  expect_clip(*l, 10, 12, 8, 6, 0);
  e.screen->blit(l.get());
  const uint32_t word = 0x11223344;
  EXPECT_EQ(memcmp(kt::screen_pixel(e.ctx, 10, 12), &word, 4), 0);
  EXPECT_EQ(memcmp(kt::screen_pixel(e.ctx, 17, 17), &word, 4), 0);
}

TEST_F(Crop, EachLayerKeepsItsOwnClip) {
  auto a = layer(10, 8);
  auto b = layer(30, 20);
  a->fill(0x01010101);
  b->fill(0x10101010);
  place(*a, 2, 3);
  place(*b, 40, 30);  // 6 columns and 2 lines off the screen
  expect_clip(*a, 2, 3, 10, 8, 0);
  expect_clip(*b, 40, 30, 24, 18, 0);
  e.screen->clear();
  for (auto *l : {a.get(), b.get()}) {
    l->blit_buffer = l->frame.data();
    l->set_blit(BLIT_ADD);
    e.screen->blit(l);
  }
  const vt::Span sa = vt::on_screen(2, 3, 10, 8, kSW, kSH), sb = vt::on_screen(40, 30, 30, 20, kSW, kSH);
  for (int y = 0; y < kSH; y++)
    for (int x = 0; x < kSW; x++) {
      const uint8_t want = (sa.contains(x, y) ? 0x01 : 0) + (sb.contains(x, y) ? 0x10 : 0);
      const uint8_t *px = kt::screen_pixel(e.ctx, x, y);
      for (int i = 0; i < 4; i++) ASSERT_EQ(px[i], want) << x << "," << y;
    }
}

// A line of a layer wider than 16383 pixels does not fit the geometry's
// 16-bit pitch: 16426 pixels gave a pitch of 168 bytes (found by the crop
// and blit fuzzer), so every line of the frame was read from its first
// one. The width is cut to what the pitch holds, and logged.
TEST_F(Crop, LayerWiderThanThePitchHoldsIsCutToFit) {
  kt::TestLayer l(16426, 4);
  std::string log;
  {
    kt::StderrCapture cap;
    l.init(&e.ctx);
    log = cap.text();
  }
  EXPECT_EQ(kt::count_lines(log, "[!] layer TST: 16426 pixels wide, more than 16383: cut to that"),
            1)
      << log;
  EXPECT_EQ(l.geo.w, 16383);
  EXPECT_EQ(l.geo.pitch, 16383 * 4);
  EXPECT_EQ(l.geo.size, 16383u * 4 * 4);
  ASSERT_EQ(l.frame.size(), l.geo.size);

  // Each line a value of its own: the screen must show them line by line.
  for (size_t i = 0; i < l.frame.size(); i++) l.frame[i] = (uint8_t)(1 + i / l.geo.pitch);
  l.blit_buffer = l.frame.data();
  l.set_blit(BLIT_OR);
  e.screen->clear();
  place(l, 0, 0);
  e.screen->blit(&l);
  for (int y = 0; y < 4; y++)
    for (int x : {0, kSW - 1}) {
      const uint8_t *px = kt::screen_pixel(e.ctx, x, y);
      for (int i = 0; i < 4; i++) ASSERT_EQ(px[i], y + 1) << x << "," << y;
    }
}

// 32768 lines of 65532 bytes above the screen and 32768 pixels to its left
// are one byte more than the clip's 32-bit offset holds; the sum overflowed
// (found by the crop and blit fuzzer, shown by UBSan). The layer is off the
// screen and draws nothing, in any mode.
TEST_F(Crop, FarOffTopLeftOfTheWidestLayerDrawsNothing) {
  auto l = layer(16383, 2);
  l->fill(0xFFFFFFFF);
  l->blit_buffer = l->frame.data();
  const std::string log = place(*l, -32768, -32768);
  EXPECT_TRUE(l->hidden);
  EXPECT_EQ(kt::count_lines(log, "[F] layer out of screen to the left"), 1) << log;
  EXPECT_EQ(kt::count_lines(log, "[F] layer out of screen up"), 1) << log;
  e.screen->clear();
  for (int mode = BLIT_RGB; mode <= BLIT_ALPHA; mode++) {
    l->set_blit(mode);
    e.screen->blit(l.get());
  }
  const uint8_t *p = (const uint8_t *)e.screen->get_surface();
  size_t drawn = 0;
  for (int i = 0; i < e.screen->size; i++) drawn += p[i] != 0;
  EXPECT_EQ(drawn, 0u);
}

// ---------------------------------------------------------------------------
// Property: for random sizes and positions, near the edges and far away,
// every blit mode changes exactly the covered pixels, as the model says,
// and nothing outside the surface.
// ---------------------------------------------------------------------------
struct Rng {
  uint32_t s;
  uint32_t next() {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
  }
  int range(int lo, int hi) { return lo + (int)(next() % (uint32_t)(hi - lo + 1)); }
};

void check_one(vt::Engine &e, vt::GuardedSurface &surface, kt::TestLayer &l, int x, int y,
               int mode, int alpha, bool dst_has_alpha, uint32_t seed) {
  const int w = l.geo.w, h = l.geo.h;
  const std::vector<uint8_t> before = kt::noise(surface.bytes(), seed);
  surface.fill(before);
  l.frame = kt::noise(l.geo.size, seed ^ 0x5555);
  l.blit_buffer = l.frame.data();
  l.set_blit(mode);
  l.set_alpha(alpha);
  l.set_position(x, y);

  // The strict rule: flagged only when no column or no line can show.
  const bool off = x < -w || x > kSW || y < -h || y > kSH;
  ASSERT_EQ(l.hidden, off) << w << "x" << h << " at " << x << "," << y;

  e.screen->blit(&l);
  ASSERT_EQ(surface.damaged_guard(), -1)
      << "mode " << mode << " " << w << "x" << h << " at " << x << "," << y;

  const vt::Span span = vt::on_screen(x, y, w, h, kSW, kSH);
  const uint8_t *now = surface.pixels();
  for (int py = 0; py < kSH; py++)
    for (int px = 0; px < kSW; px++) {
      const size_t at = ((size_t)py * kSW + px) * 4;
      const uint8_t *was = &before[at], *got = &now[at];
      if (!span.contains(px, py)) {
        ASSERT_EQ(memcmp(was, got, 4), 0) << "mode " << mode << " " << w << "x" << h << " at " << x
                                          << "," << y << " wrote outside at " << px << "," << py;
        continue;
      }
      const uint8_t *src = &l.frame[((size_t)(py - y) * w + (px - x)) * 4];
      uint8_t want[4] = {was[0], was[1], was[2], was[3]};
      if (mode == BLIT_RGB) {
        memcpy(want, src, 4);
        if (dst_has_alpha) want[3] = 0xFF;  // SDL makes converted pixels opaque
      } else if (mode == BLIT_ALPHA) {
        for (int i = 0; i < 3; i++) {
          const int expect = vt::blend(alpha, src[i], was[i]);
          ASSERT_NEAR(got[i], expect, 2) << "alpha " << alpha << " at " << px << "," << py;
        }
        continue;
      } else {
        vt::model_direct(mode, src, want);
      }
      ASSERT_EQ(memcmp(want, got, 4), 0) << "mode " << mode << " " << w << "x" << h << " at " << x
                                         << "," << y << " pixel " << px << "," << py;
    }
}

void run_property(bool dst_has_alpha) {
  vt::Engine e(kSW, kSH);
  ASSERT_TRUE(e.ok);
  vt::GuardedSurface surface(e.screen, dst_has_alpha ? e.screen->amask : 0);
  ASSERT_TRUE(surface.ok());
  Rng rng{dst_has_alpha ? 0xC0FFEEu : 0x2004u};
  const int sizes[][2] = {{1, 1}, {3, 2}, {17, 9}, {kSW, kSH}, {kSW + 1, kSH - 1}, {100, 80}, {5, 70}, {90, 4}};
  int trials = 0;
  for (const auto &sz : sizes) {
    kt::TestLayer l(sz[0], sz[1]);
    {
      kt::StderrCapture quiet;
      l.init(&e.ctx);
    }
    const int w = sz[0], h = sz[1];
    for (int n = 0; n < 40; n++) {
      int x, y;
      switch (n % 4) {
        case 0:  // around the screen, every edge within reach
          x = rng.range(-w - 3, kSW + 3);
          y = rng.range(-h - 3, kSH + 3);
          break;
        case 1:  // exactly on the edge cases
        {
          const int xs[] = {-w - 1, -w, -w + 1, 0, kSW - w, kSW - 1, kSW, kSW + 1};
          const int ys[] = {-h - 1, -h, -h + 1, 0, kSH - h, kSH - 1, kSH, kSH + 1};
          x = xs[rng.range(0, 7)];
          y = ys[rng.range(0, 7)];
          break;
        }
        case 2:  // far away on one axis
          x = rng.range(0, 1) ? rng.range(-32000, -200) : rng.range(200, 32000);
          y = rng.range(-h, kSH);
          break;
        default:  // anywhere a 16-bit position can be
          x = rng.range(-32767, 32767);
          y = rng.range(-32767, 32767);
          break;
      }
      for (int mode = BLIT_RGB; mode <= BLIT_ALPHA; mode++) {
        const int alpha = mode == BLIT_ALPHA ? rng.range(0, 255) : 255;
        check_one(e, surface, l, x, y, mode, alpha, dst_has_alpha, rng.next());
        if (::testing::Test::HasFatalFailure()) return;
        trials++;
      }
    }
  }
  EXPECT_EQ(trials, 8 * 40 * 9);
}

TEST(CropProperty, BlitStaysInsideLayerAndSurface) { run_property(false); }
TEST(CropProperty, BlitStaysInsideOnSurfaceWithAlphaChannel) { run_property(true); }

}  // namespace
