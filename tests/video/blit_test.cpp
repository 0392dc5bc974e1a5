// The blit modes byte by byte: each row a hand-picked pixel (channel bytes,
// carries, borrows) and then whole fixed-seed noise frames in the same
// mode, against a byte-wise model; invalid codes log and draw nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "test_support.h"

namespace {
using Bytes = std::vector<uint8_t>;
}

TEST(Blit, EveryModeOnHandPickedPixelsAndNoise) {
  kt::Engine e;
  ASSERT_TRUE(e.ok);
  uint8_t *screen = (uint8_t *)e.screen->get_surface();
  const struct {
    int mode, alpha;
    Bytes layer, screen, want;  // one pixel, bytes in memory order
  } rows[] = {
      {BLIT_RGB, 255, {0x10, 0x20, 0x30, 0x40}, {1, 2, 3, 4}, {0x10, 0x20, 0x30, 0x40}},
      {BLIT_BLU, 255, {0x10, 0x20, 0x30, 0x40}, {1, 2, 3, 4}, {0x10, 2, 3, 4}},
      {BLIT_GRE, 255, {0x10, 0x20, 0x30, 0x40}, {1, 2, 3, 4}, {1, 0x20, 3, 4}},
      {BLIT_RED, 255, {0x10, 0x20, 0x30, 0x40}, {1, 2, 3, 4}, {1, 2, 0x30, 4}},
      // The fourth byte carries into red, red into green, green into blue.
      {BLIT_ADD, 255, {0x01, 0x02, 0x80, 0x20}, {0x10, 0x20, 0x90, 0xF0}, {0x11, 0x23, 0x11, 0x10}},
      {BLIT_ADD, 255, {0x00, 0x00, 0xC0, 0x00}, {0x00, 0x05, 0x50, 0x00}, {0x00, 0x06, 0x10, 0x00}},
      {BLIT_ADD, 255, {0x01, 0x00, 0x00, 0x00}, {0xFF, 0x00, 0x00, 0x00}, {0, 0, 0, 0}},  // lost
      {BLIT_ADD, 255, {0x00, 0x00, 0x00, 0x01}, {0xFF, 0xFF, 0xFF, 0xFF}, {0, 0, 0, 0}},
      {BLIT_SUB, 255, {0x00, 0x00, 0x00, 0x02}, {0x00, 0x00, 0x00, 0x01}, {0xFF, 0xFF, 0xFF, 0xFF}},
      {BLIT_SUB, 255, {0x00, 0x00, 0x00, 0x01}, {0x10, 0x00, 0x00, 0x00}, {0x0F, 0xFF, 0xFF, 0xFF}},
      {BLIT_SUB, 255, {0x01, 0x00, 0x40, 0x00}, {0x05, 0x00, 0x30, 0x07}, {0x03, 0xFF, 0xF0, 0x07}},
      {BLIT_AND, 255, {0xF0, 0x0F, 0xAA, 0xFF}, {0x3C, 0x3C, 0x55, 0x81}, {0x30, 0x0C, 0x00, 0x81}},
      {BLIT_OR, 255, {0xF0, 0x0F, 0xAA, 0x00}, {0x3C, 0x3C, 0x55, 0x81}, {0xFC, 0x3F, 0xFF, 0x81}},
      {BLIT_ALPHA, 255, {0x10, 0x20, 0x30, 0x40}, {1, 2, 3, 4}, {0x10, 0x20, 0x30, 0x40}},
      {BLIT_ALPHA, 0, {0x10, 0x20, 0x30, 0x40}, {1, 2, 3, 4}, {1, 2, 3, 4}},
      {BLIT_ALPHA, 77, {0xFF, 0x00, 0x80, 0x40}, {0x00, 0xFF, 0x80, 4}, {77, 178, 0x80, 4}},
      {BLIT_INVALID, 255, {0x10, 0x20, 0x30, 0x40}, {1, 2, 3, 4}, {1, 2, 3, 4}},
      {10, 255, {0x10, 0x20, 0x30, 0x40}, {1, 2, 3, 4}, {1, 2, 3, 4}},
  };
  struct Shape {
    int w, h, x, y;
  };
  const std::vector<uint8_t> back = kt::noise(e.screen->size, 2004);
  for (const auto &r : rows) {
    SCOPED_TRACE(testing::Message() << "mode " << r.mode << " alpha " << r.alpha);
    const bool valid = r.mode >= BLIT_RGB && r.mode <= BLIT_ALPHA;
    kt::TestLayer one(1, 1);
    one.init(&e.ctx);
    memcpy(one.frame.data(), r.layer.data(), 4);
    one.blit_buffer = one.frame.data();
    one.set_blit(r.mode);
    one.set_alpha(r.alpha);
    one.set_position(5, 7);
    memcpy(kt::screen_pixel(e.ctx, 5, 7), r.screen.data(), 4);
    kt::StderrCapture log;
    e.screen->blit(&one);
    const uint8_t *p = kt::screen_pixel(e.ctx, 5, 7);
    for (int i = 0; i < (r.mode == BLIT_ALPHA ? 3 : 4); i++) 
      EXPECT_NEAR(p[i], r.want[i], r.mode == BLIT_ALPHA) << i;
    EXPECT_EQ(log.text(), valid ? "" : "[!] invalid algo blit\n");
    // Whole frames: the screen's size, and ones hanging off two edges.
    for (Shape s : {Shape{640, 480, 0, 0}, Shape{200, 150, -37, 401}, Shape{333, 77, 600, -20}}) {
      kt::TestLayer l(s.w, s.h);
      l.init(&e.ctx);
      l.frame = kt::noise(l.geo.size, 1000 + s.w);
      l.blit_buffer = l.frame.data();
      l.set_blit(r.mode);
      l.set_alpha(r.alpha);
      l.set_position(s.x, s.y);
      memcpy(screen, back.data(), back.size());
      kt::StderrCapture quiet;
      e.screen->blit(&l);
      EXPECT_EQ(kt::check_blit(back.data(), screen, 640, 480, l.frame.data(), s.w, s.h, s.x, s.y,
                               r.mode, r.alpha),
                "")
          << s.w << "x" << s.h;
    }
  }
}
