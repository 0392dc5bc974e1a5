/*  A layer's fades as a viewer sees them, frame by frame through the
 *  engine's frame loop: where the alpha is on the frame a fade should land,
 *  the mode a fade back in gives back, durations in frames at the engine's
 *  rate, and what the toggle key asks (fading_out). */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine_fixture.h"

namespace {

constexpr int kRed = 200;  // the layer's red, over a black screen

// A blend of the layer's own that draws nothing and notes the alpha it was
// handed: the alpha a fade gives a layer with its own blend.
struct NotingBlend : LayerBlend {
  const char *name() const override { return "NOTE"; }
  void blend(Layer &layer, ViewPort &) override { seen = layer.alpha; }
  int seen = -1;
};

enum Call { kNone, kOut, kIn, kStop };

// A call, then `frames` frames (negative: that many drawn again, held, as a
// paused player does), then what the layer shows.
struct Step {
  Call call;
  int target;
  double seconds;  // at 24 frames a second
  int frames;
  int alpha, blit;
  bool fading, fading_out;
};

struct Row {
  const char *name;
  int blit, alpha;  // before the first call
  bool own_blend;
  std::vector<Step> steps;
};

// P, a plain mode: BLU copies the blue byte alone, so on the screen the
// red layer is there in ALPHA and gone in BLU.
const int A = BLIT_ALPHA, P = BLIT_BLU;

const Row kRows[] = {
    {"out to 0, a step a frame", A, 200, false,
     {{kOut, 0, -1, 199, 1, A, true, true}, {kNone, 0, 0, 1, 0, A, false, true},
      {kNone, 0, 0, 5, 0, A, false, true}}},
    // A plain mode shows the layer whole: the fade starts at 255. 24 frames:
    // frame 12 is 177.5, halves up.
    {"out to the middle over a second", P, 40, false,
     {{kOut, 100, 1.0, 12, 178, A, true, true}, {kNone, 0, 0, 11, 106, A, true, true},
      {kNone, 0, 0, 1, 100, A, false, true}}},
    // 0.52 s is 12.48 frames: 12; 0.53 s is 12.72: 13.
    {"durations round to whole frames", A, 255, false,
     {{kOut, 0, 0.52, 11, 21, A, true, true}, {kNone, 0, 0, 1, 0, A, false, true},
      {kIn, 255, 0.53, 12, 235, A, true, false}, {kNone, 0, 0, 1, 255, A, false, false}}},
    {"in back to the look, its mode again", P, 255, false,
     {{kOut, 0, 0.5, 12, 0, A, false, true}, {kIn, -1, -1, 254, 254, A, true, false},
      {kNone, 0, 0, 1, 255, P, false, false}}},
    // The look stays until a fade in reaches it: a later one goes back.
    {"in to a target of its own", A, 100, false,
     {{kOut, 0, -1, 100, 0, A, false, true}, {kIn, 180, 1.0, 24, 180, A, false, false},
      {kIn, -1, 0, 1, 100, A, false, false}}},
    {"out interrupted by in", P, 255, false,
     {{kOut, 0, -1, 50, 205, A, true, true}, {kIn, -1, -1, 49, 254, A, true, false},
      {kNone, 0, 0, 1, 255, P, false, false}}},
    {"seconds 0: the target in the next frame", A, 30, false,
     {{kOut, 0, 0, 0, 30, A, true, true}, {kNone, 0, 0, 1, 0, A, false, true},
      {kIn, -1, 0, 1, 30, A, false, false}}},
    // Only the first fade out's look is kept.
    {"repeated outs keep the first look", P, 255, false,
     {{kOut, 100, 0, 1, 100, A, false, true}, {kOut, 0, 0, 1, 0, A, false, true},
      {kIn, -1, 0, 1, 255, P, false, false}}},
    // A frame drawn again (advance=false) is no step.
    {"held frames do not step", A, 100, false,
     {{kOut, 0, -1, -30, 100, A, true, true}, {kNone, 0, 0, 10, 90, A, true, true}}},
    // An alpha set by hand: the fade ends where it is, the look is gone.
    {"stopped: no fade, no look", P, 255, false,
     {{kOut, 0, -1, 10, 245, A, true, true}, {kStop, 0, 0, 3, 245, A, false, false},
      {kIn, -1, -1, 10, 255, A, false, false}}},
    // The blend stays, its blit code under it too; the alpha goes to it.
    {"own blend: in and out", P, 255, true,
     {{kOut, 60, 1.0, 24, 60, P, false, true}, {kIn, -1, -1, 194, 254, P, true, false},
      {kNone, 0, 0, 1, 255, P, false, false}}},
};

// The red the screen shows with the layer drawn `blit` at `alpha`: the
// ALPHA mode takes d + ((s - d) * a >> 8), over black s * a >> 8, and is a
// plain copy at 255.
int shown_red(int blit, int alpha) {
  if (blit != BLIT_ALPHA) return 0;
  return alpha == 255 ? kRed : kRed * alpha >> 8;
}

void PrintTo(const Row &row, std::ostream *os) { *os << row.name; }

class LayerFades : public testing::TestWithParam<Row> {};

TEST_P(LayerFades, LandOnTheirTargetsOnTheirFrames) {
  const Row &row = GetParam();
  kt::Engine e;
  ASSERT_TRUE(e.ok);
  ASSERT_EQ(e.ctx.fps_rate, 24);
  e.ctx.clear_all = true;  // each frame over black
  e.ctx.lockstep = true;
  auto *l = new kt::TestLayer(64, 64);
  l->init(&e.ctx);
  l->fill((uint32_t)kRed << 16);
  l->set_blit(row.blit);
  l->set_alpha(row.alpha);
  NotingBlend *blend = row.own_blend ? new NotingBlend : nullptr;
  l->set_blend(blend);
  e.ctx.layers.add(l);
  e.ctx.cafudda(0);  // started: every frame from here draws it
  int frame = 0;
  for (const Step &s : row.steps) {
    if (s.call == kOut) l->fade_out(s.target, s.seconds);
    if (s.call == kIn) l->fade_in(s.target, s.seconds);
    if (s.call == kStop) l->stop_fade();
    const int n = s.frames < 0 ? -s.frames : s.frames;
    for (int i = 0; i < n; i++) s.frames < 0 ? e.ctx.redraw() : e.ctx.cafudda(0);
    frame += s.frames > 0 ? s.frames : 0;
    SCOPED_TRACE(testing::Message() << "frame " << frame);
    EXPECT_EQ(std::vector<int>({l->alpha, l->blit, l->fading(), l->fading_out()}),
              std::vector<int>({s.alpha, s.blit, s.fading, s.fading_out}));
    if (blend) {
      EXPECT_EQ(l->get_blend(), blend) << "keeps its own blend";
      if (n) {
        EXPECT_EQ(blend->seen, s.alpha) << "the blend drew with the fade's alpha";
      }
    } else if (n) {
      EXPECT_EQ(kt::screen_pixel(e.ctx, 320, 240)[2], shown_red(l->blit, l->alpha));
    }
  }
  et::drop(l);
}

INSTANTIATE_TEST_SUITE_P(Table, LayerFades, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<Row> &info) {
                           std::string s;
                           for (const char *c = info.param.name; *c; c++)
                             s += isalnum((unsigned char)*c) ? *c : '_';
                           return s;
                         });

}  // namespace
