// A show rendered at another size than its own: the whole picture scales
// with the screen, each layer kind and the OSD; where the aspects differ
// the canvas is letterboxed (or, with --fill, covers the screen).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "png_writer.h"
#include "test_support.h"

namespace {

// Renders a show (the text of a show file, `frames` long) with --size
// `size` and `extra` options into `dir`/`name`; frame `frame` (from 1).
kt::Picture render(const std::string &dir, const std::string &name, const std::string &show,
                   const std::string &size, int frame, const std::string &extra = "") {
  const std::string file = dir + "/" + name + ".txt";
  EXPECT_TRUE(kt::write_file(file, std::vector<uint8_t>(show.begin(), show.end())));
  const std::string out = dir + "/" + name + "_" + size;
  const std::string cmd = std::string(PLAYER_PROGRAM) + " -q --replay " + file + " --size " +
                          size + " --capture " + out + " --format png " + extra;
  const int status = system(cmd.c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << cmd;
  char png[32];
  snprintf(png, sizeof png, "/frame_%06d.png", frame);
  return kt::read_png(out + png);
}

// Each 2x2 block averaged: a 2x render brought back to 1x.
kt::Picture halved(const kt::Picture &p) {
  kt::Picture h;
  h.w = p.w / 2;
  h.h = p.h / 2;
  h.rgb.resize((size_t)h.w * h.h * 3);
  for (int y = 0; y < h.h; y++)
    for (int x = 0; x < h.w; x++)
      for (int c = 0; c < 3; c++) {
        const int sum = p.at(2 * x, 2 * y)[c] + p.at(2 * x + 1, 2 * y)[c] +
                        p.at(2 * x, 2 * y + 1)[c] + p.at(2 * x + 1, 2 * y + 1)[c];
        h.rgb[((size_t)y * h.w + x) * 3 + c] = (uint8_t)((sum + 2) / 4);
      }
  return h;
}

double psnr(const kt::Picture &a, const kt::Picture &b) {
  if (a.w != b.w || a.h != b.h || a.rgb.empty()) return 0;
  double sum = 0;
  for (size_t i = 0; i < a.rgb.size(); i++) {
    const double d = (double)a.rgb[i] - b.rgb[i];
    sum += d * d;
  }
  return sum == 0 ? 99 : 10 * std::log10(255.0 * 255 * a.rgb.size() / sum);
}

std::string show_of(const std::string &size, const std::string &body) {
  return "size " + size + "\nfps 24\nseed 9\n" + body;
}

// Rendered at twice its size and halved, a show gives back its own
// picture: pictures, clips, the generator and frei0r sources grow with the
// canvas instead of keeping their pixel size, and the OSD's glyphs double.
TEST(CanvasScale, TwiceTheSizeHalvedIsTheShowItself) {
  kt::TempDir dir;
  std::string clip_layer;
#ifdef KOLVEX_HAVE_FFMPEG
  const std::string clip = dir.path + "/clip.mp4";
  ASSERT_EQ(system(("ffmpeg -v error -nostdin -y -f lavfi -i testsrc2=s=192x144:r=24:d=1 "
                    "-pix_fmt yuv420p -crf 12 " + clip).c_str()), 0);
  clip_layer = "layer " + clip + "\n";
#endif
  const std::string ant = "layer " PLAYER_DATA_DIR "/ant.png";
  const struct Row {
    const char *what;
    std::string layers;
  } rows[] = {
      {"a PNG picture", ant + " --pos 20,10\n"},
      {"the generator", "layer layer_gen\n"},
      {"a frei0r source", "layer frei0r.test_pat_C\n"},
      {"a video clip", clip_layer},
      {"the stack with OSD text",
       clip_layer + "layer layer_gen --blit add\n" + ant + " --alpha 160 --pos 30,20\n" +
           "1 /osd/top \"Hello, canvas\"\n3 /layer/layer_gen/pos 10 -6\n"},
  };
  for (const Row &r : rows) {
    if (r.layers.empty()) continue;  // no video without FFmpeg
    SCOPED_TRACE(r.what);
    const std::string show = show_of("320x240", r.layers + "5 end\n");
    const kt::Picture one = render(dir.path, "show", show, "320x240", 5);
    const kt::Picture two = render(dir.path, "show", show, "640x480", 5);
    ASSERT_EQ(two.w, 640);
    const double db = psnr(halved(two), one);
    EXPECT_GE(db, 28.0);
  }
}

// A solid picture of w x h in `rgb`, as a PNG file.
std::string solid_png(const std::string &path, int w, int h, uint32_t bgrx) {
  std::vector<uint32_t> px((size_t)w * h, bgrx);
  std::string err;
  EXPECT_TRUE(capture::save_png(path, (const uint8_t *)px.data(), w, h, w * 4, err)) << err;
  return path;
}

bool is(const kt::Picture &p, int x, int y, uint8_t r, uint8_t g, uint8_t b) {
  const uint8_t *c = p.at(x, y);
  return c[0] == r && c[1] == g && c[2] == b;
}

// How many pixels of the rectangle are none of `colours` (0xRRGGBB).
int others(const kt::Picture &p, int x0, int y0, int x1, int y1,
           std::initializer_list<uint32_t> colours) {
  int n = 0;
  for (int y = y0; y < y1; y++)
    for (int x = x0; x < x1; x++) {
      bool known = false;
      for (uint32_t c : colours) known |= is(p, x, y, c >> 16, (c >> 8) & 0xFF, c & 0xFF);
      n += !known;
    }
  return n;
}

// A 640x480 show at 1920x1080: scaled 2.25 times into the middle 1440x1080
// between black bars that nothing is drawn into, positions (--pos and the
// control tree's) scaled alike; --fill scales 3 times and cuts off the top
// and bottom instead.
TEST(CanvasScale, AnotherAspectIsLetterboxedOrFilled) {
  kt::TempDir dir;
  const std::string green = solid_png(dir.path + "/green.png", 640, 480, 0x0000FF00u);
  const std::string red = solid_png(dir.path + "/red.png", 16, 16, 0x00FF0000u);
  const std::string show = show_of("640x480", "layer " + green + "\nlayer " + red +
                                                  " --pos 100,200\n2 /layer/2/pos -8 100\n3 end\n");
  const struct Row {
    const char *how;
    std::string extra;
    int canvas_x0, canvas_y0, canvas_x1, canvas_y1;  // the canvas on the screen
    int red_x, red_y, red_side;                      // at --pos 100,200
    int moved_x, moved_y;                            // at -8,100 (clipped to the canvas)
  } rows[] = {
      {"letterboxed", "", 240, 0, 1680, 1080, 240 + 225, 450, 36, 240 - 18, 225},
      {"filled", "--fill", 0, -180, 1920, 1260, 300, -180 + 600, 48, -24, -180 + 300},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.how);
    const kt::Picture first = render(dir.path, r.how, show, "1920x1080", 1, r.extra);
    const kt::Picture moved = render(dir.path, r.how, show, "1920x1080", 3, r.extra);
    ASSERT_EQ(first.w, 1920);
    ASSERT_EQ(moved.w, 1920);
    const int top = std::max(0, r.canvas_y0), bottom = std::min(1080, r.canvas_y1);
    for (const kt::Picture *p : {&first, &moved}) {
      // Black bars, the canvas green but for the red square.
      EXPECT_EQ(others(*p, 0, 0, r.canvas_x0, 1080, {0}), 0);
      EXPECT_EQ(others(*p, r.canvas_x1, 0, 1920, 1080, {0}), 0);
      EXPECT_EQ(others(*p, r.canvas_x0, top, r.canvas_x1, bottom, {0x00FF00, 0xFF0000}), 0);
    }
    const int s = r.red_side;
    EXPECT_EQ(others(first, r.red_x, r.red_y, r.red_x + s, r.red_y + s, {0xFF0000}), 0);
    EXPECT_TRUE(is(first, r.red_x - 1, r.red_y, 0, 255, 0));
    EXPECT_TRUE(is(first, r.red_x + s, r.red_y + s - 1, 0, 255, 0));
    EXPECT_TRUE(is(first, r.red_x, r.red_y + s, 0, 255, 0));
    // Moved over the canvas's left edge: cut there.
    const int x0 = std::max(r.moved_x, r.canvas_x0);
    EXPECT_EQ(others(moved, x0, r.moved_y, r.moved_x + s, r.moved_y + s, {0xFF0000}), 0);
    EXPECT_TRUE(is(moved, r.moved_x + s, r.moved_y, 0, 255, 0));
  }
}

}  // namespace
