/*  The engine context: the frame loop and its rate limiter on a virtual
 *  clock (the schedule itself is checked, not wall-clock bounds), set-up,
 *  magnification and tear-down. */
#include <gtest/gtest.h>
#include <mikmod.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

#include "engine_fixture.h"

namespace {

// Virtual time moves only by the sleeps the engine asks for and by the work
// a test charges at the end of a frame.
int64_t g_now;
long g_slept_ns;  // asked for since the last frame ended

struct Frame {
  int64_t now, lst;  // at the frame's end: the time and the planned start
  int elapsed;
  long slept_ns;
  float fps;
};
std::vector<Frame> g_frames;
Context *g_ctx;
std::function<void(int frame)> g_work;

const KolvexClock kVirtual = {
    [](struct timeval *tv) { *tv = {(time_t)(g_now / 1000000), (suseconds_t)(g_now % 1000000)}; },
    [](const struct timespec *ts) {
      EXPECT_EQ(ts->tv_sec, 0);
      g_slept_ns += ts->tv_nsec;
      g_now += ts->tv_nsec / 1000;
    }};

}  // namespace

// The music update ends every timed frame: this definition takes the place
// of the library's for this test program, to log each frame.
extern "C" void MikMod_Update(void) {
  if (!g_ctx) return;
  const timeval &l = g_ctx->lst_time;
  g_frames.push_back({g_now, (int64_t)l.tv_sec * 1000000 + l.tv_usec, g_ctx->elapsed,
                      g_slept_ns, g_ctx->fps});
  g_slept_ns = 0;
  if (g_work) g_work((int)g_frames.size());
}

class FrameLoop : public ::testing::Test {
 protected:
  void SetUp() override {
    g_now = 1700000000ll * 1000000 + 123456;  // not on a second boundary
    g_slept_ns = 0;
    g_frames.clear();
    g_work = nullptr;
    kolvex_set_clock(&kVirtual);  // before init: the first frame is timed from its end
    engine.reset(new kt::Engine());
    ASSERT_TRUE(engine->ok);
    g_ctx = &engine->ctx;
  }
  void TearDown() override {
    engine.reset();
    g_ctx = nullptr;
    kolvex_set_clock(nullptr);
  }
  std::unique_ptr<kt::Engine> engine;
};

TEST_F(FrameLoop, ZeroSecondsIsOneFrameWithoutPacingNegativeOneWithIt) {
  for (int seconds : {0, -1}) {
    const unsigned long before = g_ctx->frames;
    g_ctx->cafudda(seconds);
    EXPECT_EQ(g_ctx->frames, before + 1) << seconds;
  }
  ASSERT_EQ(g_frames.size(), 1u) << "only the -1 frame updates the music";
  EXPECT_EQ(g_frames[0].slept_ns, 41666l << 10) << "and sleeps out its slot";
}

// With track_fps set, fps is measured every 24 frames: the rate the frame's
// working time allows (with the oversleep before), not the 24 held.
TEST_F(FrameLoop, ThreeSecondsIsAbout72FramesOnASteadyScheduleFpsEvery24) {
  g_work = [](int frame) { g_now += 8000 + 10 * frame; };  // 8 ms of work a frame, and more
  g_ctx->track_fps = true;
  const int64_t t0 = g_now;
  const unsigned long before = g_ctx->frames;
  g_ctx->cafudda(3);
  const int frames = (int)(g_ctx->frames - before);
  EXPECT_GE(frames, 72);
  EXPECT_LE(frames, 74);
  ASSERT_EQ((int)g_frames.size(), frames) << "one music update a frame";
  for (size_t i = 0; i < g_frames.size(); i++) {
    SCOPED_TRACE(i);
    const Frame &f = g_frames[i];
    EXPECT_TRUE(f.elapsed >= 0 && f.elapsed < 41666);
    EXPECT_EQ(f.slept_ns, (long)(41666 - f.elapsed) << 10) << "the rest of the slot, x 1024";
    // One slot a frame, to the microsecond: 41666 2/3 on average.
    EXPECT_EQ(f.lst - g_frames[0].lst, (int64_t)(i + 1) * 1000000 / 24 - 1000000 / 24);
    const float measured = i < 23 ? 0.0f : g_frames[(i + 1) / 24 * 24 - 1].fps;
    EXPECT_EQ(f.fps, measured);
    EXPECT_TRUE(i % 24 != 23 || (f.fps > 100 && f.fps < 120 && f.fps != g_frames[i - 1].fps));
  }
  // No drift: the 2.4 % oversleep is taken back by the next frame.
  EXPECT_LT(std::llabs(g_now - t0 - (int64_t)frames * 1000000 / 24), 41666);
}

// At a rate that does not divide a million, the plan still starts frame k
// exactly k * 1000000 / rate microseconds in: no frame is ever late to it.
TEST_F(FrameLoop, PlanHoldsAtRatesThatDoNotDivideAMillion) {
  for (int rate : {96, 7, 30}) {
    SCOPED_TRACE(rate);
    g_frames.clear();
    g_ctx->set_fps_interval(rate);
    g_ctx->lst_time = {(time_t)(g_now / 1000000), (suseconds_t)(g_now % 1000000)};
    const int64_t t0 = g_now;
    for (int k = 1; k <= 3 * rate; k++) g_ctx->cafudda(-1);
    for (size_t i = 0; i < g_frames.size(); i++) {
      EXPECT_NE(g_frames[i].slept_ns, 0) << "frame " << i << " taken as late";
      EXPECT_EQ(g_frames[i].lst - t0, (int64_t)(i + 1) * 1000000 / rate);
    }
  }
}

TEST_F(FrameLoop, LateFrameSkipsItsSleepAndRestartsThePlan) {
  g_work = [](int frame) { g_now += frame == 5 ? 100000 : 1000; };  // the sixth is late
  g_ctx->cafudda(1);
  ASSERT_GE(g_frames.size(), 8u);
  for (size_t i = 0; i < g_frames.size(); i++) {
    EXPECT_EQ(g_frames[i].slept_ns == 0, i == 5) << i;
    EXPECT_EQ(g_frames[i].fps, 0.0f) << "measured only when asked for";
  }
  EXPECT_EQ(g_frames[5].lst, g_frames[5].now) << "the plan restarts from the late frame's end";
  EXPECT_EQ(g_frames[6].lst - g_frames[5].lst, 41666);
}

// The frame hook lives as long as its handle: without it the loop runs on
// unhooked; a hook may let its own handle go while it runs; an engine gone
// first leaves the handle nothing of its own to touch (sanitizers watch).
TEST_F(FrameLoop, TheFrameHookGoesWithItsHandle) {
  int calls = 0;
  HookHandle handle = g_ctx->on_frame.set([&](Context &) { return ++calls > 0; });
  g_ctx->cafudda(-1);
  handle.reset();
  g_ctx->cafudda(-1);
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(g_ctx->ended);
  handle = g_ctx->on_frame.set([&](Context &) {
    handle.reset();
    return ++calls > 2;
  });
  g_ctx->cafudda(-1);
  g_ctx->cafudda(-1);
  EXPECT_EQ(calls, 2);
  EXPECT_TRUE(g_ctx->ended) << "the hook's last answer was lost";
  handle = g_ctx->on_frame.set([&](Context &) { return ++calls > 0; });
  engine.reset();
  g_ctx = nullptr;
  handle.reset();
}

TEST(Context, BannerAndInitFailureLines) {
  const char *saved = getenv("SDL_VIDEODRIVER");
  const std::string restore = saved ? saved : "";
  setenv("SDL_VIDEODRIVER", "kolvex-no-such-driver", 1);
  kt::StderrCapture cap;
  {
    Context ctx;
    EXPECT_FALSE(ctx.init(640, 480));
    EXPECT_NE(ctx.screen, nullptr) << "the half-made screen stays until close";
  }
  saved ? setenv("SDL_VIDEODRIVER", restore.c_str(), 1) : unsetenv("SDL_VIDEODRIVER");
  const std::string out = cap.text();
  EXPECT_EQ(out.rfind("[*] morvash the Orvanta 1.0 engine\n .  ", 0), 0u) << out;
  EXPECT_TRUE(kt::contains(out, "[!] Can't initialize the viewport\n[!] This is a fatal error\n"));
}

TEST(Context, MagnificationIsAppliedAfterTheNextFrameAndLayersCroppedAgain) {
  kt::Engine e;
  ASSERT_TRUE(e.ok);
  e.ctx.magnify(0);
  EXPECT_FALSE(e.ctx.change_magnification) << "the current value changes nothing";
  auto *l = new kt::TestLayer(32, 32);
  l->init(&e.ctx);
  e.ctx.layers.add(l);
  l->clip = BlitClip();  // forget the crop of init
  e.ctx.magnify(1);
  e.ctx.cafudda(0);
  EXPECT_FALSE(e.ctx.change_magnification);
  EXPECT_EQ(e.screen->magnification, 1);
  EXPECT_EQ(l->clip.w, 32) << "the layer was cropped again";
  EXPECT_EQ(l->clip.dest, e.screen->coords(l->geo.x, l->geo.y));
  et::drop(l);
  e.ctx.close();
  e.ctx.close();  // and the destructor a third time: the screen is deleted once
  EXPECT_EQ(e.ctx.screen, nullptr);
}

TEST(Context, RocknrollSetsActiveOnlyForNewlyStartedLayers) {
  kt::Engine e;
  ASSERT_TRUE(e.ok);
  auto *l = new kt::TestLayer(16, 16);
  l->init(&e.ctx);
  e.ctx.layers.add(l);
  e.ctx.rocknroll(false);
  EXPECT_TRUE(l->running) << "rocknroll returns once the first frame is made";
  EXPECT_FALSE(l->active);
  e.ctx.cafudda(0);  // already running: its active flag is not touched
  EXPECT_FALSE(l->active);
  EXPECT_EQ(l->feed_buffer.load(), nullptr) << "an inactive layer is not signalled";
  et::drop(l);
}

// The canvas on screens of other sizes: one scale for both axes, centred,
// letterboxed by default, covering the screen and cut when filling; and a
// layer centred and placed (canvas pixels) on it, clipped to it.
TEST(ContextCanvas, PlacedOnTheScreenAndLayersOnIt) {
  const struct Row {
    int cw, ch, sw, sh;
    bool fill;
    double scale;
    int x, y, w, h;
  } rows[] = {
      {0, 0, 640, 480, false, 1, 0, 0, 640, 480},             // the screen itself
      {640, 480, 1280, 960, false, 2, 0, 0, 1280, 960},       // twice
      {640, 480, 1920, 1080, false, 2.25, 240, 0, 1440, 1080},  // bars left and right
      {640, 480, 1920, 1080, true, 3, 0, -180, 1920, 1440},     // top and bottom cut
      {640, 360, 640, 480, false, 1, 0, 60, 640, 360},          // bars above and below
      {320, 240, 100, 100, false, 0.3125, 0, 12, 100, 75},      // smaller
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(testing::Message() << r.cw << "x" << r.ch << " on " << r.sw << "x" << r.sh);
    const Canvas c = Canvas::place(r.cw, r.ch, r.sw, r.sh, r.fill);
    EXPECT_DOUBLE_EQ(c.scale, r.scale);
    EXPECT_EQ(std::vector<int>({c.x, c.y, c.screen_w, c.screen_h}),
              std::vector<int>({r.x, r.y, r.w, r.h}));
  }

  kt::Engine e(1920, 1080);
  ASSERT_TRUE(e.ok);
  e.ctx.set_canvas(640, 480, false);
  kt::TestLayer natural(0, 0), small(100, 50);
  ASSERT_TRUE(natural.init(&e.ctx) && small.init(&e.ctx));
  EXPECT_EQ(std::vector<int>({natural.geo.x, natural.geo.y, natural.geo.w, natural.geo.h}),
            std::vector<int>({240, 0, 1440, 1080})) << "0 x 0 is the canvas";
  EXPECT_EQ(std::vector<int>({small.geo.x, small.geo.y}),
            std::vector<int>({240 + (1440 - 100) / 2, (1080 - 50) / 2})) << "centred in it";
  small.set_position(-20, 100);  // 45 screen pixels over the left edge
  EXPECT_EQ(std::vector<int>({small.geo.x, small.geo.y, small.clip.x, small.clip.w}),
            std::vector<int>({240 - 45, 225, 240, 100 - 45}));
  small.set_position(640, 0);  // just right of the canvas: in the bar, not drawn
  EXPECT_TRUE(small.hidden || small.clip.w <= 0);
}
