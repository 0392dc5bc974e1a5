// The "vertigo" effect, driven directly through the host's Plugin: frames
// of the geometry it was given at any size (ASan watches every byte it
// reads and writes), repeatable output, the feedback's direction and the
// 'x' key, a flat picture that stays flat, and a pass-through when not set
// up.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "kolvex.h"
#include "plugin_fixture.h"
#include "test_support.h"

namespace {

ScreenGeometry geometry(int w, int h) {
  ScreenGeometry g{};
  g.w = (uint16_t)w;
  g.h = (uint16_t)h;
  g.bpp = 32;
  g.pitch = (uint16_t)(w * 4);
  g.size = (uint32_t)(w * h * 4);
  return g;
}

class VertigoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kt::StderrCapture quiet;
    ASSERT_EQ(fx.open(pt::vertigo().c_str()), 1);
  }
  void TearDown() override {
    if (fx.clean_f) fx.clean_f();
  }

  // Sets the effect up for w x h and runs `n` frames of noise through it
  // (a fresh picture each frame from `seed` on); returns the hash of each
  // output, read whole.
  std::vector<uint64_t> run(int w, int h, int n, uint32_t seed, int x_at = -1) {
    ScreenGeometry g = geometry(w, h);
    EXPECT_EQ(fx.init(&g), 0);
    std::vector<uint64_t> hashes;
    for (int i = 0; i < n; i++) {
      if (i == x_at) press(SDLK_x);
      // Exactly one frame's bytes: reading past it is an overrun under ASan.
      std::vector<uint8_t> in = kt::noise(g.size, seed + i);
      void *out = fx.process(in.data());
      EXPECT_NE(out, nullptr);
      if (!out) break;
      hashes.push_back(kt::fnv1a(out, g.size));
    }
    return hashes;
  }
  int press(SDLKey sym) {
    SDL_keysym key{};
    key.sym = sym;
    return fx.kbd_input(&key);
  }

  Plugin fx;
};

TEST_F(VertigoTest, NameAndEntryPoints) {
  EXPECT_STREQ(fx.getname(), "vertigo");
  EXPECT_NE(fx.kbd_input_f, &dummy_kbd_input);
  EXPECT_EQ(press(SDLK_x), 1);
  EXPECT_EQ(press(SDLK_y), 0);
  EXPECT_EQ(press(SDLK_ESCAPE), 0);
}

TEST_F(VertigoTest, EveryGeometryAndReinitGiveFramesOfThatGeometry) {
  // Beyond 32767 pixels a side the effect steps in 64-bit arithmetic.
  const int sizes[][2] = {{64, 48}, {640, 480}, {1, 1},     {3, 200},  {200, 3},
                          {17, 9},  {33000, 2}, {2, 33000}, {64, 48}};
  for (auto &s : sizes) {
    std::vector<uint64_t> h = run(s[0], s[1], 4, 11);
    EXPECT_EQ(h.size(), 4u) << s[0] << "x" << s[1];
  }
}

TEST_F(VertigoTest, OutputIsItsOwnBufferAndLeavesTheInputAlone) {
  ScreenGeometry g = geometry(40, 30);
  ASSERT_EQ(fx.init(&g), 0);
  std::vector<uint8_t> in = kt::noise(g.size, 3), copy = in;
  void *first = fx.process(in.data());
  void *second = fx.process(in.data());
  EXPECT_NE(first, (void *)in.data());
  EXPECT_NE(second, (void *)in.data());
  EXPECT_NE(first, second) << "the last output stays valid until the next frame";
  EXPECT_EQ(in, copy);
}

TEST_F(VertigoTest, SameInputsGiveTheSameFramesAfterInit) {
  std::vector<uint64_t> a = run(96, 64, 12, 5);
  std::vector<uint64_t> b = run(96, 64, 12, 5);
  EXPECT_EQ(a, b);
  std::vector<uint64_t> c = run(96, 64, 12, 6);
  EXPECT_NE(a, c);
}

TEST_F(VertigoTest, OutputDriftsAwayFromTheLivePicture) {
  ScreenGeometry g = geometry(80, 60);
  ASSERT_EQ(fx.init(&g), 0);
  std::vector<uint8_t> in = kt::noise(g.size, 9);
  const uint8_t *out = nullptr;
  for (int i = 0; i < 4; i++) out = (const uint8_t *)fx.process(in.data());
  ASSERT_NE(out, nullptr);
  size_t differ = 0;
  for (size_t i = 0; i < g.size; i++) differ += out[i] != in[i];
  EXPECT_GT(differ, g.size * 3 / 4);
}

// A flat picture fed back into itself stays flat: each byte keeps to its
// own channel (no carries into the next byte) and loses only rounding.
TEST_F(VertigoTest, FlatPictureStaysFlatInEveryChannel) {
  ScreenGeometry g = geometry(50, 30);
  ASSERT_EQ(fx.init(&g), 0);
  const uint8_t colour[4] = {200, 101, 3, 255};
  std::vector<uint8_t> in(g.size);
  for (size_t i = 0; i < g.size; i++) in[i] = colour[i % 4];
  for (int frame = 0; frame < 60; frame++) {
    const uint8_t *out = (const uint8_t *)fx.process(in.data());
    ASSERT_NE(out, nullptr);
    for (size_t i = 0; i < g.size; i++) {
      int want = colour[i % 4], got = out[i];
      ASSERT_LE(got, want) << "frame " << frame << " byte " << i;
      ASSERT_GE(got, want - 6) << "frame " << frame << " byte " << i;
    }
  }
}

// Where the trail of a still spot goes: the mean vertical offset of the
// light that is not the spot itself, for a spot right of the centre.
double trail_side(Plugin &fx, bool press_x) {
  const int w = 64, h = 64;
  ScreenGeometry g = geometry(w, h);
  EXPECT_EQ(fx.init(&g), 0);
  if (press_x) {
    SDL_keysym key{};
    key.sym = SDLK_x;
    EXPECT_EQ(fx.kbd_input(&key), 1);
  }
  std::vector<uint8_t> in(g.size, 0);
  auto inside_spot = [](int x, int y) { return x >= 50 && x < 54 && y >= 30 && y < 34; };
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++)
      if (inside_spot(x, y)) memset(&in[(y * w + x) * 4], 0xFF, 4);
  const uint8_t *out = nullptr;
  for (int i = 0; i < 10; i++) out = (const uint8_t *)fx.process(in.data());
  double weight = 0, moment = 0;
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      if (inside_spot(x, y)) continue;
      double v = out[(y * w + x) * 4 + 1];
      weight += v;
      moment += v * (y - 31.5);
    }
  EXPECT_GT(weight, 0) << "no trail at all";
  return weight > 0 ? moment / weight : 0;
}

TEST_F(VertigoTest, KeyXReversesTheTurn) {
  double plain = trail_side(fx, false);
  double reversed = trail_side(fx, true);
  EXPECT_GT(std::fabs(plain), 1.0);
  EXPECT_GT(std::fabs(reversed), 1.0);
  EXPECT_LT(plain * reversed, 0) << plain << " vs " << reversed;

  // And mid-run: the frames after the key differ from a run without it.
  std::vector<uint64_t> a = run(64, 48, 8, 21);
  std::vector<uint64_t> b = run(64, 48, 8, 21, 4);
  EXPECT_EQ(std::vector<uint64_t>(a.begin(), a.begin() + 4),
            std::vector<uint64_t>(b.begin(), b.begin() + 4));
  for (int i = 4; i < 8; i++) EXPECT_NE(a[i], b[i]) << i;
}

TEST_F(VertigoTest, UnusableGeometryOrNoSetUpPassesFramesThrough) {
  std::vector<uint8_t> in = kt::noise(16 * 16 * 4, 1);
  EXPECT_EQ(fx.process(in.data()), (void *)in.data()) << "before init";

  ScreenGeometry g = geometry(16, 16);
  g.bpp = 24;
  EXPECT_NE(fx.init(&g), 0);
  EXPECT_EQ(fx.process(in.data()), (void *)in.data());
  g = geometry(0, 16);
  EXPECT_NE(fx.init(&g), 0);
  EXPECT_EQ(fx.process(in.data()), (void *)in.data());

  g = geometry(16, 16);
  ASSERT_EQ(fx.init(&g), 0);
  EXPECT_NE(fx.process(in.data()), (void *)in.data());
  EXPECT_EQ(fx.clean_f(), 0);
  EXPECT_EQ(fx.process(in.data()), (void *)in.data()) << "after clean";
  EXPECT_EQ(fx.process(nullptr), nullptr);
}

}  // namespace
