// Text scroller: the font table, lines from files, the frame-by-frame rise
// of the lines at both spacings, the columns of a drawn line, going
// inactive once the last line has left at the top, and a larger canvas.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "kolvex.h"
#include "scroll_layer.h"
#include "test_support.h"

namespace {

class Scroller : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ctx.init(640, 480));
    ASSERT_TRUE(scroll.init(&ctx));
  }
  void TearDown() override {
    if (!file.empty()) unlink(file.c_str());
  }
  // A text file with `content`, removed at the end of the test.
  const char *text_file(const std::string &content) {
    char tmpl[] = "/tmp/kolvex_scroll_XXXXXX";
    const int fd = mkstemp(tmpl);
    EXPECT_EQ(write(fd, content.data(), content.size()), (ssize_t)content.size());
    close(fd);
    return (file = tmpl).c_str();
  }

  Context ctx;  // declared first: outlives the layer
  ScrollLayer scroll;
  std::string file;
};

// Rows of the layer's next frame holding any ink.
std::set<int> ink_rows(ScrollLayer &s) {
  const uint32_t *frame = (const uint32_t *)s.feed();
  std::set<int> rows;
  for (int i = 0; i < 640 * 480; i++)
    if (frame[i]) rows.insert(i / 640);
  return rows;
}

uint64_t glyph(int c) {
  uint64_t v = 0;
  for (int r = 0; r < 8; r++) v = v << 8 | ScrollLayer::fontdata[c * 8 + r];
  return v;
}

TEST(ScrollFont, ListedGlyphsAndBlankRanges) {
  const std::pair<int, uint64_t> listed[] = {{1, 0x7E81A581BD99817Eull},
                                             {5, 0x00183CE7E73C1800ull},
                                             {17, 0x00061E7E7E1E0600ull},
                                             {31, 0x007E7E3C3C181800ull},
                                             {36, 0x0C3F683E0B7E1800ull},
                                             {65, 0x3C66667E66666600ull},
                                             {95, 0x00000000000000FFull},
                                             {113, 0x00003E66663E0607ull},
                                             {126, 0x316B460000000000ull},
                                             {127, ~0ull},
                                             {219, ~0ull},
                                             {223, 0xFFFFFFFF00000000ull},
                                             {220, 0x00000000FFFFFFFFull}};
  for (auto &g : listed) EXPECT_EQ(glyph(g.first), g.second) << "code " << g.first;
  for (int c = 0; c < 256; c++) {
    const bool blank = c == 0 || c == ' ' || (c >= 6 && c <= 15) || (c >= 18 && c <= 29) ||
                       (c >= 128 && c < 176) || c >= 224;
    EXPECT_EQ(glyph(c) == 0, blank) << "code " << c;
  }
}

// Lines keep their newline; a file line longer than 510 characters becomes
// several lines; a NUL ends the text of the read it is in, and a read that
// starts with one adds no line; the last line needs no newline.
TEST_F(Scroller, OpenAppendsTheFilesLines) {
  const std::string a(1200, 'a');
  const char tail[] = "ab\0cd\n\0hidden\nlast";
  ASSERT_TRUE(scroll.open(text_file("first\n" + a + "\n" + std::string(tail, sizeof tail - 1))));
  scroll.append("");
  std::vector<std::string> got;
  for (txtline *l = scroll.first; l; l = l->next) got.push_back(l->text);
  EXPECT_EQ(got, (std::vector<std::string>{"first\n", a.substr(0, 510), a.substr(0, 510),
                                           a.substr(0, 180) + "\n", "ab", "last"}));
  EXPECT_EQ(scroll.first->next->len, 71) << "drawn length cut to the width, the text kept whole";

  kt::StderrCapture cap;
  EXPECT_FALSE(scroll.open("/nonexistent/dio.c"));
  EXPECT_EQ(
      cap.text(),
      "[!] ScrollLayer::open : error opening /nonexistent/dio.c : No such file or directory\n");
}

// Every line takes `step` rows a frame; the next one starts once the one
// before has risen its 8 rows and the line space (`wait` frames after its
// own first frame); a line is dropped when it reaches the top, and the
// layer goes inactive in the frame after the last one left.
TEST_F(Scroller, LinesRiseFrameByFrame) {
  struct Row {
    const char *what;
    int step, space, lines, frames, wait;
  } rows[] = {{"the engine's spacing", 2, 2, 3, 30, 4},
              {"the closing scroller's spacing", 1, 5, 2, 40, 12},
              {"one line up to the top", 2, 2, 1, 241, 4}};
  for (const Row &r : rows) {
    SCOPED_TRACE(r.what);
    ScrollLayer s;
    ASSERT_TRUE(s.init(&ctx));
    s.step = r.step;
    s.line_space = r.space;
    for (int i = 0; i < r.lines; i++) s.append("\x7f\x7f\x7f");  // solid cells
    s.active = true;
    for (int frame = 1; frame <= r.frames; frame++) {
      std::set<int> want;
      for (int i = 0; i < r.lines; i++) {
        const int pos = r.step * (frame - i * r.wait);
        if (pos >= r.space + 8 && pos < 480)
          for (int y = 480 - pos; y < 488 - pos; y++) want.insert(y);
      }
      ASSERT_EQ(ink_rows(s), want) << "frame " << frame;
    }
    EXPECT_EQ(s.active, r.frames * r.step <= 480);
  }
}

// Cells of 8 + 1 columns after a 10-column margin, bit 7 leftmost (the
// 'q' is not symmetric), a newline drawn as a blank cell.
TEST_F(Scroller, DrawnLineColumns) {
  const std::string text = std::string("\x7f\n\x7fq") + std::string(67, '\x7f') + "zzz";
  scroll.append(text.c_str());
  for (int i = 0; i < 5; i++) scroll.feed();
  const uint32_t *frame = (const uint32_t *)scroll.feed();  // pos 12: rows 468..475
  for (int r = 0; r < 8; r++)
    for (int x = 0; x < 640; x++) {
      const int cell = (x - 10) / 9, bit = (x - 10) % 9;
      const bool ink = x >= 10 && cell < 71 && bit < 8 &&
                       (ScrollLayer::fontdata[(uint8_t)text[cell] * 8 + r] & (0x80 >> bit));
      ASSERT_EQ(frame[(468 + r) * 640 + x], ink ? 0xFFFFFFFFu : 0u) << "row " << r << " x " << x;
    }
  EXPECT_EQ(*ink_rows(scroll).begin(), 466) << "one frame later, two rows higher";
}

// A margin past the edge draws nothing and writes nowhere (ASan watches);
// negative line spaces are the fuzzer's.
TEST_F(Scroller, MarginPastTheEdgeDrawsNothing) {
  scroll.margin = 700;
  scroll.append("\x7f\x7f\x7f");
  for (int i = 0; i < 5; i++) scroll.feed();
  EXPECT_EQ(ink_rows(scroll), std::set<int>());
}

}  // namespace

// On a canvas shown twice as large the scroller's frames are its 1x frames
// enlarged exactly: font, margin, rise and spacing all doubled.
TEST(ScrollCanvas, TwiceTheCanvasIsTheFrameEnlarged) {
  auto frames = [](int w, int h, bool twice) {
    kt::Engine e(w, h);
    EXPECT_TRUE(e.ok);
    if (twice) e.ctx.set_canvas(w / 2, h / 2, false);
    ScrollLayer s;
    EXPECT_TRUE(s.init(&e.ctx));
    s.append("The end, again.");
    s.append("\x01 credits \x02");
    std::vector<std::vector<uint32_t>> out;
    for (int f = 0; f < 30; f++) {
      const uint32_t *frame = (const uint32_t *)s.feed();
      out.emplace_back(frame, frame + (size_t)w * h);
    }
    return out;
  };
  const auto one = frames(160, 120, false), two = frames(320, 240, true);
  for (size_t f = 0; f < one.size(); f++) {
    int wrong = 0;
    for (int y = 0; y < 240; y++)
      for (int x = 0; x < 320; x++)
        wrong += two[f][(size_t)y * 320 + x] != one[f][(size_t)y / 2 * 160 + x / 2];
    EXPECT_EQ(wrong, 0) << "frame " << f;
  }
  EXPECT_NE(one.back(), std::vector<uint32_t>(160 * 120, 0)) << "text is up by then";
}
