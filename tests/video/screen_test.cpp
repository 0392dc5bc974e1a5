// The SDL screen: the window and its geometry, pixel addresses, clearing,
// the magnification states with their enlarged presentation, and the
// scale2x / scale3x filters.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace {
std::multiset<std::string> lines(const std::string &text) {
  std::multiset<std::string> all;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) all.insert(line);
  return all;
}

uint32_t *row32(SDL_Surface *s, int y) {
  return (uint32_t *)((uint8_t *)s->pixels + (long)y * s->pitch);
}
}  // namespace

TEST(SdlScreen, InitOpensTitledWindowWithGeometry) {
  kt::StderrCapture log;
  Context ctx;
  ASSERT_TRUE(ctx.init(640, 480));
  EXPECT_TRUE(kt::contains(log.text(), "\n[*] SDL Viewport is 640x480 32bpp\n"));
  SdlScreen &s = *static_cast<SdlScreen *>(ctx.screen.get());
  EXPECT_EQ(std::vector<int>({s.w, s.h, s.bpp, s.pitch, s.size}),
            std::vector<int>({640, 480, 32, 2560, 640 * 480 * 4}));
  ASSERT_EQ(s.draw_surface, SDL_GetVideoSurface());
  EXPECT_EQ(s.draw_surface->w * s.draw_surface->h, 640 * 480);
  char *title = nullptr, *icon = nullptr;
  SDL_WM_GetCaption(&title, &icon);
  EXPECT_STREQ(title, "Orvanta 2004");
  EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
  EXPECT_STREQ(getenv("SDL_VIDEO_HWACCEL"), "1");

  uint8_t *base = (uint8_t *)s.draw_surface->pixels;
  EXPECT_EQ(s.get_surface(), (void *)base);
  EXPECT_EQ(s.coords(17, 33), (void *)(base + (640 * 33 + 17) * 4));
  const std::vector<uint8_t> pic = kt::noise(s.size, 7);
  memcpy(base, pic.data(), pic.size());
  s.clear();
  EXPECT_EQ(std::vector<uint8_t>(base, base + s.size), std::vector<uint8_t>(s.size, 0));
}

// Steps through the states; while magnified, show() puts the frame into
// the window enlarged. Noise has no two equal neighbours, so there both
// filters are plain repetition.
TEST(Magnification, StatesLogLinesAndEnlargedPresentation) {
  const int kW = 160, kH = 120;
  kt::Engine e(kW, kH);
  ASSERT_TRUE(e.ok);
  SdlScreen &s = *e.screen;
  const struct {
    int algo, factor;
    const char *log;
  } steps[] = {
      {0, 1, ""},
      {1, 2, "[*] screen magnification scale2x\n[F] create surface for magnification\n"},
      {1, 2, ""},
      {2, 3, "[*] screen magnification scale3x\n"},
      {3, 3, "[!] magnification algorithm 3 not supported\n"},
      {-1, 3, "[!] magnification algorithm -1 not supported\n"},
      {0, 1, "[*] screen magnification off\n"},
      {2, 3, "[*] screen magnification scale3x\n[F] create surface for magnification\n"},
  };
  set_debug(2);
  for (const auto &st : steps) {
    SCOPED_TRACE(st.algo);
    kt::StderrCapture log;
    s.set_magnification(st.algo);
    EXPECT_EQ(lines(log.text()), lines(st.log)) << "in any order";
    const int f = st.factor;
    EXPECT_EQ(s.magnification, f - 1);
    ASSERT_EQ(s.video_surface->w, f * kW);
    EXPECT_EQ(s.video_surface->h, f * kH);
    EXPECT_EQ(std::vector<int>({s.w, s.h, s.pitch, s.size}),
              std::vector<int>({kW, kH, kW * 4, kW * kH * 4}));
    EXPECT_EQ(s.draw_surface == s.video_surface, f == 1);
    EXPECT_EQ(s.draw_surface->w * s.draw_surface->h, kW * kH);
    EXPECT_EQ(s.get_surface(), s.draw_surface->pixels);
    if (f == 1) continue;
    const std::vector<uint8_t> pic = kt::noise(s.size, 100 + f);
    memcpy(s.draw_surface->pixels, pic.data(), pic.size());
    s.show();
    long wrong = 0;
    for (int y = 0; y < f * kH; y++)
      for (int x = 0; x < f * kW; x++)
        wrong += row32(s.video_surface, y)[x] != row32(s.draw_surface, y / f)[x / f];
    EXPECT_EQ(wrong, 0);
  }
  set_debug(0);
}

// Shape 0, a one-pixel diagonal from (1, 1) to (6, 6) and a lone dot at
// (6, 1): the dot becomes one block, the diagonal a smooth band |x - y| <= 1
// with the corners between two steps filled, not a staircase. Shape 1, ink
// but for a paper square from (4, 4): its inner corner is rounded off, ink
// filling the top-left corner of that pixel's block. The padding of the
// target's lines stays untouched.
TEST(Scale, DiagonalsStaySharpAndInnerCornersRound) {
  const uint32_t ink = 0x00FF8040, paper = 0x00102030, pad = 0xDEADBEEF;
  for (int shape : {0, 1}) {
    std::vector<uint32_t> src(8 * 8);
    for (int i = 0; i < 64; i++) {
      const int x = i % 8, y = i / 8;
      const bool diagonal = (x == y && x >= 1 && x <= 6) || (x == 6 && y == 1);
      src[i] = (shape ? x < 4 || y < 4 : diagonal) ? ink : paper;
    }
    for (int f : {2, 3}) {
      const int pitch = 8 * f + 2;
      std::vector<uint32_t> out((size_t)pitch * 8 * f, pad);
      (f == 2 ? scale2x : scale3x)(src.data(), 8 * 4, out.data(), pitch * 4, 8, 8);
      for (int y = 0; y < 8 * f; y++)
        for (int x = 0; x < 8 * f; x++) {
          const bool band = x >= f && y >= f && x < 7 * f && y < 7 * f && std::abs(x - y) <= 1;
          const bool corner = x / f == 4 && y / f == 4 && x % f + y % f < f - 1;
          const bool inked = src[y / f * 8 + x / f] == ink || (shape ? corner : band);
          ASSERT_EQ(out[(size_t)y * pitch + x], inked ? ink : paper)
              << shape << ", " << f << "x at " << x << "," << y;
        }
      for (int y = 0; y < 8 * f; y++)
        for (int x = 8 * f; x < pitch; x++) ASSERT_EQ(out[(size_t)y * pitch + x], pad);
    }
  }
}
