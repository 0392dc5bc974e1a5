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

// Codes 32 to 126 in full, and samples of the code page's other glyphs.
TEST(OsdFont, AsciiTableAndSampleGlyphs) {
  const std::string ascii =  // 16 hexadecimal digits a glyph, top row first
      "0000000000000000183C3C3C180018006C6C0000000000006C6CFE6CFE6C6C00183E603C067C1800"
      "00C6CC183066C600386C6876DCCC760018183000000000000C18303030180C0030180C0C0C183000"
      "00663CFF3C6600000018187E1818000000000000001818300000007E000000000000000000181800"
      "03060C183060C0007CC6DEFEF6C67C0018781818181818007CC60C183060FE007CC6061C06C67C00"
      "1C3C6CCCFE0C0C00FEC0FC0606C67C003860C0FCC6C67C00FE060C18306060007CC6C67CC6C67C00"
      "7CC6C67E060C3800001818000018180000181800001818300C18306030180C0000007E00007E0000"
      "30180C060C1830003C66060C180018007CC6DEDEDEC07C0010386CC6FEC6C600FCC6C6FCC6C6FC00"
      "7CC6C0C0C0C67C00FCC6C6C6C6C6FC00FEC0C0F8C0C0FE00FEC0C0F8C0C0C0007CC6C0CEC6C67C00"
      "C6C6C6FEC6C6C6007E18181818187E0006060606C6C67C00C6CCD8F0D8CCC600C0C0C0C0C0C0FE00"
      "82C6EEFED6C6C600C6E6F6DECEC6C6007CC6C6C6C6C67C00FCC6C6FCC0C0C0007CC6C6C6F6DE7C06"
      "FCC6C6FCD8CCC6007CC660380CC67C007E18181818181800C6C6C6C6C6C67C00C3C366663C3C1800"
      "C6C6C6D6FEEEC600C3663C183C66C300C3C3663C18181800FE060C183060FE003C30303030303C00"
      "C06030180C0603003C0C0C0C0C0C3C0010386CC60000000000000000000000FE18180C0000000000"
      "00007C067EC67E00C0C0FCC6C6C6FC0000007CC6C0C67C0006067EC6C6C67E0000007CC6FEC07C00"
      "3C6660F06060600000007EC6C67E067CC0C0FCC6C6C6C6001800381818181800060006060606C67C"
      "C0C0CCD8F0D8CC0038181818181818000000ECFED6C6C6000000FCC6C6C6C60000007CC6C6C67C00"
      "0000FCC6C6FCC0C000007EC6C67E06060000DCE6C0C0C00000007EC07C06FC0030307C3030361C00"
      "0000C6C6C6C67C000000C6C6C66C38000000C6C6D6FE6C000000C66C386CC6000000C3663C183060"
      "0000FE0C3860FE000E18187018180E0018181818181818007018180E18187000729C000000000000";
  auto glyph = [](int code) {
    char hex[17];
    uint64_t v = 0;
    for (int r = 0; r < 8; r++) v = v << 8 | Osd::fontdata[code * 8 + r];
    snprintf(hex, sizeof hex, "%016llX", (unsigned long long)v);
    return std::string(hex);
  };
  for (int c = 32; c <= 126; c++) EXPECT_EQ(glyph(c), ascii.substr((c - 32) * 16, 16)) << c;
  EXPECT_EQ(glyph(5), "387C38FEFED61038");  // club
  EXPECT_EQ(glyph(128), "7CC6C0C0C67C0C78");  // C cedilla
  EXPECT_EQ(glyph(219), "FFFFFFFFFFFFFFFF");  // full block
  for (int c = 0; c < 256; c++)
    EXPECT_EQ(glyph(c) == "0000000000000000", c == 0 || c == 32 || c == 255) << c;
}

TEST(OsdText, LinesAreCutTo49CleanKeepsTextsColourCodes) {
  Osd osd;
  const char *line = "those are the last processes of your consciousness,";
  EXPECT_EQ(osd.print_top("%s", line), 51) << "the untruncated length";
  EXPECT_EQ(std::string(osd.top_text), std::string(line, 49));
  EXPECT_EQ(osd.print_low("%d-%s", 7, "x"), 3);
  osd.print_mid("mid");
  osd.clean();
  EXPECT_FALSE(osd.show_top || osd.show_mid || osd.show_low);
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

// What a viewer sees: the OSD's text over an opaque full-screen layer, and
// a layer blended at alpha 96 over it, on surfaces whose format differs
// from the layers' (an alpha channel) and whose lines are padded.
TEST(OsdScreen, TextOverOpaqueAndBlendedLayersOnAnySurface) {
  kt::Engine e(160, 120);
  ASSERT_TRUE(e.ok);
  const struct {
    uint32_t amask;
    int padding;
  } surfaces[] = {{0, 0}, {0, 64}, {e.screen->amask, 0}, {e.screen->amask, 36}};
  for (const auto &sf : surfaces) {
    SCOPED_TRACE(testing::Message() << "alpha channel " << (sf.amask != 0) << ", padding "
                                    << sf.padding);
    kt::GuardedSurface surface(*e.screen, sf.amask, sf.padding);
    ASSERT_TRUE(surface.ok());
    e.ctx.osd.init(&e.ctx);
    auto *back = new kt::TestLayer(), *front = new kt::TestLayer(40, 40);
    back->init(&e.ctx);
    front->init(&e.ctx);
    back->fill(0x00204060);  // bytes 60 40 20 00: blue 0x60, green 0x40, red 0x20
    front->fill(0x00E0C0A0);
    front->set_blit(BLIT_ALPHA);
    front->set_alpha(96);
    e.ctx.layers.add(front);
    e.ctx.layers.add(back);  // the bottom
    const std::string texts[3] = {"", "OVER", ""};
    e.ctx.osd.clean();
    e.ctx.osd.print_mid("%s", texts[1].c_str());
    e.ctx.lockstep = true;
    e.ctx.cafudda(0);  // the layers' first frames are made
    e.ctx.cafudda(0);
    int wrong = 0;
    for (int y = 0; y < 120; y++)
      for (int x = 0; x < 160; x++) {
        const uint8_t *p = kt::screen_pixel(e.ctx, x, y);
        const int dy = y - 2, dx = x - 62, c = dx / 8;  // the middle line's place
        const bool ink = dy >= 0 && dy < 16 && dx >= 0 && c < 4 &&
                         (Osd::fontdata[(uint8_t)texts[1][c] * 8 + dy / 2] & (0x80 >> dx % 8));
        const bool under = x >= 60 && x < 100 && y >= 40 && y < 80;
        for (int ch = 0; ch < 3; ch++) {
          const int b = 0x60 - ch * 0x20, f = 0xA0 + ch * 0x20;
          const int want = ink ? 0xFE : under ? (f * 96 + b * 159) / 255 : b;
          wrong += abs(p[ch] - want) > 2;
        }
      }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(surface.damaged(), 0);
    for (Layer *l : {(Layer *)front, (Layer *)back}) {
      l->rem();
      if (l->stop()) delete l;
    }
  }
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

// A canvas shown twice as large: the lines at twice their places, each
// glyph pixel a 2x2 block (16 x 32 a glyph), so the picture is the 1x one
// enlarged exactly; nothing is drawn outside a letterboxed canvas.
TEST(OsdScreen, ACanvasShownLargerDrawsWholeMultiplesOfTheFont) {
  const std::string texts[3] = {"Top of the show", "those are the last processes of your",
                                "A\x80~\x05g \x01"};
  auto draw = [&](int w, int h, int canvas_w, int canvas_h) {
    kt::Engine e(w, h);
    EXPECT_TRUE(e.ok);
    e.ctx.set_canvas(canvas_w, canvas_h, false);
    Osd &osd = e.ctx.osd;
    osd.init(&e.ctx);
    osd.print_top("%s", texts[0].c_str());
    osd.print_mid("%s", texts[1].c_str());
    osd.print_low("%s", texts[2].c_str());
    e.screen->clear();
    osd.cafudda();
    return kt::screen_bytes(*e.screen);
  };
  const std::vector<uint8_t> one = draw(320, 240, 0, 0);
  const std::vector<uint8_t> two = draw(640, 480, 320, 240);
  ASSERT_EQ(two.size(), one.size() * 4);
  int wrong = 0, ink = 0;
  for (int y = 0; y < 480; y++)
    for (int x = 0; x < 640; x++) {
      wrong +=
          memcmp(&two[((size_t)y * 640 + x) * 4], &one[((size_t)y / 2 * 320 + x / 2) * 4], 4) != 0;
      ink += two[((size_t)y * 640 + x) * 4] != 0;
    }
  EXPECT_EQ(wrong, 0);
  EXPECT_GT(ink, 1000);

  // 2.25 times, letterboxed on 900x540 (the canvas 720x540 at 90..810):
  // glyphs twice the font, a long line cut at the canvas's edge, not drawn
  // into the bar.
  kt::Engine e(900, 540);
  ASSERT_TRUE(e.ok);
  e.ctx.set_canvas(320, 240, false);
  e.ctx.osd.init(&e.ctx);
  e.ctx.osd.print_mid("%s", std::string(49, '\xDB').c_str());
  e.screen->clear();
  e.ctx.osd.cafudda();
  const std::vector<uint8_t> boxed = kt::screen_bytes(*e.screen);
  auto lit = [&](int x, int y) { return boxed[((size_t)y * 900 + x) * 4] != 0; };
  const int left = 90 + 207, row = 135 + 4;  // canvas 92, 60: the mid line's first glyph row
  EXPECT_TRUE(lit(left, row));
  EXPECT_FALSE(lit(left - 1, row));
  EXPECT_TRUE(lit(left, row + 31)) << "a glyph 32 rows tall";
  EXPECT_FALSE(lit(left, row + 32));
  EXPECT_TRUE(lit(809, row));
  int in_bars = 0;
  for (int y = 0; y < 540; y++)
    for (int x = 0; x < 900; x++) in_bars += (x < 90 || x >= 810) && lit(x, y);
  EXPECT_EQ(in_bars, 0);
}
