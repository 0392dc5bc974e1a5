// On-screen display: the font table, line texts and colours, the three
// lines drawn pixel by pixel at their rows, and text crossing the edges.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "test_support.h"

namespace {

// Compares the w x h screen with `text` drawn at (x0, y0) in `colour` over
// black, glyph rows two pixels tall from the second row below (x0, y0):
// worked out from the font's bits. Returns the number of wrong pixels.
int wrong_pixels(Context &ctx, const std::string (&texts)[3], const int (&y0)[3], uint32_t colour,
                 int x0 = 152) {
  int wrong = 0;
  for (int y = 0; y < ctx.screen->h; y++)
    for (int x = 0; x < ctx.screen->w; x++) {
      bool ink = false;
      for (int i = 0; i < 3; i++) {
        const int dy = y - y0[i] - 2, dx = x - x0, c = dx / 8;
        if (dy >= 0 && dy < 16 && dx >= 0 && c < (int)texts[i].size() && c < 49)
          ink |= (Osd::fontdata[(uint8_t)texts[i][c] * 8 + dy / 2] & (0x80 >> dx % 8)) != 0;
      }
      uint32_t got;
      memcpy(&got, kt::screen_pixel(ctx, x, y), 4);
      wrong += got != (ink ? colour : 0u);
    }
  return wrong;
}

}  // namespace

TEST(OsdFont, SampleGlyphs) {
  const struct {
    int code;
    uint64_t rows;  // top row in the high byte
  } glyphs[] = {
      {5, 0x387C38FEFED61038}, {128, 0x7CC6C0C0C67C0C78}, {33, 0x183C3C3C18001800},
      {36, 0x183E603C067C1800}, {48, 0x7CC6DEFEF6C67C00}, {64, 0x7CC6DEDEDEC07C00},
      {65, 0x10386CC6FEC6C600}, {81, 0x7CC6C6C6F6DE7C06}, {87, 0xC6C6C6D6FEEEC600},
      {95, 0x00000000000000FE}, {103, 0x00007EC6C67E067C}, {107, 0xC0C0CCD8F0D8CC00},
      {119, 0x0000C6C6D6FE6C00}, {123, 0x0E18187018180E00}, {126, 0x729C000000000000},
      {219, ~0ull}, {0, 0}, {32, 0}, {255, 0},
  };
  auto glyph = [](int code) {
    uint64_t v = 0;
    for (int r = 0; r < 8; r++) v = v << 8 | Osd::fontdata[code * 8 + r];
    return v;
  };
  for (const auto &g : glyphs) EXPECT_EQ(glyph(g.code), g.rows) << g.code;
  for (int c = 1; c < 255; c++) EXPECT_TRUE(c == 32 || glyph(c)) << "code " << c << " is blank";
}

TEST(OsdText, LinesAreCutTo49CleanKeepsTextsColourCodes) {
  Osd osd;
  const char *line = "those are the last processes of your consciousness,";
  EXPECT_EQ(osd.print_top("%s", line), 51) << "the untruncated length";
  EXPECT_EQ(std::string(osd.top_text), std::string(line, 49));
  EXPECT_EQ(osd.print_low("%d-%s", 7, "x"), 3);
  osd.clean();
  osd.print_mid("mid");
  EXPECT_TRUE(!osd.show_top && osd.show_mid && !osd.show_low);
  EXPECT_STREQ(osd.low_text, "7-x");
  const uint32_t words[] = {0x000000, 0xFEFEFE, 0x00EE00, 0xEE0000, 0x0000FE, 0xFFEF00};
  for (int c = 0; c < 6; c++) {
    osd.set_color((colors)c);
    EXPECT_EQ(osd.color, words[c]) << "code " << c;
  }
  osd.set_color((colors)6);
  osd.set_color((colors)-1);
  EXPECT_EQ(osd.color, 0xFFEF00u) << "invalid codes change nothing";
}

// At 640x480 the lines start at (152, 120), (152, 180), (152, 240): a full
// line of 49 characters covers columns 152-543 and rows 122-137, 182-197,
// 242-257. Only lines that are on are drawn.
TEST(OsdScreen, ThreeLinesPixelExactAtTheirRows) {
  kt::Engine e;
  ASSERT_TRUE(e.ok);
  Osd &osd = e.ctx.osd;
  const std::string texts[3] = {std::string(51, '\xDB'),
                                "those are the last processes of your consciousness,",
                                "A\x80~\x05g \x01"};  // high codes are glyphs too
  osd.print_top("%s", texts[0].c_str());
  osd.print_mid("%s", texts[1].c_str());
  osd.print_low("%s", texts[2].c_str());
  e.screen->clear();
  osd.cafudda();
  EXPECT_EQ(wrong_pixels(e.ctx, texts, {120, 180, 240}, 0xFEFEFE), 0);
  EXPECT_EQ(*(uint32_t *)kt::screen_pixel(e.ctx, 543, 137), 0xFEFEFEu);
  EXPECT_EQ(*(uint32_t *)kt::screen_pixel(e.ctx, 544, 137), 0u);

  osd.clean();
  osd.print_mid("%s", texts[2].c_str());
  osd.set_color(GREEN);
  e.screen->clear();
  osd.cafudda();
  EXPECT_EQ(wrong_pixels(e.ctx, {"", texts[2], ""}, {120, 180, 240}, 0x00EE00), 0);
  EXPECT_EQ(kt::screen_pixel(e.ctx, 152, 190)[1], 0xEE) << "green is the second byte";
}

// Text crossing an edge is clipped there: nothing beyond the surface, no
// wrap-around onto the next rows, the visible part where it belongs.
TEST(OsdScreen, TextCrossingAnEdgeIsClipped) {
  kt::Engine e(64, 24);
  ASSERT_TRUE(e.ok);
  kt::GuardedSurface surface(*e.screen);
  ASSERT_TRUE(surface.ok());
  const struct {
    int x, y;
    std::string text;
  } rows[] = {
      {20, 0, std::string(12, '\xDB')}, {50, 14, "W\xDB"}, {4, -6, "\xDB"},
      {63, 23, "W\xDB"}, {0, 30, "W"}, {-30000, -30000, "W"},
  };
  for (const auto &r : rows) {
    SCOPED_TRACE(testing::Message() << r.x << "," << r.y);
    memset(surface.pixels(), 0, surface.bytes());
    e.ctx.osd.print(r.text.c_str(), (uint32_t *)e.screen->coords(r.x, r.y), 1, 2);
    EXPECT_EQ(surface.damaged(), 0);
    EXPECT_EQ(wrong_pixels(e.ctx, {r.text, "", ""}, {r.y, 0, 0}, 0xFEFEFE, r.x), 0);
  }
}
