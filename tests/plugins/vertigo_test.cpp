// The "vertigo" effect, driven directly through the host's Plugin: frames
// of the geometry it was given at any size (ASan watches every byte it
// reads and writes), repeatable output that the 'x' key changes, a flat
// picture that stays flat, and a pass-through when not set up.
#include <gtest/gtest.h>

#include <vector>

#include "kolvex.h"
#include "test_support.h"

namespace {

ScreenGeometry geometry(int w, int h) {
  return ScreenGeometry{
      0, 0, (uint16_t)w, (uint16_t)h, 32, (uint16_t)(w * 4), (uint32_t)(w * h * 4), 0.0f};
}

class VertigoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kt::StderrCapture quiet;
    ASSERT_EQ(fx.open(KOLVEX_VERTIGO_PATH), 1);
  }
  void TearDown() override {
    if (fx.clean_f) fx.clean_f();
  }
  int press(SDLKey sym) {
    SDL_keysym key{};
    key.sym = sym;
    return fx.kbd_input(&key);
  }
  // Sets the effect up for w x h and runs `n` frames of noise through it
  // (a fresh picture each frame from `seed` on), pressing 'x' before frame
  // `x_at`; the hash of each output, read whole.
  std::vector<uint64_t> run(int w, int h, int n, uint32_t seed, int x_at = -1) {
    ScreenGeometry g = geometry(w, h);
    EXPECT_EQ(fx.init(&g), 0);
    std::vector<uint64_t> hashes;
    for (int i = 0; i < n; i++) {
      if (i == x_at) {
        EXPECT_EQ(press(SDLK_x), 1);
      }
      // Exactly one frame's bytes: reading past it is an overrun under ASan.
      const std::vector<uint8_t> in = kt::noise(g.size, seed + i);
      const void *out = fx.process((void *)in.data());
      EXPECT_NE(out, (const void *)in.data()) << "a buffer of its own";
      if (!out) break;
      hashes.push_back(kt::fnv1a(out, g.size));
    }
    return hashes;
  }

  Plugin fx;
};

TEST_F(VertigoTest, SameInputsGiveTheSameFramesAndXChangesThem) {
  EXPECT_STREQ(fx.getname(), "vertigo");
  EXPECT_EQ(press(SDLK_y), 0);
  const std::vector<uint64_t> a = run(96, 64, 8, 5);
  EXPECT_EQ(run(96, 64, 8, 5), a) << "init starts afresh";
  EXPECT_NE(run(96, 64, 8, 6), a);
  const std::vector<uint64_t> b = run(96, 64, 8, 5, 4);
  EXPECT_EQ(std::vector<uint64_t>(b.begin(), b.begin() + 4),
            std::vector<uint64_t>(a.begin(), a.begin() + 4));
  for (int i = 4; i < 8; i++) EXPECT_NE(a[i], b[i]) << "frame " << i << " after 'x'";
  // Beyond 32767 pixels a side the effect steps in 64-bit arithmetic.
  const std::pair<int, int> sizes[] = {{1, 1},     {3, 200},   {17, 9},
                                       {33000, 2}, {2, 33000}, {640, 480}};
  for (auto s : sizes)
    EXPECT_EQ(run(s.first, s.second, 3, 11).size(), 3u) << s.first << "x" << s.second;
}

// A flat picture fed back into itself stays flat: each byte keeps to its
// own channel (no carries into the next byte) and loses only rounding.
TEST_F(VertigoTest, FlatPictureStaysFlatInEveryChannel) {
  ScreenGeometry g = geometry(50, 30);
  ASSERT_EQ(fx.init(&g), 0);
  const uint8_t colour[4] = {200, 101, 3, 255};
  std::vector<uint8_t> in(g.size);
  for (size_t i = 0; i < g.size; i++) in[i] = colour[i % 4];
  const std::vector<uint8_t> copy = in;
  for (int frame = 0; frame < 60; frame++) {
    const uint8_t *out = (const uint8_t *)fx.process(in.data());
    ASSERT_NE(out, nullptr);
    for (size_t i = 0; i < g.size; i++) {
      ASSERT_LE(out[i], colour[i % 4]) << "frame " << frame << " byte " << i;
      ASSERT_GE(out[i], colour[i % 4] - 6) << "frame " << frame << " byte " << i;
    }
  }
  EXPECT_EQ(in, copy) << "the input is left alone";
}

// Three quarters of the turned old frame over a quarter of the live one: a
// white picture after a black one comes in a quarter at a time (where the
// turned frame reaches past the old one, the live picture is blended with
// itself).
TEST_F(VertigoTest, FeedbackIsThreeQuartersOldOneQuarterLive) {
  ScreenGeometry g = geometry(43, 31);  // lines of 4-pixel groups and a rest
  ASSERT_EQ(fx.init(&g), 0);
  std::vector<uint8_t> black(g.size, 0), white(g.size, 0xFF);
  fx.process(black.data());
  const uint8_t *out = (const uint8_t *)fx.process(white.data());
  const uint8_t quarter = 0x3F, live_over_live = 0x7F + 0x3F + 0x3F;
  EXPECT_EQ(out[(15 * 43 + 21) * 4], quarter);
  for (size_t i = 0; i < g.size; i++)
    ASSERT_TRUE(out[i] == quarter || out[i] == live_over_live) << i << ": " << (int)out[i];
  out = (const uint8_t *)fx.process(white.data());
  EXPECT_EQ(out[(15 * 43 + 21) * 4], quarter / 2 + quarter / 4 + quarter);
}

TEST_F(VertigoTest, UnusableGeometryOrNoSetUpPassesFramesThrough) {
  std::vector<uint8_t> in = kt::noise(16 * 16 * 4, 1);
  EXPECT_EQ(fx.process(in.data()), (void *)in.data()) << "before init";
  for (ScreenGeometry g : {geometry(16, 16), geometry(0, 16)}) {
    g.bpp = g.w ? 24 : 32;
    EXPECT_NE(fx.init(&g), 0);
    EXPECT_EQ(fx.process(in.data()), (void *)in.data());
  }
  ScreenGeometry g = geometry(16, 16);
  ASSERT_EQ(fx.init(&g), 0);
  EXPECT_NE(fx.process(in.data()), (void *)in.data());
  EXPECT_EQ(fx.clean_f(), 0);
  EXPECT_EQ(fx.process(in.data()), (void *)in.data()) << "after clean";
  EXPECT_EQ(fx.process(nullptr), nullptr);
}

}  // namespace
