// Text scroller: lines from files and appends, rendering, the frame-by-
// frame rise of the lines, removal at the top and going inactive.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "kolvex.h"
#include "scroll_layer.h"
#include "test_support.h"

namespace {

constexpr uint32_t kInk = 0xFFFFFFFFu;

// A temporary text file, removed again at the end of the test.
class TempFile {
 public:
  explicit TempFile(const std::string &content) {
    char tmpl[] = "/tmp/kolvex_scroll_XXXXXX";
    int fd = mkstemp(tmpl);
    path_ = tmpl;
    if (fd >= 0) {
      if (write(fd, content.data(), content.size()) != (ssize_t)content.size()) path_.clear();
      ::close(fd);
    }
  }
  ~TempFile() {
    if (!path_.empty()) unlink(path_.c_str());
  }
  const char *path() const { return path_.c_str(); }

 private:
  std::string path_;
};

class Scroller : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ctx.init(640, 480));
    scroll = new ScrollLayer();
    ASSERT_TRUE(scroll->init(&ctx));
  }
  void TearDown() override { delete scroll; }

  const uint32_t *feed() { return static_cast<const uint32_t *>(scroll->feed()); }

  // Rows of the frame holding any ink.
  std::set<int> ink_rows(const uint32_t *frame) {
    std::set<int> rows;
    for (int y = 0; y < scroll->geo.h; y++)
      for (int x = 0; x < scroll->geo.w; x++)
        if (frame[y * scroll->geo.w + x]) {
          rows.insert(y);
          break;
        }
    return rows;
  }
  static std::set<int> span(int from, int to) {  // rows from..to inclusive
    std::set<int> s;
    for (int y = from; y <= to; y++) s.insert(y);
    return s;
  }
  static std::set<int> join(std::set<int> a, const std::set<int> &b) {
    a.insert(b.begin(), b.end());
    return a;
  }
  int count_lines() {
    int n = 0;
    for (txtline *l = scroll->first; l; l = l->next) n++;
    return n;
  }

  Context ctx;  // declared first: outlives the layer
  ScrollLayer *scroll = nullptr;
};

const char kBlocks[] = "\x7f\x7f\x7f";  // solid cells: all 8 rows inked

}  // namespace

// ---------------------------------------------------------------------------
// Set-up, font
// ---------------------------------------------------------------------------
TEST_F(Scroller, SettingsAfterInit) {
  EXPECT_STREQ(scroll->get_name(), "SCR");
  EXPECT_EQ(scroll->geo.w, 640);
  EXPECT_EQ(scroll->geo.h, 480);
  EXPECT_EQ(scroll->geo.bpp, 32);
  EXPECT_EQ(scroll->kerning, 1);
  EXPECT_EQ(scroll->max_chars, 71);
  EXPECT_EQ(scroll->step, 2);
  EXPECT_EQ(scroll->line_space, 2);
  EXPECT_EQ(scroll->margin, 10);
  EXPECT_FALSE(scroll->keypress(nullptr));
}

TEST(ScrollFont, ListedGlyphsAndBlankRanges) {
  auto glyph = [](int c) {
    uint64_t v = 0;
    for (int r = 0; r < 8; r++) v = v << 8 | ScrollLayer::fontdata[c * 8 + r];
    return v;
  };
  EXPECT_EQ(glyph(1), 0x7E81A581BD99817Eull);
  EXPECT_EQ(glyph(5), 0x00183CE7E73C1800ull);
  EXPECT_EQ(glyph(17), 0x00061E7E7E1E0600ull);
  EXPECT_EQ(glyph(31), 0x007E7E3C3C181800ull);
  EXPECT_EQ(glyph(36), 0x0C3F683E0B7E1800ull);
  EXPECT_EQ(glyph(65), 0x3C66667E66666600ull);
  EXPECT_EQ(glyph(95), 0x00000000000000FFull);
  EXPECT_EQ(glyph(113), 0x00003E66663E0607ull);
  EXPECT_EQ(glyph(126), 0x316B460000000000ull);
  EXPECT_EQ(glyph(127), ~0ull);
  EXPECT_EQ(glyph(219), ~0ull);                   // full block
  EXPECT_EQ(glyph(223), 0xFFFFFFFF00000000ull);   // upper half
  EXPECT_EQ(glyph(220), 0x00000000FFFFFFFFull);   // lower half
  EXPECT_EQ(glyph(196) & 0xFF, 0u);               // single horizontal:
  EXPECT_NE(glyph(196), 0u);                      //   one full row, mid-cell
  for (int c = 176; c < 224; c++) EXPECT_NE(glyph(c), 0u) << "code " << c;
  std::vector<int> blank = {0, '\n', '\t', 6, 15, 18, 29};
  for (int c = 128; c < 176; c++) blank.push_back(c);
  for (int c = 224; c < 256; c++) blank.push_back(c);
  for (int c : blank) EXPECT_EQ(glyph(c), 0u) << "code " << c;
}

// ---------------------------------------------------------------------------
// Lines: append and open
// ---------------------------------------------------------------------------
TEST_F(Scroller, AppendKeepsWholeTextCutsDrawnLength) {
  scroll->append("");
  EXPECT_EQ(scroll->first, nullptr);
  scroll->append(" ");
  std::string longtext(100, 'x');
  scroll->append(longtext.c_str());
  ASSERT_EQ(count_lines(), 2);
  txtline *a = scroll->first, *b = scroll->last;
  EXPECT_EQ(a->len, 1);
  EXPECT_EQ(a->next, b);
  EXPECT_EQ(b->prev, a);
  EXPECT_EQ(b->len, 71);
  EXPECT_EQ(std::string(b->text), longtext);
  EXPECT_EQ(b->pos, 0);
  EXPECT_FALSE(b->rendered);
}

TEST_F(Scroller, OpenAppendsFileLinesWithNewlines) {
  TempFile f("first line\nsecond\n");
  ASSERT_TRUE(scroll->open(f.path()));
  TempFile g("third");  // no newline at the end
  ASSERT_TRUE(scroll->open(g.path()));
  std::vector<std::string> got;
  for (txtline *l = scroll->first; l; l = l->next) got.push_back(l->text);
  EXPECT_EQ(got, (std::vector<std::string>{"first line\n", "second\n", "third"}));
}

TEST_F(Scroller, OpenSplitsVeryLongFileLines) {
  std::string big(1200, 'a');
  TempFile f(big + "\n");
  ASSERT_TRUE(scroll->open(f.path()));
  std::vector<size_t> sizes;
  for (txtline *l = scroll->first; l; l = l->next) sizes.push_back(strlen(l->text));
  EXPECT_EQ(sizes, (std::vector<size_t>{510, 510, 181}));
}

TEST_F(Scroller, OpenMissingFileFails) {
  kt::StderrCapture cap;
  EXPECT_FALSE(scroll->open("/nonexistent/dio.c"));
  std::string log = cap.text();
  EXPECT_TRUE(kt::contains(
      log, "[!] ScrollLayer::open : error opening /nonexistent/dio.c : No such file or directory"))
      << log;
  EXPECT_EQ(scroll->first, nullptr);
}

// The lines are C strings: a NUL ends the text of the read it is in (the
// rest up to the newline is lost), and a read that starts with one adds no
// line. Reading goes on after it.
TEST_F(Scroller, OpenCutsEachReadAtItsFirstNul) {
  const char bytes[] = "ab\0cd\n\0hidden\nef\n";
  TempFile f(std::string(bytes, sizeof bytes - 1));
  ASSERT_TRUE(scroll->open(f.path()));
  std::vector<std::string> got;
  for (txtline *l = scroll->first; l; l = l->next) {
    got.push_back(l->text);
    EXPECT_EQ(l->len, (int32_t)strlen(l->text));
  }
  EXPECT_EQ(got, (std::vector<std::string>{"ab", "ef\n"}));
  // They scroll away like any others.
  scroll->active = true;
  for (int frame = 0; frame < 1000 && scroll->active; frame++) feed();
  EXPECT_FALSE(scroll->active);
  EXPECT_EQ(scroll->first, nullptr);
}

// A megabyte on one line: a line of its own, with a full-width image, for
// every 510 characters; they rise and leave at the top in order.
TEST_F(Scroller, MegabyteLineBecomesManyLinesThatAllScroll) {
  const size_t n = 1 << 20;
  TempFile f(std::string(n, 'm') + "\nend\n");
  ASSERT_TRUE(scroll->open(f.path()));
  std::vector<size_t> sizes;
  for (txtline *l = scroll->first; l; l = l->next) {
    sizes.push_back(strlen(l->text));
    ASSERT_NE(l->image, nullptr);
    ASSERT_EQ(l->len, (int32_t)std::min<size_t>(sizes.back(), 71));
  }
  const size_t whole = n / 510;  // 2056 pieces of 510, then the rest and its newline
  ASSERT_EQ(sizes.size(), whole + 2);
  EXPECT_EQ(std::count(sizes.begin(), sizes.end(), (size_t)510), (long)whole);
  EXPECT_EQ(sizes[whole], n - whole * 510 + 1);
  EXPECT_STREQ(scroll->last->text, "end\n");

  txtline *oldest = scroll->first;
  scroll->active = true;
  std::set<int> rows;
  for (int frame = 0; frame < 2000; frame++) rows = ink_rows(feed());
  EXPECT_GT(rows.size(), 240u) << "lines follow each other up the whole screen";
  size_t left = 0;
  for (txtline *l = scroll->first; l; l = l->next) {
    ASSERT_EQ(l->next ? l->next->prev : scroll->last, l) << "list broken at line " << left;
    left++;
  }
  EXPECT_NE(scroll->first, oldest);
  EXPECT_GT(left, 0u);
  EXPECT_LT(left, sizes.size());
  EXPECT_EQ(scroll->first->prev, nullptr);
  EXPECT_STREQ(scroll->last->text, "end\n");
}

// ---------------------------------------------------------------------------
// Rendering
// ---------------------------------------------------------------------------
TEST_F(Scroller, RenderPutsGlyphsInCellsAfterMargin) {
  scroll->append("A\nB");
  txtline *l = scroll->first;
  scroll->render(l);
  EXPECT_TRUE(l->rendered);
  const int w = scroll->geo.w;
  for (int r = 0; r < 16; r++)
    for (int x = 0; x < w; x++) {
      bool want = false;
      int cell = (x - 10) / 9, bit = (x - 10) % 9;
      if (r < 8 && x >= 10 && cell < 3 && bit < 8) {
        uint8_t row = ScrollLayer::fontdata[(uint8_t)"A\nB"[cell] * 8 + r];
        want = row & (0x80 >> bit);
      }
      ASSERT_EQ(l->image[r * w + x], want ? kInk : 0u) << "row " << r << " x " << x;
    }
}

TEST_F(Scroller, FullWidthLineStaysInItsRows) {
  // 71 solid cells: the last one would start at column 640, past the edge.
  std::string text(71, '\x7f');
  scroll->append(text.c_str());
  txtline *l = scroll->first;
  EXPECT_EQ(l->len, 71);
  scroll->render(l);
  const int w = scroll->geo.w;
  for (int r = 0; r < 16; r++) {
    for (int x = 0; x < 10; x++) ASSERT_EQ(l->image[r * w + x], 0u) << "row " << r;
    if (r < 8) continue;
    for (int x = 0; x < w; x++) ASSERT_EQ(l->image[r * w + x], 0u) << "row " << r;
  }
  // The 70th cell ends at column 638; 639 is its kerning gap.
  EXPECT_EQ(l->image[637], kInk);
  EXPECT_EQ(l->image[638], kInk);
  EXPECT_EQ(l->image[639], 0u);
}

TEST_F(Scroller, OneLineRenderedPerFrame) {
  scroll->append("a");
  scroll->append("b");
  scroll->append("c");
  feed();
  EXPECT_TRUE(scroll->first->rendered);
  EXPECT_FALSE(scroll->first->next->rendered);
  for (int i = 0; i < 4; i++) feed();  // first reaches pos 10: second starts
  EXPECT_TRUE(scroll->first->next->rendered);
  EXPECT_FALSE(scroll->last->rendered);
}

// ---------------------------------------------------------------------------
// Motion
// ---------------------------------------------------------------------------
TEST_F(Scroller, ClosingScrollerSpacing) {
  scroll->step = 1;
  scroll->line_space = 5;
  scroll->append(kBlocks);
  scroll->append(kBlocks);
  const int h = 480;
  for (int frame = 1; frame <= 40; frame++) {
    std::set<int> want;
    if (frame >= 13) want = span(h - frame, h - frame + 7);
    if (frame >= 25) want = join(want, span(h - frame + 12, h - frame + 19));
    ASSERT_EQ(ink_rows(feed()), want) << "frame " << frame;
  }
}

TEST_F(Scroller, DefaultSpacing) {
  scroll->append(kBlocks);
  scroll->append(kBlocks);
  scroll->append(kBlocks);
  const int h = 480;
  for (int frame = 1; frame <= 30; frame++) {
    std::set<int> want;
    // Each line shows 4 frames after its start, at pos 10; lines 8 apart.
    for (int line = 0; line < 3; line++) {
      int pos = 2 * (frame - 4 * line);
      if (pos >= 10) want = join(want, span(h - pos, h - pos + 7));
    }
    ASSERT_EQ(ink_rows(feed()), want) << "frame " << frame;
  }
}

TEST_F(Scroller, NewlineDrawsEmptyCell) {
  scroll->append("\x7f\n\x7f");
  for (int i = 0; i < 5; i++) feed();
  const uint32_t *frame = feed();  // pos 12: rows 468..475
  const uint32_t *row = frame + 470 * 640;
  for (int x = 10; x < 37; x++) {
    bool in_middle_cell = x >= 19 && x < 28;
    bool gap = x == 18 || x == 27 || x == 36;
    EXPECT_EQ(row[x], (in_middle_cell || gap) ? 0u : kInk) << "x " << x;
  }
}

TEST_F(Scroller, LinesLeaveAtTopAndLayerGoesInactive) {
  scroll->append(kBlocks);
  scroll->active = true;
  // pos = 2 * frame; the line is dropped in the frame it reaches 480,
  // while its top is still in the first step rows.
  for (int frame = 1; frame < 239; frame++) feed();
  EXPECT_EQ(ink_rows(feed()), span(2, 9));  // frame 239, pos 478
  EXPECT_EQ(ink_rows(feed()), std::set<int>());  // frame 240: gone
  EXPECT_EQ(scroll->first, nullptr);
  EXPECT_EQ(scroll->last, nullptr);
  EXPECT_TRUE(scroll->active);
  const uint32_t *frame = feed();
  ASSERT_NE(frame, nullptr);
  EXPECT_FALSE(scroll->active);
  EXPECT_EQ(ink_rows(frame), std::set<int>());
}

TEST_F(Scroller, EmptyScrollerIsInactiveAtOnce) {
  scroll->active = true;
  EXPECT_NE(feed(), nullptr);
  EXPECT_FALSE(scroll->active);
}

TEST_F(Scroller, UnusualSettingsStayInsideTheFrame) {
  // A negative line_space lets a line show before it has risen 8 rows,
  // a large margin pushes text past the edge: nothing may be written
  // outside the line images or the frame.
  scroll->step = 1;
  scroll->line_space = -12;
  scroll->margin = 630;
  scroll->append(kBlocks);
  feed();
  std::set<int> rows = ink_rows(feed());  // pos 2: only rows 478, 479 fit
  EXPECT_EQ(rows, span(478, 479));
  scroll->margin = 700;
  scroll->append(kBlocks);
  for (int i = 0; i < 3; i++) feed();
  EXPECT_EQ(scroll->last->rendered, 1);
}

TEST_F(Scroller, CloseFreesLinesAndFrame) {
  scroll->append("x");
  scroll->append("y");
  scroll->close();
  EXPECT_EQ(scroll->first, nullptr);
  EXPECT_EQ(scroll->last, nullptr);
  EXPECT_EQ(scroll->frame, nullptr);
  EXPECT_EQ(scroll->feed(), nullptr);  // no frame to give after close
}
