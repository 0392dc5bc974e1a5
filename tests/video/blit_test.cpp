// The blit modes: bytes of every mode against a plain model, on fixed-seed
// noise and on hand-picked pixels (channel copies, carries, borrows), the
// SDL copy and alpha blend, invalid codes and hidden layers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "video_fixture.h"

namespace {

constexpr int kSW = 640, kSH = 480;

class Blit : public ::testing::Test {
 protected:
  vt::Engine e{kSW, kSH};
  void SetUp() override { ASSERT_TRUE(e.ok); }

  std::unique_ptr<kt::TestLayer> layer(int w, int h) {
    auto l = std::make_unique<kt::TestLayer>(w, h);
    kt::StderrCapture quiet;
    l->init(&e.ctx);
    l->blit_buffer = l->frame.data();
    return l;
  }
  uint8_t *screen() { return (uint8_t *)e.screen->get_surface(); }
  void paint(const std::vector<uint8_t> &picture) { memcpy(screen(), picture.data(), e.screen->size); }
  std::vector<uint8_t> snapshot() { return std::vector<uint8_t>(screen(), screen() + e.screen->size); }

  // One pixel of layer bytes `src` blitted over screen bytes `dst` at
  // (5, 7) in `mode`; returns the screen bytes afterwards.
  std::vector<uint8_t> one_pixel(int mode, std::vector<uint8_t> src, std::vector<uint8_t> dst) {
    auto l = layer(1, 1);
    memcpy(l->frame.data(), src.data(), 4);
    l->set_position(5, 7);
    l->set_blit(mode);
    memcpy(kt::screen_pixel(e.ctx, 5, 7), dst.data(), 4);
    e.screen->blit(l.get());
    const uint8_t *p = kt::screen_pixel(e.ctx, 5, 7);
    return std::vector<uint8_t>(p, p + 4);
  }
};

using Bytes = std::vector<uint8_t>;

TEST_F(Blit, ChannelCopiesTakeOneByte) {
  const Bytes layer_px{0x10, 0x20, 0x30, 0x40}, screen_px{0x01, 0x02, 0x03, 0x04};
  EXPECT_EQ(one_pixel(BLIT_BLU, layer_px, screen_px), (Bytes{0x10, 0x02, 0x03, 0x04}));
  EXPECT_EQ(one_pixel(BLIT_GRE, layer_px, screen_px), (Bytes{0x01, 0x20, 0x03, 0x04}));
  EXPECT_EQ(one_pixel(BLIT_RED, layer_px, screen_px), (Bytes{0x01, 0x02, 0x30, 0x04}));
}

TEST_F(Blit, AddCarriesTowardsTheFirstByte) {
  // Fourth F0 + 20 carries into red, red 90 + 80 + 1 carries into green.
  EXPECT_EQ(one_pixel(BLIT_ADD, {0x01, 0x02, 0x80, 0x20}, {0x10, 0x20, 0x90, 0xF0}),
            (Bytes{0x11, 0x23, 0x11, 0x10}));
  // Red bytes over 255: red is the sum minus 256 and green gets one more.
  EXPECT_EQ(one_pixel(BLIT_ADD, {0x00, 0x00, 0xC0, 0x00}, {0x00, 0x05, 0x50, 0x00}),
            (Bytes{0x00, 0x06, 0x10, 0x00}));
  // A carry out of blue is lost; one out of the fourth byte runs all the way.
  EXPECT_EQ(one_pixel(BLIT_ADD, {0x01, 0x00, 0x00, 0x00}, {0xFF, 0x00, 0x00, 0x00}), (Bytes{0, 0, 0, 0}));
  EXPECT_EQ(one_pixel(BLIT_ADD, {0x00, 0x00, 0x00, 0x01}, {0xFF, 0xFF, 0xFF, 0xFF}), (Bytes{0, 0, 0, 0}));
}

TEST_F(Blit, SubBorrowsAndWraps) {
  EXPECT_EQ(one_pixel(BLIT_SUB, {0x00, 0x00, 0x00, 0x02}, {0x00, 0x00, 0x00, 0x01}),
            (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(one_pixel(BLIT_SUB, {0x00, 0x00, 0x00, 0x01}, {0x10, 0x00, 0x00, 0x00}),
            (Bytes{0x0F, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(one_pixel(BLIT_SUB, {0x01, 0x00, 0x40, 0x00}, {0x05, 0x00, 0x30, 0x07}),
            (Bytes{0x03, 0xFF, 0xF0, 0x07}));
}

TEST_F(Blit, AndOrAreBitwise) {
  EXPECT_EQ(one_pixel(BLIT_AND, {0xF0, 0x0F, 0xAA, 0xFF}, {0x3C, 0x3C, 0x55, 0x81}),
            (Bytes{0x30, 0x0C, 0x00, 0x81}));
  EXPECT_EQ(one_pixel(BLIT_OR, {0xF0, 0x0F, 0xAA, 0x00}, {0x3C, 0x3C, 0x55, 0x81}),
            (Bytes{0xFC, 0x3F, 0xFF, 0x81}));
}

// Whole frames of noise over a noise screen, engine against model, byte by
// byte and by hash: a full-screen layer and one hanging off two edges.
TEST_F(Blit, DirectModesMatchModelOnNoise) {
  struct Shape { int w, h, x, y; };
  for (Shape sh : {Shape{kSW, kSH, 0, 0}, Shape{200, 150, -37, 401}, Shape{333, 77, 600, -20}}) {
    auto l = layer(sh.w, sh.h);
    l->frame = kt::noise(l->geo.size, 1000 + sh.w);
    l->blit_buffer = l->frame.data();
    l->set_position(sh.x, sh.y);
    const std::vector<uint8_t> back = kt::noise(e.screen->size, 2004);
    const vt::Span span = vt::on_screen(sh.x, sh.y, sh.w, sh.h, kSW, kSH);
    for (int mode = BLIT_BLU; mode <= BLIT_OR; mode++) {
      std::vector<uint8_t> model = back;
      for (int y = span.y0; y < span.y1; y++)
        for (int x = span.x0; x < span.x1; x++)
          vt::model_direct(mode, &l->frame[((size_t)(y - sh.y) * sh.w + (x - sh.x)) * 4],
                           &model[((size_t)y * kSW + x) * 4]);
      paint(back);
      l->set_blit(mode);
      e.screen->blit(l.get());
      const std::vector<uint8_t> got = snapshot();
      EXPECT_EQ(kt::fnv1a(got.data(), got.size()), kt::fnv1a(model.data(), model.size()))
          << "mode " << (int)mode << " layer " << sh.w << "x" << sh.h;
      size_t first = 0;
      while (first < got.size() && got[first] == model[first]) first++;
      EXPECT_EQ(first, got.size()) << "mode " << mode << ": first wrong byte at pixel "
                                   << first / 4 % kSW << "," << first / 4 / kSW;
      // Every mode must have changed something on noise, or the test proves nothing.
      EXPECT_NE(kt::fnv1a(got.data(), got.size()), kt::fnv1a(back.data(), back.size()));
    }
  }
}

TEST_F(Blit, RgbReplacesCoveredPixels) {
  auto l = layer(100, 80);
  l->frame = kt::noise(l->geo.size, 33);
  l->blit_buffer = l->frame.data();
  l->set_blit(BLIT_RGB);
  for (auto pos : {std::pair<int, int>{13, 21}, {-30, -10}, {590, 440}}) {
    l->set_position(pos.first, pos.second);
    const std::vector<uint8_t> back = kt::noise(e.screen->size, 44);
    paint(back);
    e.screen->blit(l.get());
    const vt::Span span = vt::on_screen(pos.first, pos.second, 100, 80, kSW, kSH);
    std::vector<uint8_t> model = back;
    // Screen and layer share one format, so the copy is byte for byte.
    for (int y = span.y0; y < span.y1; y++)
      memcpy(&model[((size_t)y * kSW + span.x0) * 4],
             &l->frame[((size_t)(y - pos.second) * 100 + (span.x0 - pos.first)) * 4],
             (size_t)(span.x1 - span.x0) * 4);
    const std::vector<uint8_t> got = snapshot();
    EXPECT_EQ(kt::fnv1a(got.data(), got.size()), kt::fnv1a(model.data(), model.size()))
        << "at " << pos.first << "," << pos.second;
  }
}

TEST_F(Blit, RgbIntoMagnifiedSurfaceIsOpaque) {
  e.screen->set_magnification(1);
  auto l = layer(4, 4);  // cropped against the new draw surface
  ASSERT_NE(e.screen->draw_surface, e.screen->video_surface);
  l->frame = kt::noise(l->geo.size, 5);
  for (size_t i = 3; i < l->frame.size(); i += 4) l->frame[i] = 0x00;
  l->blit_buffer = l->frame.data();
  l->set_position(2, 3);
  paint(kt::noise(e.screen->size, 6));
  e.screen->blit(l.get());
  for (int y = 0; y < 4; y++)
    for (int x = 0; x < 4; x++) {
      const uint8_t *got = kt::screen_pixel(e.ctx, 2 + x, 3 + y), *src = &l->frame[(y * 4 + x) * 4];
      EXPECT_EQ(memcmp(got, src, 3), 0) << x << "," << y;
      EXPECT_EQ(got[3], 0xFF) << x << "," << y;
    }
}

TEST_F(Blit, AlphaBlendsWithLayerAlpha) {
  auto l = layer(64, 32);
  l->frame = kt::noise(l->geo.size, 8);
  l->blit_buffer = l->frame.data();
  l->set_position(100, 50);
  l->set_blit(BLIT_ALPHA);
  const std::vector<uint8_t> back = kt::noise(e.screen->size, 9);
  for (int a : {0, 1, 77, 128, 200, 254, 255}) {
    l->set_alpha(a);
    paint(back);
    e.screen->blit(l.get());
    const std::vector<uint8_t> got = snapshot();
    int worst = 0;
    for (int y = 0; y < kSH; y++)
      for (int x = 0; x < kSW; x++) {
        const size_t at = ((size_t)y * kSW + x) * 4;
        const bool inside = x >= 100 && x < 164 && y >= 50 && y < 82;
        if (!inside || a == 0) {
          ASSERT_EQ(memcmp(&got[at], &back[at], 4), 0) << "alpha " << a << " at " << x << "," << y;
          continue;
        }
        const uint8_t *src = &l->frame[((size_t)(y - 50) * 64 + (x - 100)) * 4];
        for (int i = 0; i < 3; i++) {
          const int d = got[at + i] - vt::blend(a, src[i], back[at + i]);
          worst = std::max(worst, d < 0 ? -d : d);
          if (a == 255) {
            ASSERT_EQ(got[at + i], src[i]) << "opaque at " << x << "," << y;
          }
        }
      }
    EXPECT_LE(worst, 2) << "alpha " << a;
  }
}

TEST_F(Blit, InvalidCodesLogAndDrawNothing) {
  auto l = layer(32, 32);
  l->fill(0xFFFFFFFF);
  l->set_position(10, 10);
  const std::vector<uint8_t> back = kt::noise(e.screen->size, 12);
  for (int code : {0, 10, 255}) {
    l->set_blit(code);
    paint(back);
    kt::StderrCapture log;
    e.screen->blit(l.get());
    e.screen->blit(l.get());
    EXPECT_EQ(log.text(), "[!] invalid algo blit\n[!] invalid algo blit\n") << "code " << code;
    const std::vector<uint8_t> got = snapshot();
    EXPECT_EQ(kt::fnv1a(got.data(), got.size()), kt::fnv1a(back.data(), back.size())) << "code " << code;
  }
}

TEST_F(Blit, HiddenLayerDrawsNothingInAnyMode) {
  auto l = layer(32, 32);
  l->fill(0xFFFFFFFF);
  l->set_position(-200, 10);
  ASSERT_TRUE(l->hidden);
  const std::vector<uint8_t> back = kt::noise(e.screen->size, 13);
  paint(back);
  kt::StderrCapture log;
  for (int code = 0; code <= 10; code++) {
    l->set_blit(code);
    l->set_alpha(255);
    e.screen->blit(l.get());
  }
  EXPECT_EQ(log.text(), "");  // not even the invalid codes are looked at
  const std::vector<uint8_t> got = snapshot();
  EXPECT_EQ(kt::fnv1a(got.data(), got.size()), kt::fnv1a(back.data(), back.size()));
}

// A layer asked to draw before it has any frame must not touch the screen.
TEST_F(Blit, LayerWithoutFrameDrawsNothing) {
  auto l = layer(16, 16);
  l->blit_buffer = nullptr;
  l->set_position(3, 3);
  const std::vector<uint8_t> back = kt::noise(e.screen->size, 14);
  paint(back);
  for (int code = BLIT_RGB; code <= BLIT_ALPHA; code++) {
    l->set_blit(code);
    e.screen->blit(l.get());
  }
  const std::vector<uint8_t> got = snapshot();
  EXPECT_EQ(kt::fnv1a(got.data(), got.size()), kt::fnv1a(back.data(), back.size()));
}

}  // namespace
