/*  The engine context: set-up and tear-down, and the frame loop with its
 *  rate limiter, run on a virtual clock so that the schedule itself is
 *  checked (sleep requests, the planned frame starts) instead of wall-clock
 *  bounds. */
#include <gtest/gtest.h>
#include <mikmod.h>

#include <cstdlib>
#include <mutex>
#include <vector>

#include "engine_fixture.h"

// ---------------------------------------------------------------------------
// The music update, counted. This definition takes the place of the
// library's for this test program only: the frame loop is what calls it.
// ---------------------------------------------------------------------------
namespace {
std::atomic<int> g_updates{0};
std::function<void()> g_on_update;
}  // namespace

extern "C" void MikMod_Update(void) {
  g_updates++;
  if (g_on_update) g_on_update();
}

namespace {

// ---------------------------------------------------------------------------
// Virtual clock: time moves only by the sleeps the engine asks for and by
// the work the test charges at the end of a frame (in the music update). Every reading and sleep is logged together
// with the context's schedule at that moment.
// ---------------------------------------------------------------------------
struct Event {
  enum Kind { READ, SLEEP } kind;
  int64_t now;        // virtual microseconds when the event happened
  int64_t lst;        // the context's lst_time then
  int elapsed;        // the context's elapsed then
  long sleep_ns;      // SLEEP: the request
};

struct VirtualClock {
  std::mutex m;
  int64_t now = 1700000000ll * 1000000 + 123456;  // not on a second boundary
  Context *ctx = nullptr;
  std::vector<Event> events;

  int64_t lst() const {
    return ctx ? (int64_t)ctx->lst_time.tv_sec * 1000000 + ctx->lst_time.tv_usec : 0;
  }
};
VirtualClock *g_clock = nullptr;

void virtual_gettime(struct timeval *tv) {
  std::lock_guard<std::mutex> g(g_clock->m);
  tv->tv_sec = g_clock->now / 1000000;
  tv->tv_usec = g_clock->now % 1000000;
  g_clock->events.push_back(
      {Event::READ, g_clock->now, g_clock->lst(), g_clock->ctx ? g_clock->ctx->elapsed : 0, 0});
}

void virtual_sleep(const struct timespec *ts) {
  std::lock_guard<std::mutex> g(g_clock->m);
  g_clock->events.push_back(
      {Event::SLEEP, g_clock->now, g_clock->lst(), g_clock->ctx->elapsed, ts->tv_nsec});
  EXPECT_EQ(ts->tv_sec, 0);
  g_clock->now += ts->tv_sec * 1000000 + ts->tv_nsec / 1000;
}

const KolvexClock kVirtual = {virtual_gettime, virtual_sleep};

// An engine on the virtual clock, installed before init so that the first
// frame is timed from the end of init on the same clock.
class FrameLoop : public ::testing::Test {
 protected:
  void SetUp() override {
    g_clock = &clock_;
    g_updates = 0;
    g_on_update = nullptr;
    kolvex_set_clock(&kVirtual);
    engine_.reset(new et::Engine());
    ASSERT_TRUE(engine_->ok);
    clock_.ctx = &engine_->ctx;
    std::lock_guard<std::mutex> g(clock_.m);
    clock_.events.clear();
  }
  void TearDown() override {
    engine_.reset();
    kolvex_set_clock(nullptr);
    g_on_update = nullptr;
    g_clock = nullptr;
  }
  Context &ctx() { return engine_->ctx; }
  std::vector<Event> events(Event::Kind kind) {
    std::lock_guard<std::mutex> g(clock_.m);
    std::vector<Event> out;
    for (const Event &e : clock_.events)
      if (e.kind == kind) out.push_back(e);
    return out;
  }

  VirtualClock clock_;
  std::unique_ptr<et::Engine> engine_;
};

}  // namespace

TEST_F(FrameLoop, InitSetsTwentyFourFramesPerSecond) {
  EXPECT_EQ(ctx().fps_usec, 41666);
  ctx().set_fps_interval(25);
  EXPECT_EQ(ctx().fps_usec, 40000);
  ctx().set_fps_interval(7);
  EXPECT_EQ(ctx().fps_usec, 142857);
}

TEST_F(FrameLoop, ZeroSecondsIsExactlyOneFrameWithoutPacing) {
  const unsigned long before = ctx().frames;
  ctx().cafudda(0);
  EXPECT_EQ(ctx().frames, before + 1);
  EXPECT_EQ(g_updates, 0);
  EXPECT_TRUE(events(Event::SLEEP).empty());
  EXPECT_TRUE(events(Event::READ).empty()) << "a one-frame call reads no clock";
  EXPECT_EQ(ctx().fps, 0.0f);
}

TEST_F(FrameLoop, NegativeSecondsIsOneFrameWithPacing) {
  const unsigned long before = ctx().frames;
  ctx().cafudda(-1);
  EXPECT_EQ(ctx().frames, before + 1);
  EXPECT_EQ(g_updates, 1);
  EXPECT_EQ(events(Event::SLEEP).size(), 1u);
}

TEST_F(FrameLoop, ThreeSecondsIsAbout72FramesOnASteadySchedule) {
  g_on_update = [&] { clock_.now += 8000; };  // 8 ms of work a frame
  const int64_t t0 = clock_.now;
  const unsigned long before = ctx().frames;
  ctx().cafudda(3);
  const int frames = (int)(ctx().frames - before);
  EXPECT_GE(frames, 72);
  EXPECT_LE(frames, 74);
  EXPECT_EQ(g_updates, frames) << "one music update per frame";

  const std::vector<Event> sleeps = events(Event::SLEEP);
  ASSERT_EQ((int)sleeps.size(), frames) << "no frame was late, each one sleeps";
  for (size_t i = 0; i < sleeps.size(); i++) {
    const Event &s = sleeps[i];
    EXPECT_GE(s.elapsed, 0) << i;
    EXPECT_LT(s.elapsed, 41666) << i;
    EXPECT_EQ(s.sleep_ns, (long)(41666 - s.elapsed) << 10) << "frame " << i;
    EXPECT_EQ(s.now - s.lst, s.elapsed) << "elapsed is measured from the plan, frame " << i;
    if (i) {
      EXPECT_EQ(s.lst - sleeps[i - 1].lst, 41666) << "the plan advances one slot, frame " << i;
    }
  }
  // No drift: the oversleep of 2.4 % is taken back by the next frame.
  const int64_t span = clock_.now - t0;
  EXPECT_LT(std::llabs(span - (int64_t)frames * 41666), 41666) << span;
  EXPECT_GE(span, 3000000);
}

TEST_F(FrameLoop, LateFrameIsNotFollowedBySleepAndRestartsThePlan) {
  int frame = 0;
  g_on_update = [&] {
    if (++frame == 5) clock_.now += 100000;  // frame 6 runs 100 ms late
  };
  ctx().cafudda(1);

  // Readings: the start of the run, then per frame the time check and the
  // reading of calc_fps.
  std::vector<Event> calc;
  std::vector<Event> reads = events(Event::READ);
  for (size_t i = 2; i < reads.size(); i += 2) calc.push_back(reads[i]);
  const std::vector<Event> sleeps = events(Event::SLEEP);
  ASSERT_GE(calc.size(), 8u);
  EXPECT_EQ(sleeps.size(), calc.size() - 1) << "exactly one frame skipped its sleep";

  // Sleep i belongs to frame i for the first five frames, frame i+1 after.
  const Event &late = calc[5];
  EXPECT_GT(late.now - late.lst, 41666);
  EXPECT_EQ(sleeps[5].lst, late.now) << "the plan restarts from the late frame's end";
  EXPECT_EQ(sleeps[6].lst - sleeps[5].lst, 41666);
}

TEST_F(FrameLoop, TrackFpsMeasuresEvery24Frames) {
  g_on_update = [&] { clock_.now += 20000; };  // 20 ms of work: room for ~50 fps
  ctx().cafudda(1);
  EXPECT_EQ(ctx().fps, 0.0f) << "fps is measured only when asked for";

  ctx().track_fps = true;
  ctx().fps_count = 0;
  ctx().cafudda(1);
  // The rate the frame's working time allows (the working time includes the
  // 2.4 % oversleep of the frame before), not the 24 the limiter holds.
  EXPECT_GT(ctx().fps, 45.0f);
  EXPECT_LE(ctx().fps, 50.0f);
  EXPECT_GE(ctx().fps_count, 0);
  EXPECT_LT(ctx().fps_count, 24);
}

// ---------------------------------------------------------------------------
// Set-up and tear-down (real clock)
// ---------------------------------------------------------------------------
TEST(Context, ConstructorLogsTheBannerAndStartsEmpty) {
  kt::StderrCapture cap;
  Context ctx;
  const std::string out = cap.text();
  EXPECT_EQ(out.rfind("[*] morvash the Orvanta 1.0 engine\n .  ", 0), 0u) << out;
  EXPECT_EQ(ctx.screen, nullptr);
  EXPECT_EQ(ctx.layers.length, 0);
  EXPECT_EQ(ctx.fps, 0.0f);
  EXPECT_FALSE(ctx.clear_all);
  EXPECT_FALSE(ctx.skip_layers);
  EXPECT_FALSE(ctx.track_fps);
  EXPECT_EQ(ctx.magnification, 0);
}

TEST(Context, SecondCloseDoesNotDeleteTheScreenAgain) {
  et::Engine e;
  ASSERT_TRUE(e.ok);
  ASSERT_NE(e.ctx.screen, nullptr);
  e.ctx.close();
  EXPECT_EQ(e.ctx.screen, nullptr);
  e.ctx.close();  // and the destructor closes a third time
  EXPECT_EQ(e.ctx.screen, nullptr);
}

TEST(Context, InitFailsWhenNoVideoCanBeSet) {
  const char *saved = getenv("SDL_VIDEODRIVER");
  const std::string restore = saved ? saved : "";
  setenv("SDL_VIDEODRIVER", "kolvex-no-such-driver", 1);
  bool ok;
  std::string out;
  {
    Context ctx;
    kt::StderrCapture cap;
    ok = ctx.init(640, 480);
    out = cap.text();
    EXPECT_NE(ctx.screen, nullptr) << "the half-made screen stays until close";
    ctx.close();
    EXPECT_EQ(ctx.screen, nullptr);
  }
  if (saved) setenv("SDL_VIDEODRIVER", restore.c_str(), 1);
  else unsetenv("SDL_VIDEODRIVER");
  EXPECT_FALSE(ok);
  EXPECT_EQ(kt::count_lines(out, "[!] Can't initialize the viewport"), 1) << out;
  EXPECT_EQ(kt::count_lines(out, "[!] This is a fatal error"), 1) << out;
}

TEST(Context, MagnifyOnlyFlagsARealChange) {
  Context ctx;
  ctx.magnify(0);
  EXPECT_FALSE(ctx.change_magnification);
  ctx.magnify(1);
  EXPECT_TRUE(ctx.change_magnification);
  EXPECT_EQ(ctx.magnification, 1);
}

TEST(Context, MagnificationIsAppliedAfterTheNextFrameAndLayersCroppedAgain) {
  et::Engine e;
  ASSERT_TRUE(e.ok);
  auto *l = new kt::TestLayer(32, 32);
  l->init(&e.ctx);
  e.ctx.layers.add(l);
  e.ctx.cafudda(0);
  l->clip = BlitClip();  // forget the crop of init
  e.ctx.magnify(1);
  e.ctx.cafudda(0);
  EXPECT_FALSE(e.ctx.change_magnification);
  EXPECT_EQ(e.ctx.screen->magnification, 1);
  EXPECT_EQ(l->clip.w, 32) << "the layer was cropped again";
  EXPECT_EQ(l->clip.h, 32);
  et::drop(l);
}

TEST(Context, CloseDeletesEveryListedLayerAndEmptiesTheList) {
  struct Counted : kt::TestLayer {
    explicit Counted(int *n) : TestLayer(16, 16), deleted(n) {}
    ~Counted() override { ++*deleted; }
    int *deleted;
  };
  int deleted = 0;
  et::Engine e;
  ASSERT_TRUE(e.ok);
  for (int i = 0; i < 2; i++) {
    auto *l = new Counted(&deleted);
    l->init(&e.ctx);
    e.ctx.layers.add(l);
  }
  e.ctx.cafudda(0);
  e.ctx.close();
  EXPECT_EQ(deleted, 2);
  EXPECT_EQ(e.ctx.layers.length, 0);
}

TEST(Context, RocknrollSetsActiveOnlyForNewlyStartedLayers) {
  et::Engine e;
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
