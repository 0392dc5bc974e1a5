// On-screen display: font table, line texts, placement, colour, clipping.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "kolvex.h"
#include "test_support.h"

namespace {

uint64_t glyph(const uint8_t *font, int code) {
  uint64_t v = 0;
  for (int r = 0; r < 8; r++) v = v << 8 | font[code * 8 + r];
  return v;
}

uint8_t reverse_bits(uint8_t b) {
  uint8_t r = 0;
  for (int i = 0; i < 8; i++)
    if (b & (1 << i)) r |= (uint8_t)(0x80 >> i);
  return r;
}

// A glyph moved to the top-left corner of its cell: console glyphs sit a
// pixel off centre, so a shape and its mirror image differ by a shift.
uint64_t trimmed(const uint8_t rows[8]) {
  uint8_t all = 0;
  int top = 8;
  for (int r = 0; r < 8; r++) {
    all |= rows[r];
    if (rows[r] && top == 8) top = r;
  }
  if (!all) return 0;
  int left = __builtin_clz((unsigned)all) - 24;
  uint64_t v = 0;
  for (int r = 0; r < 8; r++) v = v << 8 | (uint8_t)((r + top < 8 ? rows[r + top] : 0) << left);
  return v;
}

// Glyph b, mirrored left-right, has the shape of glyph a.
bool mirrored(const uint8_t *font, int a, int b) {
  uint8_t m[8];
  for (int r = 0; r < 8; r++) m[r] = reverse_bits(font[b * 8 + r]);
  return trimmed(font + a * 8) == trimmed(m);
}

// Glyph b, turned upside down, has the shape of glyph a.
bool flipped(const uint8_t *font, int a, int b) {
  uint8_t m[8];
  for (int r = 0; r < 8; r++) m[r] = font[b * 8 + 7 - r];
  return trimmed(font + a * 8) == trimmed(m);
}

int ink(const uint8_t *font, int code) {
  int n = 0;
  for (int r = 0; r < 8; r++) n += __builtin_popcount(font[code * 8 + r]);
  return n;
}

// A screen of plain memory with guard words on both sides, so that a
// write off the surface shows up. Only what the OSD uses is real.
class GuardScreen : public ViewPort {
 public:
  static constexpr uint32_t kGuard = 0xA5A5A5A5u;
  static constexpr uint32_t kBack = 0x11223344u;
  static constexpr int kPad = 4096;

  GuardScreen(int width, int height) {
    w = width;
    h = height;
    bpp = 32;
    pitch = w * 4;
    size = w * h * 4;
    store.assign((size_t)kPad * 2 + (size_t)w * h, kGuard);
    for (int i = 0; i < w * h; i++) pixels()[i] = kBack;
  }
  uint32_t *pixels() { return store.data() + kPad; }
  uint32_t &at(int x, int y) { return pixels()[y * w + x]; }
  bool guards_intact() const {
    for (int i = 0; i < kPad; i++)
      if (store[i] != kGuard || store[store.size() - 1 - i] != kGuard) return false;
    return true;
  }

  bool init(int, int) override { return true; }
  void set_magnification(int) override {}
  void blit(Layer *) override {}
  void crop(Layer *) override {}
  void show() override {}
  void clear() override {}
  void *get_surface() override { return pixels(); }
  void fullscreen() override {}
  bool lock() override { return true; }
  bool unlock() override { return true; }
  void *coords(int x, int y) override {
    return reinterpret_cast<void *>(reinterpret_cast<uintptr_t>(pixels()) +
                                    (uintptr_t)((intptr_t)(x + w * y) * 4));
  }

  std::vector<uint32_t> store;
};

// Expected ink of one text drawn at (x0, y0): screen pixel (X, Y) is set
// when it falls on a set font bit. Found from the pixel back to the bit.
bool expected_ink(const std::string &text, int x0, int y0, int hsize, int vsize, int X, int Y) {
  int dy = Y - y0 - vsize;
  int dx = X - x0;
  if (dy < 0 || dy >= 8 * vsize || dx < 0) return false;
  int c = dx / (8 * hsize);
  if (c >= (int)text.size()) return false;
  int bit = (dx % (8 * hsize)) / hsize;
  return Osd::fontdata[(uint8_t)text[c] * 8 + dy / vsize] & (0x80 >> bit);
}

// Compares the whole guard screen against the expected ink.
int count_mismatches(GuardScreen *scr, const std::string &text, int x0, int y0, int hsize,
                     int vsize, uint32_t color) {
  int bad = 0;
  for (int Y = 0; Y < scr->h; Y++)
    for (int X = 0; X < scr->w; X++) {
      uint32_t want =
          expected_ink(text, x0, y0, hsize, vsize, X, Y) ? color : GuardScreen::kBack;
      if (scr->at(X, Y) != want) bad++;
    }
  return bad;
}

class OsdGuard : public ::testing::Test {
 protected:
  void bind(int w, int h) {
    scr = new GuardScreen(w, h);
    ctx.screen = scr;  // owned and deleted by the context
    osd.env = &ctx;
    osd.set_color(WHITE);
  }
  Context ctx;
  GuardScreen *scr = nullptr;
  Osd osd;
};

// Bounding box of the pixels differing from 0 on the real screen.
struct Box {
  int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1;
  bool empty() const { return x1 < 0; }
};

Box ink_box(Context &ctx, int row_from, int row_to) {
  Box b;
  for (int y = row_from; y < row_to; y++)
    for (int x = 0; x < ctx.screen->w; x++) {
      uint32_t p;
      memcpy(&p, kt::screen_pixel(ctx, x, y), 4);
      if (!p) continue;
      if (x < b.x0) b.x0 = x;
      if (x > b.x1) b.x1 = x;
      if (y < b.y0) b.y0 = y;
      if (y > b.y1) b.y1 = y;
    }
  return b;
}

class OsdScreen : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(ctx.init(640, 480)); }
  void draw() {
    ctx.screen->clear();
    ctx.osd.cafudda();
  }
  Context ctx;
};

const std::string kSolid49(49, '\xDB');  // full blocks

}  // namespace

// ---------------------------------------------------------------------------
// The font table
// ---------------------------------------------------------------------------
TEST(OsdFont, SampleGlyphsAndAsciiTable) {
  const uint8_t *f = Osd::fontdata;
  EXPECT_EQ(glyph(f, 5), 0x387C38FEFED61038ull);    // club
  EXPECT_EQ(glyph(f, 128), 0x7CC6C0C0C67C0C78ull);  // C cedilla
  EXPECT_EQ(glyph(f, 33), 0x183C3C3C18001800ull);
  EXPECT_EQ(glyph(f, 48), 0x7CC6DEFEF6C67C00ull);
  EXPECT_EQ(glyph(f, 65), 0x10386CC6FEC6C600ull);
  EXPECT_EQ(glyph(f, 81), 0x7CC6C6C6F6DE7C06ull);
  EXPECT_EQ(glyph(f, 95), 0x00000000000000FEull);
  EXPECT_EQ(glyph(f, 103), 0x00007EC6C67E067Cull);
  EXPECT_EQ(glyph(f, 119), 0x0000C6C6D6FE6C00ull);
  EXPECT_EQ(glyph(f, 126), 0x729C000000000000ull);
  EXPECT_EQ(glyph(f, 0), 0u);
  EXPECT_EQ(glyph(f, 32), 0u);
  EXPECT_EQ(glyph(f, 255), 0u);
  for (int c = 1; c < 255; c++) {
    if (c == 32) continue;
    EXPECT_NE(glyph(f, c), 0u) << "code " << c << " is blank";
  }
}

TEST(OsdFont, Cp437PositionsOfPairedSymbols) {
  const uint8_t *f = Osd::fontdata;
  // Pairs that are each other's mirror image only at their CP437 places;
  // 175 is where other PC code pages put a different sign.
  EXPECT_TRUE(mirrored(f, 16, 17));    // triangles right / left
  EXPECT_TRUE(mirrored(f, 26, 27));    // arrows right / left
  EXPECT_TRUE(flipped(f, 24, 25));     // arrows up / down
  EXPECT_TRUE(flipped(f, 30, 31));     // triangles up / down
  EXPECT_TRUE(mirrored(f, 174, 175));  // guillemets
  EXPECT_TRUE(mirrored(f, 157, 157));  // yen sign is symmetric
  EXPECT_TRUE(mirrored(f, 221, 222));  // left / right half blocks
  EXPECT_TRUE(flipped(f, 220, 223));   // lower / upper half blocks
  EXPECT_EQ(glyph(f, 219), ~0ull);     // full block
  EXPECT_LT(ink(f, 176), ink(f, 177)); // shades light < medium < dark
  EXPECT_LT(ink(f, 177), ink(f, 178));
}

// ---------------------------------------------------------------------------
// Line texts
// ---------------------------------------------------------------------------
TEST(OsdText, LongTextIsCutTo49Characters) {
  Osd osd;
  const char *line = "those are the last processes of your consciousness,";
  ASSERT_EQ(strlen(line), 51u);
  EXPECT_EQ(osd.print_top("%s", line), 51);  // the untruncated length
  EXPECT_EQ(std::string(osd.top_text), std::string(line, 49));
  EXPECT_EQ(osd.top_text[51], '\0');
  EXPECT_EQ(osd.print_low("%d-%s", 7, "x"), 3);
  EXPECT_STREQ(osd.low_text, "7-x");
  EXPECT_STREQ(osd.top_text, std::string(line, 49).c_str());  // untouched
}

TEST(OsdText, CleanThenPrintMidKeepsOtherTexts) {
  Osd osd;
  EXPECT_FALSE(osd.show_top || osd.show_mid || osd.show_low);
  osd.print_top("top");
  osd.print_mid("mid");
  osd.print_low("low");
  EXPECT_TRUE(osd.show_top && osd.show_mid && osd.show_low);
  osd.clean();
  EXPECT_FALSE(osd.show_top || osd.show_mid || osd.show_low);
  osd.print_mid("again");
  EXPECT_FALSE(osd.show_top);
  EXPECT_TRUE(osd.show_mid);
  EXPECT_FALSE(osd.show_low);
  EXPECT_STREQ(osd.top_text, "top");
  EXPECT_STREQ(osd.mid_text, "again");
  EXPECT_STREQ(osd.low_text, "low");
}

TEST(OsdText, ColorCodesAndInvalidOnes) {
  Osd osd;
  const uint32_t words[] = {0x000000, 0xFEFEFE, 0x00EE00, 0xEE0000, 0x0000FE, 0xFFEF00};
  for (int c = 0; c < 6; c++) {
    osd.set_color((colors)c);
    EXPECT_EQ(osd.color, words[c]) << "code " << c;
  }
  osd.set_color((colors)6);
  EXPECT_EQ(osd.color, 0xFFEF00u);
  osd.set_color((colors)-1);
  EXPECT_EQ(osd.color, 0xFFEF00u);
}

// ---------------------------------------------------------------------------
// Drawing on the 640x480 screen
// ---------------------------------------------------------------------------
TEST_F(OsdScreen, ThreeLinesPlacement) {
  Osd &osd = ctx.osd;
  EXPECT_EQ(osd.top_pos, ctx.screen->coords(152, 120));
  EXPECT_EQ(osd.mid_pos, ctx.screen->coords(152, 180));
  EXPECT_EQ(osd.low_pos, ctx.screen->coords(152, 240));
  osd.print_top("%s", kSolid49.c_str());
  osd.print_mid("%s", kSolid49.c_str());
  osd.print_low("%s%s", kSolid49.c_str(), "overflow");
  draw();
  const int rows[3][2] = {{122, 137}, {182, 197}, {242, 257}};
  int from = 0;
  for (auto &r : rows) {
    Box b = ink_box(ctx, from, r[1] + 20 < 480 ? r[1] + 20 : 480);
    EXPECT_EQ(b.y0, r[0]);
    EXPECT_EQ(b.y1, r[1]);
    EXPECT_EQ(b.x0, 152);
    EXPECT_EQ(b.x1, 543);
    from = r[1] + 20;
  }
  EXPECT_TRUE(ink_box(ctx, 278, 480).empty());
  uint32_t p;
  memcpy(&p, kt::screen_pixel(ctx, 300, 130), 4);
  EXPECT_EQ(p, 0xFEFEFEu);
}

TEST_F(OsdScreen, OnlyLinesThatAreOnAreDrawn) {
  Osd &osd = ctx.osd;
  osd.print_top("%s", kSolid49.c_str());
  osd.print_low("%s", kSolid49.c_str());
  osd.clean();
  osd.print_mid("%s", kSolid49.c_str());
  draw();
  Box all = ink_box(ctx, 0, 480);
  EXPECT_EQ(all.y0, 182);
  EXPECT_EQ(all.y1, 197);
  osd.print_top("%s", "");  // on, but draws nothing
  osd.clean();
  osd.print_top("%s", "");
  draw();
  EXPECT_TRUE(osd.show_top);
  EXPECT_TRUE(ink_box(ctx, 0, 480).empty());
}

TEST_F(OsdScreen, ColourBytesInScreenMemory) {
  ctx.osd.set_color(GREEN);
  ctx.osd.print_mid("%s", "\xDB");
  draw();
  // The word goes into the pixel as it is: on the screen's blue, green,
  // red byte order green is the second byte.
  const uint8_t *px = kt::screen_pixel(ctx, 152, 182);
  uint32_t word;
  memcpy(&word, px, 4);
  EXPECT_EQ(word, 0x00EE00u);
  EXPECT_EQ(px[1], 0xEE);
  EXPECT_EQ(px[0] | px[2] | px[3], 0);
}

// ---------------------------------------------------------------------------
// print() against a guarded screen: exact pixels, clipping at every edge
// ---------------------------------------------------------------------------
TEST_F(OsdGuard, PixelsMatchFontAndClearBitsLeaveBackground) {
  bind(96, 40);
  std::string text = "A\x80~\x05";  // high codes are glyphs too
  uint32_t *pos = (uint32_t *)scr->coords(3, 2);
  uint32_t *next = osd.print(text.c_str(), pos, 1, 2);
  EXPECT_EQ(next, (uint32_t *)scr->coords(3, 2 + 16));
  EXPECT_EQ(count_mismatches(scr, text, 3, 2, 1, 2, 0xFEFEFE), 0);
  EXPECT_TRUE(scr->guards_intact());
}

TEST_F(OsdGuard, BlockSizes) {
  bind(80, 60);
  osd.set_color(RED);
  std::string text = "\x03g";
  osd.print(text.c_str(), (uint32_t *)scr->coords(5, 1), 3, 4);
  EXPECT_EQ(count_mismatches(scr, text, 5, 1, 3, 4, 0xEE0000), 0);
}

TEST_F(OsdGuard, RightEdgeIsClippedNotWrapped) {
  bind(64, 24);
  // 12 full blocks from column 20: 96 pixels, 52 past the right edge.
  std::string text(12, '\xDB');
  osd.print(text.c_str(), (uint32_t *)scr->coords(20, 0), 1, 2);
  for (int y = 0; y < 24; y++)
    for (int x = 0; x < 64; x++) {
      bool on = y >= 2 && y < 18 && x >= 20;
      ASSERT_EQ(scr->at(x, y), on ? 0xFEFEFEu : GuardScreen::kBack) << x << "," << y;
    }
  EXPECT_TRUE(scr->guards_intact());
}

TEST_F(OsdGuard, BottomEdgeIsClipped) {
  bind(64, 24);
  std::string text = "W\xDB";
  // Glyph rows from screen row 16 on: rows 24..33 fall below the screen.
  osd.print(text.c_str(), (uint32_t *)scr->coords(50, 14), 1, 2);
  EXPECT_EQ(count_mismatches(scr, text, 50, 14, 1, 2, 0xFEFEFE), 0);
  EXPECT_EQ(scr->at(58, 23), 0xFEFEFEu);  // last visible row still drawn
  // Wholly below the screen, also from the last pixel.
  osd.print(text.c_str(), (uint32_t *)scr->coords(63, 23), 1, 2);
  osd.print(text.c_str(), (uint32_t *)scr->coords(0, 30), 1, 2);
  EXPECT_TRUE(scr->guards_intact());
  EXPECT_EQ(count_mismatches(scr, text, 50, 14, 1, 2, 0xFEFEFE), 0);
}

TEST_F(OsdGuard, TopEdgeIsClippedInPlace) {
  bind(64, 24);
  std::string text = "\xDB";
  // Starts 6 rows above the screen: glyph rows 0 and 1 are cut off, the
  // rest lands where it belongs rather than being pushed down.
  osd.print(text.c_str(), (uint32_t *)scr->coords(4, -6), 1, 2);
  for (int y = 0; y < 24; y++)
    for (int x = 0; x < 64; x++) {
      bool on = y < 12 && x >= 4 && x < 12;
      ASSERT_EQ(scr->at(x, y), on ? 0xFEFEFEu : GuardScreen::kBack) << x << "," << y;
    }
  EXPECT_TRUE(scr->guards_intact());
}

TEST_F(OsdGuard, CafuddaOnSmallScreenStaysInside) {
  // Lines placed for the screen's height but 49 characters wide on a
  // screen far narrower than 392 pixels.
  bind(200, 300);
  osd.init(&ctx);
  osd.print_top("%s", kSolid49.c_str());
  osd.print_mid("%s", kSolid49.c_str());
  osd.print_low("%s", kSolid49.c_str());
  osd.cafudda();
  EXPECT_TRUE(scr->guards_intact());
  int left = 300 / 4 + 32;
  EXPECT_EQ(scr->at(199, 150 - 120 + 2), 0xFEFEFEu);
  EXPECT_EQ(scr->at(left - 1, 150 - 120 + 3), GuardScreen::kBack);  // no wrap-around
}

TEST(OsdUnbound, CafuddaBeforeInitDrawsNothing) {
  Osd osd;
  osd.print_top("x");
  osd.cafudda();  // no screen yet: must not touch memory
  EXPECT_TRUE(osd.show_top);
}
