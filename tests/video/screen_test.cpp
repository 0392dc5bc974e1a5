// The SDL screen: window set-up, pixel addresses, clearing, magnification
// states and the enlarged presentation; the scale2x / scale3x filters.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "video_fixture.h"

namespace {

uint32_t *row32(SDL_Surface *s, int y) { return (uint32_t *)((uint8_t *)s->pixels + (long)y * s->pitch); }

// ---------------------------------------------------------------------------
// Construction and init
// ---------------------------------------------------------------------------
TEST(SdlScreen, MasksDescribeLayerBytesOnThisMachine) {
  SdlScreen screen;
  // One pixel with bytes blue, green, red, fourth = 01 02 03 04 in memory.
  const uint8_t bytes[4] = {0x01, 0x02, 0x03, 0x04};
  uint32_t word;
  memcpy(&word, bytes, 4);
  EXPECT_EQ(word & screen.bmask, 0x01u * (screen.bmask / 0xFF));
  EXPECT_EQ(word & screen.gmask, 0x02u * (screen.gmask / 0xFF));
  EXPECT_EQ(word & screen.rmask, 0x03u * (screen.rmask / 0xFF));
  EXPECT_EQ(word & screen.amask, 0x04u * (screen.amask / 0xFF));
#if SDL_BYTEORDER == SDL_LIL_ENDIAN
  EXPECT_EQ(screen.rmask, 0x00FF0000u);
  EXPECT_EQ(screen.gmask, 0x0000FF00u);
  EXPECT_EQ(screen.bmask, 0x000000FFu);
  EXPECT_EQ(screen.amask, 0xFF000000u);
#endif
  EXPECT_EQ(screen.video_flags, 0x40000101u);
  EXPECT_EQ(screen.video_flags, (uint32_t)(SDL_HWSURFACE | SDL_HWACCEL | SDL_DOUBLEBUF));
  EXPECT_EQ(screen.bpp, 32);
  EXPECT_EQ(screen.magnification, 0);
  EXPECT_EQ(screen.video_surface, nullptr);
  EXPECT_EQ(screen.emulated_surface, nullptr);
}

TEST(SdlScreen, InitOpensTitledWindowWithGeometry) {
  kt::StderrCapture log;
  vt::Engine e(640, 480, false);
  const std::string text = log.text();
  ASSERT_TRUE(e.ok);
  SdlScreen &s = *e.screen;
  EXPECT_EQ(s.w, 640);
  EXPECT_EQ(s.h, 480);
  EXPECT_EQ(s.bpp, 32);
  EXPECT_EQ(s.pitch, 2560);
  EXPECT_EQ(s.size, 640 * 480 * 4);
  ASSERT_NE(s.video_surface, nullptr);
  EXPECT_EQ(s.video_surface->w, 640);
  EXPECT_EQ(s.video_surface->h, 480);
  EXPECT_EQ(s.video_surface->format->BitsPerPixel, 32);
  EXPECT_EQ(s.draw_surface, s.video_surface);
  EXPECT_EQ(s.draw_surface, SDL_GetVideoSurface());
  EXPECT_EQ(kt::count_lines(text, "[*] SDL Viewport is 640x480 32bpp"), 1) << text;

  char *title = nullptr, *icon = nullptr;
  SDL_WM_GetCaption(&title, &icon);
  ASSERT_NE(title, nullptr);
  EXPECT_STREQ(title, "Orvanta 2004");
  ASSERT_NE(icon, nullptr);
  EXPECT_STREQ(icon, "Orvanta 2004");
  EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
  EXPECT_STREQ(getenv("SDL_VIDEO_HWACCEL"), "1");
}

TEST(SdlScreen, CoordsAndClearCoverTheDrawSurface) {
  vt::Engine e(640, 480);
  ASSERT_TRUE(e.ok);
  SdlScreen &s = *e.screen;
  uint8_t *base = (uint8_t *)s.draw_surface->pixels;
  EXPECT_EQ(s.coords(0, 0), s.get_surface());
  EXPECT_EQ(s.get_surface(), (void *)base);
  EXPECT_EQ(s.coords(1, 0), (void *)(base + 4));
  EXPECT_EQ(s.coords(0, 1), (void *)(base + 2560));
  EXPECT_EQ(s.coords(17, 33), (void *)(base + (640 * 33 + 17) * 4));
  EXPECT_EQ(s.coords(639, 479), (void *)(base + s.size - 4));

  ASSERT_TRUE(s.lock());
  const std::vector<uint8_t> pic = kt::noise(s.size, 7);
  for (int y = 0; y < s.h; y++) memcpy(row32(s.draw_surface, y), &pic[(size_t)y * s.pitch], s.pitch);
  EXPECT_TRUE(s.unlock());
  s.clear();
  size_t nonzero = 0;
  for (int y = 0; y < s.h; y++) {
    const uint8_t *r = (const uint8_t *)row32(s.draw_surface, y);
    for (int i = 0; i < s.pitch; i++) nonzero += r[i] != 0;
  }
  EXPECT_EQ(nonzero, 0u);
}

// ---------------------------------------------------------------------------
// Magnification states
// ---------------------------------------------------------------------------
class Magnification : public ::testing::Test {
 protected:
  static constexpr int kW = 160, kH = 120;
  vt::Engine e{kW, kH};
  void SetUp() override {
    ASSERT_TRUE(e.ok);
    set_debug(2);
  }
  void TearDown() override { set_debug(0); }

  void expect_geometry_unchanged() {
    SdlScreen &s = *e.screen;
    EXPECT_EQ(s.w, kW);
    EXPECT_EQ(s.h, kH);
    EXPECT_EQ(s.bpp, 32);
    EXPECT_EQ(s.pitch, kW * 4);
    EXPECT_EQ(s.size, kW * kH * 4);
  }
  std::string magnify(int algo) {
    kt::StderrCapture log;
    e.screen->set_magnification(algo);
    return log.text();
  }
};

TEST_F(Magnification, SameValueDoesNothing) {
  SdlScreen &s = *e.screen;
  SDL_Surface *video = s.video_surface;
  EXPECT_EQ(magnify(0), "");
  EXPECT_EQ(s.video_surface, video);
  EXPECT_EQ(s.draw_surface, video);

  magnify(1);
  SDL_Surface *draw = s.draw_surface;
  video = s.video_surface;
  EXPECT_EQ(magnify(1), "");
  EXPECT_EQ(s.draw_surface, draw);
  EXPECT_EQ(s.video_surface, video);
  EXPECT_EQ(s.magnification, 1);
}

TEST_F(Magnification, UnsupportedValuesOnlyLogAnError) {
  SdlScreen &s = *e.screen;
  for (int start : {0, 2}) {
    magnify(start);
    SDL_Surface *video = s.video_surface, *draw = s.draw_surface;
    const int vw = video->w, vh = video->h;
    for (int bad : {3, -1}) {
      const std::string line = "[!] magnification algorithm " + std::to_string(bad) + " not supported\n";
      EXPECT_EQ(magnify(bad), line) << "from " << start;
      EXPECT_EQ(s.magnification, start);
      EXPECT_EQ(s.video_surface, video);
      EXPECT_EQ(s.draw_surface, draw);
      EXPECT_EQ(s.video_surface->w, vw);
      EXPECT_EQ(s.video_surface->h, vh);
      expect_geometry_unchanged();
    }
  }
}

TEST_F(Magnification, UpAndBackDown) {
  SdlScreen &s = *e.screen;

  std::string log = magnify(1);
  EXPECT_EQ(kt::count_lines(log, "[*] screen magnification scale2x"), 1) << log;
  EXPECT_EQ(kt::count_lines(log, "[F] create surface for magnification"), 1) << log;
  EXPECT_EQ(s.magnification, 1);
  EXPECT_EQ(s.video_surface->w, 2 * kW);
  EXPECT_EQ(s.video_surface->h, 2 * kH);
  SDL_Surface *draw = s.draw_surface;
  ASSERT_NE(draw, nullptr);
  ASSERT_NE(draw, s.video_surface);
  // Drawn at the unmagnified size, in the layer format with an alpha channel.
  EXPECT_EQ(draw->w, kW);
  EXPECT_EQ(draw->h, kH);
  EXPECT_EQ(draw->pitch, kW * 4);
  EXPECT_EQ(draw->format->BitsPerPixel, 32);
  EXPECT_EQ(draw->format->Rmask, s.rmask);
  EXPECT_EQ(draw->format->Gmask, s.gmask);
  EXPECT_EQ(draw->format->Bmask, s.bmask);
  EXPECT_EQ(draw->format->Amask, s.amask);
  EXPECT_EQ(s.get_surface(), draw->pixels);
  EXPECT_EQ(s.coords(3, 2), (void *)((uint8_t *)draw->pixels + (2 * kW + 3) * 4));
  expect_geometry_unchanged();

  log = magnify(2);
  EXPECT_EQ(kt::count_lines(log, "[*] screen magnification scale3x"), 1) << log;
  EXPECT_FALSE(kt::contains(log, "create surface")) << log;
  EXPECT_EQ(s.magnification, 2);
  EXPECT_EQ(s.video_surface->w, 3 * kW);
  EXPECT_EQ(s.video_surface->h, 3 * kH);
  EXPECT_EQ(s.draw_surface, draw);
  expect_geometry_unchanged();

  log = magnify(0);
  EXPECT_EQ(kt::count_lines(log, "[*] screen magnification off"), 1) << log;
  EXPECT_EQ(s.magnification, 0);
  EXPECT_EQ(s.video_surface->w, kW);
  EXPECT_EQ(s.video_surface->h, kH);
  EXPECT_EQ(s.draw_surface, s.video_surface);
  EXPECT_EQ(s.draw_surface, SDL_GetVideoSurface());
  EXPECT_EQ(s.get_surface(), s.video_surface->pixels);
  expect_geometry_unchanged();

  // And on again: a fresh surface, since the old one was given back.
  log = magnify(2);
  EXPECT_EQ(kt::count_lines(log, "[F] create surface for magnification"), 1) << log;
  EXPECT_NE(s.draw_surface, s.video_surface);
  EXPECT_EQ(s.video_surface->w, 3 * kW);
}

// While magnified, show() must put the enlarged drawing into the window.
// On noise no two neighbours are equal, so both filters reduce to plain
// pixel repetition; a thin diagonal then tells an edge-following filter
// from repetition.
TEST_F(Magnification, ShowPresentsTheFrameEnlarged) {
  SdlScreen &s = *e.screen;
  for (int algo : {1, 2}) {
    const int f = algo + 1;
    magnify(algo);
    ASSERT_NE(s.draw_surface, s.video_surface);
    const std::vector<uint8_t> pic = kt::noise(s.size, 100 + algo);
    for (int y = 0; y < kH; y++) memcpy(row32(s.draw_surface, y), &pic[(size_t)y * s.pitch], s.pitch);
    for (int y = 0; y < kH; y++)
      for (int x = 0; x + 1 < kW; x++) {
        const uint32_t *r = row32(s.draw_surface, y);
        ASSERT_NE(r[x], r[x + 1]);
        if (y + 1 < kH) {
          ASSERT_NE(r[x], row32(s.draw_surface, y + 1)[x]);
        }
      }
    s.show();
    ASSERT_EQ(s.video_surface->w, f * kW);
    long wrong = 0;
    for (int y = 0; y < f * kH; y++)
      for (int x = 0; x < f * kW; x++)
        wrong += row32(s.video_surface, y)[x] != row32(s.draw_surface, y / f)[x / f];
    EXPECT_EQ(wrong, 0) << "magnification " << algo;

    // Black with one white diagonal from (10, 10) to (20, 20).
    s.clear();
    for (int k = 10; k <= 20; k++) row32(s.draw_surface, k)[k] = 0x00FFFFFF;
    s.show();
    auto at = [&](int x, int y) { return row32(s.video_surface, y)[x]; };
    // Inside the line: a whole block of white per pixel.
    for (int j = 0; j < f; j++)
      for (int i = 0; i < f; i++) EXPECT_EQ(at(15 * f + i, 15 * f + j), 0x00FFFFFFu);
    // Between two steps of the line the corners are filled in, which plain
    // repetition would leave black.
    EXPECT_EQ(at(16 * f, 16 * f - 1), 0x00FFFFFFu) << "magnification " << algo;
    EXPECT_EQ(at(16 * f - 1, 16 * f), 0x00FFFFFFu) << "magnification " << algo;
    // Away from the line: black.
    EXPECT_EQ(at(16 * f + f, 16 * f - 1), 0u);
    EXPECT_EQ(at(2, 2), 0u);
  }
}

// ---------------------------------------------------------------------------
// scale2x / scale3x on hand-made pictures
// ---------------------------------------------------------------------------
constexpr uint32_t kInk = 0x00FF8040, kPaper = 0x00102030;

struct Picture {
  int w, h, pitch;  // pitch in pixels, may exceed w
  std::vector<uint32_t> px;
  Picture(int w_, int h_, int pad, uint32_t fill) : w(w_), h(h_), pitch(w_ + pad), px((size_t)pitch * h_, fill) {}
  uint32_t &at(int x, int y) { return px[(size_t)y * pitch + x]; }
};

// Scales `src` by `f` into a picture with two padding pixels per line,
// which must stay untouched.
Picture scaled(Picture &src, int f) {
  const uint32_t pad_mark = 0xDEADBEEF;
  Picture out(src.w * f, src.h * f, 2, pad_mark);
  if (f == 2)
    scale2x(src.px.data(), src.pitch * 4, out.px.data(), out.pitch * 4, src.w, src.h);
  else
    scale3x(src.px.data(), src.pitch * 4, out.px.data(), out.pitch * 4, src.w, src.h);
  for (int y = 0; y < out.h; y++)
    for (int p = out.w; p < out.pitch; p++) EXPECT_EQ(out.at(p, y), pad_mark) << "padding written";
  return out;
}

TEST(Scale, FlatPictureStaysFlat) {
  for (int f : {2, 3}) {
    Picture src(5, 4, 3, kPaper);
    Picture out = scaled(src, f);
    for (int y = 0; y < out.h; y++)
      for (int x = 0; x < out.w; x++) ASSERT_EQ(out.at(x, y), kPaper) << f << "x at " << x << "," << y;
  }
}

TEST(Scale, LonePixelAndStraightLinesStayBlocks) {
  for (int f : {2, 3}) {
    // A lone dot becomes exactly one f x f block.
    Picture dot(6, 6, 1, kPaper);
    dot.at(2, 3) = kInk;
    Picture out = scaled(dot, f);
    for (int y = 0; y < out.h; y++)
      for (int x = 0; x < out.w; x++) {
        const bool inside = x / f == 2 && y / f == 3;
        ASSERT_EQ(out.at(x, y), inside ? kInk : kPaper) << f << "x at " << x << "," << y;
      }
    // A thin horizontal line keeps its square ends.
    Picture line(7, 5, 0, kPaper);
    for (int x = 1; x <= 4; x++) line.at(x, 2) = kInk;
    out = scaled(line, f);
    for (int y = 0; y < out.h; y++)
      for (int x = 0; x < out.w; x++) {
        const bool inside = x / f >= 1 && x / f <= 4 && y / f == 2;
        ASSERT_EQ(out.at(x, y), inside ? kInk : kPaper) << f << "x line at " << x << "," << y;
      }
    // A vertical edge stays a straight edge at the same place.
    Picture edge(6, 5, 0, kPaper);
    for (int y = 0; y < 5; y++)
      for (int x = 0; x < 2; x++) edge.at(x, y) = kInk;
    out = scaled(edge, f);
    for (int y = 0; y < out.h; y++)
      for (int x = 0; x < out.w; x++) ASSERT_EQ(out.at(x, y), x < 2 * f ? kInk : kPaper) << f << "x";
  }
}

// A one-pixel diagonal from (1, 1) to (6, 6): each pixel's block is ink,
// and the corners where two steps of the line meet are filled, so the line
// comes out as a smooth band |x - y| <= 1 rather than a staircase.
TEST(Scale, DiagonalStaysSharp) {
  for (int f : {2, 3}) {
    Picture src(8, 8, 0, kPaper);
    for (int k = 1; k <= 6; k++) src.at(k, k) = kInk;
    Picture out = scaled(src, f);
    int filled_corners = 0;
    for (int y = 0; y < out.h; y++)
      for (int x = 0; x < out.w; x++) {
        const bool in_range = x >= f && y >= f && x < 7 * f && y < 7 * f;
        const bool own_block = x / f == y / f;
        const bool band = x - y <= 1 && y - x <= 1;
        const bool ink = in_range && (own_block || band);
        if (ink && !own_block) filled_corners++;
        ASSERT_EQ(out.at(x, y), ink ? kInk : kPaper) << f << "x at " << x << "," << y;
      }
    EXPECT_EQ(filled_corners, 2 * 5);  // one on each side of every step
  }
}

}  // namespace
