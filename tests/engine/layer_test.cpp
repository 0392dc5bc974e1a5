/*  The layer base and its thread: settings, geometry set-up, the fade step
 *  of compositing, the feed loop's start and end, and the engine closing
 *  or churning layers while their threads work. */
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <memory>
#include <vector>

#include "engine_fixture.h"

namespace {

// A layer that sets its geometry with any _init arguments.
struct SizedLayer : kt::TestLayer {
  SizedLayer(int w, int h, int bpp) : TestLayer(w, h), bpp_(bpp) {}
  bool init(Context *ctx) override {
    _init(ctx, req_w, req_h, bpp_);
    frame.assign(geo.size, 0);
    return true;
  }
  int bpp_;
};

// A layer whose feed() never gives a frame: its thread stays in the first
// wait of the feed loop.
struct BarrenLayer : kt::TestLayer {
  BarrenLayer() : TestLayer(16, 16) {}
  void *feed() override {
    feeds++;
    return nullptr;
  }
};

// A layer whose feed() blocks until released, for a thread that is busy
// when it is asked to stop.
struct StuckLayer : kt::TestLayer {
  StuckLayer() : TestLayer(16, 16) {}
  void *feed() override {
    if (feeds++ > 0)
      while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return frame.data();
  }
  std::atomic<bool> release{false};
};

// Counts its own deletion.
struct CountedLayer : kt::TestLayer {
  CountedLayer(std::atomic<int> *n, int delay_ms) : TestLayer(32, 32), deleted(n) {
    feed_delay_ms = delay_ms;
  }
  ~CountedLayer() override { (*deleted)++; }
  std::atomic<int> *deleted;
};

// init() with its log lines swallowed.
void init_quietly(Layer *l, Context &ctx) {
  kt::StderrCapture swallow;
  l->init(&ctx);
}

// A layer initialised on the engine, composited by hand without a thread.
struct Composited {
  et::Engine e;
  kt::TestLayer layer{64, 64};
  Composited() {
    kt::StderrCapture swallow;
    layer.init(&e.ctx);
    layer.active = true;
    layer.feed_buffer = layer.frame.data();
  }
  ~Composited() { layer.feed_buffer = nullptr; }
  void frames(int n) {
    for (int i = 0; i < n; ++i) layer.cafudda();
  }
};

}  // namespace

// ---------------------------------------------------------------------------
// Settings
// ---------------------------------------------------------------------------
TEST(LayerSettings, AlphaIsClampedAndNamedWithThreeDigits) {
  kt::TestLayer l;
  EXPECT_EQ(l.alpha, 255);
  EXPECT_STREQ(l.alpha_name, "255");
  l.set_blit(BLIT_ALPHA);
  l.set_alpha(300);
  EXPECT_EQ(l.alpha, 255);
  EXPECT_STREQ(l.get_blit(), "255");
  l.set_alpha(-4);
  EXPECT_EQ(l.alpha, 0);
  EXPECT_STREQ(l.get_blit(), "000");
  l.set_alpha(7);
  EXPECT_STREQ(l.get_blit(), "007");
  // Written directly (as the fade step does), the name stays.
  l.alpha = 99;
  EXPECT_STREQ(l.get_blit(), "007");
}

TEST(LayerSettings, BlitNamesForEveryCode) {
  kt::TestLayer l;
  EXPECT_EQ(l.blit, 1) << "plain copy after construction";
  const char *names[] = {"???", "RGB", "BLU", "GRE", "RED", "ADD", "SUB", "AND", "OR "};
  for (int code = 0; code < 9; ++code) {
    l.set_blit(code);
    EXPECT_STREQ(l.get_blit(), names[code]) << code;
  }
  for (int code = 10; code < 256; ++code) {
    l.set_blit(code);
    EXPECT_STREQ(l.get_blit(), "???") << code;
  }
  l.set_blit(256 + 5);  // low 8 bits kept
  EXPECT_STREQ(l.get_blit(), "ADD");
}

TEST(LayerSettings, NameAndFileName) {
  kt::TestLayer l;
  l.setname("PNGLAYER");
  EXPECT_STREQ(l.get_name(), "PNG");
  l.set_filename("/usr/local/share/orvanta/ant.png");
  EXPECT_STREQ(l.filename, "ant.png");
  l.set_filename("code.png");
  EXPECT_STREQ(l.filename, "code.png");
  l.set_filename("data/");
  EXPECT_STREQ(l.filename, "");
  std::string longname(400, 'n');
  l.set_filename(longname.c_str());
  EXPECT_EQ(strlen(l.filename), sizeof l.filename - 1);
}

// ---------------------------------------------------------------------------
// Geometry set-up
// ---------------------------------------------------------------------------
TEST(LayerInit, ScreenSizeByDefaultCentredOtherwise) {
  et::Engine e;
  ASSERT_TRUE(e.ok);
  const int saved = get_debug();
  set_debug(2);
  kt::StderrCapture log;
  SizedLayer full(0, 0, 0);
  full.init(&e.ctx);
  EXPECT_EQ(full.geo.w, 640);
  EXPECT_EQ(full.geo.h, 480);
  EXPECT_EQ(full.geo.bpp, 32);
  EXPECT_EQ(full.geo.pitch, 2560);
  EXPECT_EQ(full.geo.size, 1228800u);
  EXPECT_EQ(full.geo.x, 0);
  EXPECT_EQ(full.geo.y, 0);
  EXPECT_NE(full.buffer, nullptr);

  SizedLayer big(800, 600, 32);
  big.init(&e.ctx);
  EXPECT_EQ(big.geo.x, -80);
  EXPECT_EQ(big.geo.y, -60);

  // Odd differences truncate toward zero, on both sides of the screen.
  SizedLayer odd(401, 301, 32);
  odd.init(&e.ctx);
  EXPECT_EQ(odd.geo.x, 119);
  EXPECT_EQ(odd.geo.y, 89);
  SizedLayer odd_big(643, 483, 32);
  odd_big.init(&e.ctx);
  EXPECT_EQ(odd_big.geo.x, -1);
  EXPECT_EQ(odd_big.geo.y, -1);

  std::string text = log.text();
  set_debug(saved);
  EXPECT_TRUE(kt::contains(text, "[F] initialized TST layer 640x480 32bpp")) << text;
  EXPECT_TRUE(kt::contains(text, "initialized TST layer 800x600 32bpp")) << text;
}

TEST(LayerInit, SecondInitWarnsAndGivesANewBuffer) {
  et::Engine e;
  ASSERT_TRUE(e.ok);
  SizedLayer l(32, 32, 32);
  init_quietly(&l, e.ctx);
  ASSERT_NE(l.buffer, nullptr);
  void *first = l.buffer;
  const int saved = get_debug();
  set_debug(1);
  kt::StderrCapture log;
  l.init(&e.ctx);
  std::string text = log.text();
  set_debug(saved);
  EXPECT_NE(l.buffer, nullptr);
  EXPECT_NE(l.buffer, first);
  EXPECT_TRUE(kt::contains(text, "[W] requested malloc on a non-NULL pointer")) << text;
  // The first buffer is not leaked (LeakSanitizer would say so).
}

// ---------------------------------------------------------------------------
// The fade step, one per drawn frame
// ---------------------------------------------------------------------------
TEST(LayerFade, InFromZeroToFortyTakesFortyFrames) {
  Composited c;
  c.layer.set_blit(BLIT_ALPHA);
  c.layer.set_alpha(0);
  c.layer.fade_in_target = 40;
  c.frames(39);
  EXPECT_EQ(c.layer.alpha, 39);
  c.frames(1);
  EXPECT_EQ(c.layer.alpha, 40);
  EXPECT_EQ(c.layer.fade_in_target, 40) << "done is noticed one frame later";
  c.frames(1);
  EXPECT_EQ(c.layer.alpha, 40);
  EXPECT_EQ(c.layer.fade_in_target, 0);
  EXPECT_STREQ(c.layer.alpha_name, "000") << "the step does not rename";
}

TEST(LayerFade, OutStopsAtItsTargetAndNeverReachesZero) {
  Composited c;
  c.layer.set_alpha(200);
  c.layer.fade_out_target = 190;
  c.frames(10);
  EXPECT_EQ(c.layer.alpha, 190);
  c.frames(1);
  EXPECT_EQ(c.layer.fade_out_target, 0);
  c.frames(5);
  EXPECT_EQ(c.layer.alpha, 190);
  // A target of 0 means "no fade".
  c.layer.fade_out_target = 0;
  c.frames(5);
  EXPECT_EQ(c.layer.alpha, 190);
}

TEST(LayerFade, InTakesPriorityAndAReachedTargetEndsAtOnce) {
  Composited c;
  c.layer.set_alpha(10);
  c.layer.fade_in_target = 12;
  c.layer.fade_out_target = 1;
  c.frames(2);
  EXPECT_EQ(c.layer.alpha, 12);
  c.frames(1);  // fade-in over
  EXPECT_EQ(c.layer.fade_in_target, 0);
  EXPECT_EQ(c.layer.alpha, 12);
  c.frames(1);  // now the fade-out
  EXPECT_EQ(c.layer.alpha, 11);

  Composited d;
  d.layer.set_alpha(10);
  d.layer.fade_in_target = 10;
  d.frames(1);
  EXPECT_EQ(d.layer.fade_in_target, 0);
  EXPECT_EQ(d.layer.alpha, 10);
}

TEST(LayerFade, OnlyDrawnFramesStep) {
  Composited c;
  c.layer.set_alpha(0);
  c.layer.fade_in_target = 50;
  c.layer.hidden = true;
  c.frames(5);
  c.layer.hidden = false;
  c.layer.active = false;
  c.frames(5);
  c.layer.active = true;
  c.layer.feed_buffer = nullptr;  // no stored frame yet
  c.frames(5);
  EXPECT_EQ(c.layer.alpha, 0);
  c.layer.feed_buffer = c.layer.frame.data();
  c.frames(5);
  EXPECT_EQ(c.layer.alpha, 5);
}

// ---------------------------------------------------------------------------
// Order of compositing
// ---------------------------------------------------------------------------
TEST(LayerOrder, PrependedLayerIsDrawnOnTop) {
  et::Engine e;
  ASSERT_TRUE(e.ok);
  auto *bottom = new kt::TestLayer(64, 64);
  auto *top = new kt::TestLayer(64, 64);
  {
    kt::StderrCapture swallow;
    bottom->init(&e.ctx);
    top->init(&e.ctx);
  }
  bottom->fill(et::pixel_bytes(0x11, 0x22, 0x33));
  top->fill(et::pixel_bytes(0xaa, 0xbb, 0xcc));
  e.ctx.layers.add(bottom);
  e.ctx.layers.prepend(top);
  ASSERT_TRUE(et::run_until_fed(e.ctx, {bottom, top}));
  EXPECT_EQ(et::bgr_at(e.ctx, 320, 240), 0xaabbccu);
  // Exchanged, the other one covers it.
  e.ctx.layers.moveto(1, 2);
  e.ctx.cafudda(0);
  EXPECT_EQ(et::bgr_at(e.ctx, 320, 240), 0x112233u);
  kt::StderrCapture swallow;
  et::drop(top);
  et::drop(bottom);
}

// ---------------------------------------------------------------------------
// The feed loop: start, skipped frames, stop
// ---------------------------------------------------------------------------
TEST(LayerThread, StartedByTheFrameLoopAndDrawnFromItsFirstStoredFrame) {
  et::Engine e;
  ASSERT_TRUE(e.ok);
  auto *l = new kt::TestLayer(32, 32);
  init_quietly(l, e.ctx);
  e.ctx.layers.add(l);
  EXPECT_FALSE(l->active);
  e.ctx.cafudda(0);
  // Started and made active in this frame, but with no stored frame yet:
  // skipped, and signalled for one.
  EXPECT_TRUE(l->active);
  EXPECT_TRUE(l->running);
  // Each frame signals again (one sent before the thread waits is lost).
  ASSERT_TRUE(et::eventually([&] {
    if (!l->feed_buffer.load()) e.ctx.cafudda(0);
    return l->feed_buffer.load() != nullptr;
  }));
  EXPECT_TRUE(l->cafudda());
  kt::StderrCapture swallow;
  et::drop(l);
  EXPECT_EQ(e.ctx.layers.length, 0);
}

TEST(LayerThread, InactiveLayerIsNeitherDrawnNorFed) {
  et::Engine e;
  ASSERT_TRUE(e.ok);
  auto *l = new kt::TestLayer(32, 32);
  init_quietly(l, e.ctx);
  e.ctx.layers.add(l);
  ASSERT_TRUE(et::run_until_fed(e.ctx, {l}));
  l->active = false;
  // Let any feed already asked for finish, then count.
  ASSERT_TRUE(et::eventually([&] {
    int n = l->feeds;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return l->feeds == n;
  }));
  int before = l->feeds;
  for (int i = 0; i < 20; ++i) e.ctx.cafudda(0);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(l->feeds, before);
  kt::StderrCapture swallow;
  et::drop(l);
}

TEST(LayerThread, LayerThatNeverDeliversCanStillBeStopped) {
  et::Engine e;
  ASSERT_TRUE(e.ok);
  BarrenLayer l;
  init_quietly(&l, e.ctx);
  ASSERT_EQ(l.start(), 0);
  ASSERT_TRUE(et::eventually([&] { return l.feeds > 3; }));
  EXPECT_FALSE(l.running);
  EXPECT_TRUE(l.stop());
  EXPECT_FALSE(l.alive);
}

TEST(LayerThread, BusyThreadIsReportedAndStopsOnceFree) {
  et::Engine e;
  ASSERT_TRUE(e.ok);
  StuckLayer l;
  init_quietly(&l, e.ctx);
  e.ctx.layers.add(&l);
  e.ctx.cafudda(0);  // started
  ASSERT_TRUE(l.running);
  // A wake-up sent before the thread waits is lost: send them until its
  // next feed() is under way (and blocks).
  bool busy = et::eventually([&] {
    l.signal_feed();
    return l.feeds >= 2;
  });
  if (!busy) {
    l.release = true;
    l.rem();
    l.stop();
    FAIL() << "the thread never started its second feed";
  }
  l.rem();
  {
    kt::StderrCapture log;
    EXPECT_FALSE(l.stop(0.2));
    EXPECT_TRUE(kt::contains(log.text(), "[!] layer TST thread does not stop")) << log.text();
  }
  EXPECT_TRUE(l.alive);
  l.release = true;
  EXPECT_TRUE(l.stop());
  EXPECT_FALSE(l.running);
  EXPECT_FALSE(l.alive);
}

TEST(LayerThread, ThreadThatCannotStartIsReportedAndNeverWaitedFor) {
  et::Engine e;
  ASSERT_TRUE(e.ok);
  auto *l = new kt::TestLayer(32, 32);
  init_quietly(l, e.ctx);
  // A stack no machine can map makes pthread_create fail.
  ASSERT_EQ(pthread_attr_setstacksize(&l->attr, (size_t)1 << 46), 0);
  e.ctx.layers.add(l);
  kt::StderrCapture log;
  e.ctx.cafudda(0);
  e.ctx.cafudda(0);
  std::string text = log.text();
  EXPECT_EQ(kt::count_lines(text, "[!] can't start thread for layer TST"), 2) << text;
  EXPECT_FALSE(l->active);
  EXPECT_FALSE(l->alive);
  EXPECT_EQ(l->feeds, 0);
  l->rem();
  delete l;
}

// Each frame asks for exactly one new frame of each drawn layer; in
// lockstep the loop waits for it, so none is lost or doubled.
TEST(LayerThread, LockstepGivesOneFeedPerFrame) {
  et::Engine e;
  ASSERT_TRUE(e.ok);
  e.ctx.lockstep = true;
  auto *l = new kt::TestLayer(32, 32);
  l->feed_delay_ms = 1;  // slower than the loop: without waiting, frames would be missed
  init_quietly(l, e.ctx);
  e.ctx.layers.add(l);
  e.ctx.cafudda(0);
  const int start = l->feeds;
  for (int i = 0; i < 100; ++i) {
    e.ctx.cafudda(0);
    EXPECT_EQ(l->feeds, start + i + 1) << "frame " << i;
    if (l->feeds != start + i + 1) break;
  }
  kt::StderrCapture swallow;
  et::drop(l);
}

// ---------------------------------------------------------------------------
// The engine closing, and layers coming and going under load
// ---------------------------------------------------------------------------
TEST(EngineClose, EndsAndDeletesEveryLayerEvenWithSlowFeeds) {
  std::atomic<int> deleted{0};
  std::vector<CountedLayer *> layers;
  auto e = std::make_unique<et::Engine>();
  ASSERT_TRUE(e->ok);
  {
    kt::StderrCapture swallow;
    for (int delay : {0, 40, 300}) {
      auto *l = new CountedLayer(&deleted, delay);
      l->init(&e->ctx);
      e->ctx.layers.add(l);
      layers.push_back(l);
    }
  }
  e->ctx.cafudda(0);
  for (int i = 0; i < 5; ++i) e->ctx.cafudda(0);  // feeds under way
  kt::StderrCapture log;
  e->ctx.close();
  EXPECT_EQ(deleted, 3);
  EXPECT_EQ(e->ctx.layers.length, 0);
  EXPECT_FALSE(kt::contains(log.text(), "does not stop")) << log.text();
  e.reset();  // the destructor's close finds nothing left
  EXPECT_EQ(deleted, 3);
}

TEST(EngineChurn, LayersAddedAndRemovedEveryFrame) {
  et::Engine e;
  ASSERT_TRUE(e.ok);
  kt::StderrCapture swallow;
  std::atomic<int> deleted{0};
  std::vector<CountedLayer *> live;
  int made = 0;
  for (int frame = 0; frame < 3000; ++frame) {
    auto *l = new CountedLayer(&deleted, frame % 7 == 0 ? 1 : 0);
    l->init(&e.ctx);
    l->fill(et::pixel_bytes((uint8_t)frame, 0, 0));
    l->set_blit(1 + frame % 9);
    if (frame % 2) e.ctx.layers.add(l);
    else e.ctx.layers.prepend(l);
    live.push_back(l);
    made++;
    e.ctx.cafudda(0);
    if (live.size() > 4) {
      // Take out one from the middle, as a programme does between scenes.
      CountedLayer *victim = live[frame % live.size()];
      live.erase(live.begin() + frame % live.size());
      victim->rem();
      ASSERT_TRUE(victim->stop()) << "frame " << frame;
      delete victim;
    }
  }
  EXPECT_EQ(deleted, made - (int)live.size());
  e.ctx.close();
  EXPECT_EQ(deleted, made);
}
