// Cropping a layer against the screen: the visible rectangle, the offset
// into the frame, the out-of-screen flag, parking and log lines; and a
// randomised check that crop + blit touch no pixel outside the layer's
// on-screen rectangle nor a byte outside the draw surface.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

constexpr int kSW = 64, kSH = 48;

// The "out of screen" lines of a log, each ending in "|".
std::string off_lines(const std::string &log) {
  std::string out, line;
  std::istringstream lines(log);
  while (std::getline(lines, line))
    if (kt::contains(line, "out of screen")) out += line.substr(4) + "|";
  return out;
}

}  // namespace

TEST(Crop, EdgeCases) {
  kt::Engine e(kSW, kSH);
  ASSERT_TRUE(e.ok);
  const struct {
    int w, h, x, y;
    const char *off;  // the out-of-screen lines; the layer is then hidden
    int park_x, park_y, cx, cy, cw, ch, offset;
  } rows[] = {
      {64, 48, 0, 0, "", 0, 0, 0, 0, 64, 48, 0},
      {100, 80, -18, -16, "", -18, -16, 0, 0, 64, 48, 18 * 4 + 16 * 400},
      {20, 10, -5, -3, "", -5, -3, 0, 0, 15, 7, 5 * 4 + 3 * 80},
      {20, 10, 50, 44, "", 50, 44, 50, 44, 14, 4, 0},
      // Just beside an edge: not flagged, nothing visible.
      {20, 10, -20, 5, "", -20, 5, 0, 5, 0, 10, 80},
      {20, 10, 64, 5, "", 64, 5, 64, 5, 0, 10, 0},
      {20, 10, 5, -10, "", 5, -10, 5, 0, 20, 0, 800},
      {20, 10, 5, 48, "", 5, 48, 5, 48, 20, 0, 0},
      // Wholly off: flagged and parked one pixel beyond the edge.
      {20, 10, -21, 5, "layer out of screen to the left|", -21, 5, 0, 0, 0, 0, 0},
      {20, 10, -400, 5, "layer out of screen to the left|", -21, 5, 0, 0, 0, 0, 0},
      {20, 10, 69, 5, "layer out of screen to the right|", 65, 5, 0, 0, 0, 0, 0},
      {20, 10, 30000, 5, "layer out of screen to the right|", 65, 5, 0, 0, 0, 0, 0},
      {20, 10, 5, -11, "layer out of screen up|", 5, -11, 0, 0, 0, 0, 0},
      {20, 10, 5, -30000, "layer out of screen up|", 5, -11, 0, 0, 0, 0, 0},
      {20, 10, 5, 50, "layer out of screen down|", 5, 49, 0, 0, 0, 0, 0},
      // Wholly off one edge and partly off another; far off two edges.
      {20, 10, -21, 45, "layer out of screen to the left|", -21, 45, 0, 0, 0, 0, 0},
      {16383, 2, -32768, -32768, "layer out of screen to the left|layer out of screen up|",
       -16384, -3, 0, 0, 0, 0, 0},
  };
  set_debug(2);
  for (const auto &r : rows) {
    SCOPED_TRACE(testing::Message() << r.w << "x" << r.h << " at " << r.x << "," << r.y);
    kt::TestLayer l(r.w, r.h);
    l.init(&e.ctx);
    for (int again = 0; again < 2; again++) {  // a parked layer crops the same again
      kt::StderrCapture log;
      again ? e.screen->crop(&l) : l.set_position(r.x, r.y);
      EXPECT_EQ(off_lines(log.text()), r.off);
      EXPECT_EQ(l.hidden, *r.off != '\0');
      EXPECT_EQ(l.geo.x, r.park_x);
      EXPECT_EQ(l.geo.y, r.park_y);
      if (l.hidden) continue;
      const BlitClip &c = l.clip;
      EXPECT_EQ(std::vector<int>({c.x, c.y, c.w, c.h, c.offset}),
                std::vector<int>({r.cx, r.cy, r.cw, r.ch, r.offset}));
      EXPECT_EQ(c.dest, e.screen->coords(r.cx, r.cy));
    }
  }
  set_debug(0);
}

// For random sizes and positions, near the edges and far away, every blit
// mode changes exactly the covered pixels, as the model says, and nothing
// outside the surface; on a surface with and without an alpha channel.
// A second layer cropped in between must not change what the first draws.
TEST(CropProperty, BlitStaysInsideLayerAndSurface) {
  kt::Engine e(kSW, kSH);
  ASSERT_TRUE(e.ok);
  uint32_t s = 0x2004;
  auto range = [&s](int lo, int hi) {
    s ^= s << 13, s ^= s >> 17, s ^= s << 5;
    return lo + (int)(s % (uint32_t)(hi - lo + 1));
  };
  kt::TestLayer other(7, 5);
  other.init(&e.ctx);
  for (bool alpha_channel : {false, true}) {
    kt::GuardedSurface surface(*e.screen, alpha_channel ? e.screen->amask : 0);
    ASSERT_TRUE(surface.ok());
    const int sizes[][2] = {{1, 1},  {3, 2},   {17, 9}, {64, 48},
                            {65, 47}, {100, 80}, {5, 70}, {90, 4}};
    for (const auto &size : sizes) {
      const int w = size[0], h = size[1];
      kt::TestLayer l(w, h);
      l.init(&e.ctx);
      for (int n = 0; n < 24; n++) {
        const int xs[] = {-w - 1, -w, -w + 1, 0, kSW - w, kSW - 1, kSW, kSW + 1};
        const int ys[] = {-h - 1, -h, -h + 1, 0, kSH - h, kSH - 1, kSH, kSH + 1};
        int x = range(-w - 3, kSW + 3), y = range(-h - 3, kSH + 3);  // every edge within reach
        if (n % 3 == 1) x = xs[range(0, 7)], y = ys[range(0, 7)];   // exactly on the edge cases
        if (n % 3 == 2) x = range(-32767, 32767), y = range(-32767, 32767);
        for (int mode = BLIT_RGB; mode <= BLIT_ALPHA; mode++) {
          const int alpha = range(0, 255);
          const std::vector<uint8_t> before = kt::noise(surface.bytes(), s);
          memcpy(surface.pixels(), before.data(), before.size());
          l.frame = kt::noise(l.geo.size, s ^ 0x5555);
          l.blit_buffer = l.frame.data();
          l.set_blit(mode);
          l.set_alpha(alpha);
          l.set_position(x, y);
          other.set_position(range(-8, kSW), range(-6, kSH));
          // Flagged only when no column or no line can show.
          ASSERT_EQ(l.hidden, x < -w || x > kSW || y < -h || y > kSH) << x << "," << y;
          e.screen->blit(&l);
          ASSERT_EQ(surface.damaged(), 0) << "mode " << mode << " " << w << "x" << h;
          ASSERT_EQ(kt::check_blit(before.data(), surface.pixels(), kSW, kSH, l.frame.data(), w, h,
                                   l.hidden ? kSW : x, y, mode, alpha, alpha_channel),
                    "");
        }
      }
    }
  }
}
