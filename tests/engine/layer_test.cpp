/*  The layer base and its thread: names, geometry set-up, the fade step,
 *  compositing order, lockstep, troubled threads, and the engine churning
 *  and closing layers while their threads work. */
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <memory>
#include <vector>

#include "engine_fixture.h"

namespace {

// Counts its own deletion.
struct CountedLayer : kt::TestLayer {
  CountedLayer(std::atomic<int> *n, int delay_ms) : TestLayer(32, 32), deleted(n) {
    feed_delay_ms = delay_ms;
  }
  ~CountedLayer() override { (*deleted)++; }
  std::atomic<int> *deleted;
};

// A barren layer's feed() gives nothing; a stuck one's blocks after the
// first frame until released.
struct Troubled : kt::TestLayer {
  explicit Troubled(bool barren) : TestLayer(16, 16), barren(barren) {}
  void *feed() override {
    if (feeds++ > 0 && !barren) et::eventually([&] { return release.load(); }, 60);
    return barren ? nullptr : frame.data();
  }
  bool barren;
  std::atomic<bool> release{false};
};

uint32_t memory_word(uint8_t b, uint8_t g, uint8_t r) { return b | g << 8 | r << 16; }

}  // namespace

TEST(LayerSettings, NamesOfBlitModesAlphaAndFile) {
  kt::TestLayer l;
  EXPECT_STREQ(l.get_blit(), "RGB") << "plain copy after construction";
  const char *names[] = {"???", "RGB", "BLU", "GRE", "RED", "ADD",
                         "SUB", "AND", "OR ", "255", "???"};
  for (int code = 0; code <= 10; ++code) {
    l.set_blit(code);
    EXPECT_STREQ(l.get_blit(), names[code]) << code;
  }
  l.set_blit(256 + 5);  // low 8 bits kept
  EXPECT_STREQ(l.get_blit(), "ADD");
  l.set_blit(BLIT_ALPHA);
  for (int a : {300, -4, 7}) {
    l.set_alpha(a);
    EXPECT_EQ(std::to_string(l.alpha) + l.get_blit(),
              a == 300 ? "255255" : a < 0 ? "0000" : "7007");
  }
  l.setname("PNGLAYER");
  l.set_filename("/usr/local/share/orvanta/ant.png");
  EXPECT_EQ(std::string(l.get_name()) + l.filename, "PNGant.png");
}

TEST(LayerInit, ScreenSizeByDefaultCentredOtherwise) {
  kt::Engine e;
  ASSERT_TRUE(e.ok);
  const struct {
    int w, h, gw, gx, gy;
    const char *line;
  } rows[] = {
      {0, 0, 640, 0, 0, "[F] initialized TST layer 640x480 32bpp\n"},
      {800, 600, 800, -80, -60, "[F] initialized TST layer 800x600 32bpp\n"},
      {401, 301, 401, 119, 89, nullptr},  // odd differences truncate toward zero
      {643, 483, 643, -1, -1, nullptr},
      // A line must fit the 16-bit pitch: a wider layer is cut to fit.
      {16426, 4, 16383, -7871, 238,
       "[!] layer TST: 16426 pixels wide, more than 16383: cut to that\n"},
  };
  set_debug(2);
  for (const auto &r : rows) {
    SCOPED_TRACE(r.w);
    kt::TestLayer l(r.w, r.h);
    kt::StderrCapture log;
    l.init(&e.ctx);
    const std::string text = log.text();
    const ScreenGeometry &g = l.geo;
    const int h = r.h ? r.h : 480;
    EXPECT_EQ(std::vector<int>({g.w, g.h, g.bpp, g.pitch, (int)g.size, g.x, g.y}),
              std::vector<int>({r.gw, h, 32, r.gw * 4, r.gw * h * 4, r.gx, r.gy}));
    EXPECT_NE(l.buffer, nullptr);
    EXPECT_TRUE(!r.line || kt::contains(text, r.line)) << text;
  }
  set_debug(0);
}

// The fades themselves: fade_test.cpp.
TEST(LayerFade, OnlyDrawnFramesStep) {
  kt::Engine e;
  ASSERT_TRUE(e.ok);
  kt::TestLayer l(64, 64);
  l.init(&e.ctx);
  l.set_blit(BLIT_ALPHA);
  l.set_alpha(0);
  l.fade_in(50);
  for (int skip = 0; skip < 3; skip++) {  // hidden, inactive, before a frame
    l.hidden = skip == 0, l.active = skip != 1;
    l.feed_buffer = skip == 2 ? nullptr : l.frame.data();
    EXPECT_FALSE(l.cafudda());
  }
  EXPECT_EQ(l.alpha, 0);
  l.hidden = false;
  l.feed_buffer = l.frame.data();
  EXPECT_TRUE(l.cafudda());
  EXPECT_EQ(l.alpha, 1);
}

// In lockstep the loop waits for each drawn layer's next frame: exactly
// one feed a frame, none lost, none doubled, even from a slow layer.
TEST(LayerOrder, PrependedOnTopClearAllBlanksTheRestLockstepFeedsEachFrame) {
  kt::Engine e;
  ASSERT_TRUE(e.ok);
  e.ctx.lockstep = true;
  auto *bottom = new kt::TestLayer(64, 64), *top = new kt::TestLayer(64, 64);
  bottom->init(&e.ctx);
  top->init(&e.ctx);
  bottom->fill(memory_word(0x11, 0x22, 0x33));
  top->fill(memory_word(0xaa, 0xbb, 0xcc));
  bottom->feed_delay_ms = 1;
  e.ctx.layers.add(bottom);
  e.ctx.layers.prepend(top);
  e.ctx.cafudda(0);  // started; in lockstep each has a frame when it returns
  uint32_t *corner = (uint32_t *)kt::screen_pixel(e.ctx, 0, 0);
  *corner = 0xDEADBEEF;
  e.ctx.cafudda(0);
  EXPECT_EQ(*(uint32_t *)kt::screen_pixel(e.ctx, 320, 240) & 0xFFFFFF, 0xccbbaau);
  EXPECT_EQ(*corner, 0xDEADBEEF) << "uncovered pixels keep the last frame's";
  e.ctx.layers.moveto(1, 2);  // exchanged, the other one covers it
  e.ctx.clear_all = true;
  e.ctx.cafudda(0);
  EXPECT_EQ(*(uint32_t *)kt::screen_pixel(e.ctx, 320, 240) & 0xFFFFFF, 0x332211u);
  EXPECT_EQ(*corner, 0u) << "cleared to black";
  const int start = bottom->feeds;
  for (int i = 1; i <= 30 && bottom->feeds == start + i - 1; ++i) {
    e.ctx.cafudda(0);
    EXPECT_EQ(bottom->feeds - start, i);
    EXPECT_EQ(top->feeds - bottom->feeds, 0) << "frame " << i;
  }
  et::drop(top);
  et::drop(bottom);
}

// Both kinds of troubled layer can be stopped; the stuck one's owner does
// not delete it under its thread, which can be stopped once free. A thread
// that cannot start is reported and never waited for.
TEST(LayerThread, TroubledThreadsAreReportedAndStillStopped) {
  kt::Engine e;
  ASSERT_TRUE(e.ok);
  Troubled barren(true), &stuck = *new Troubled(false);  // deleted by LayerDeleter
  barren.init(&e.ctx);
  stuck.init(&e.ctx);
  ASSERT_EQ(barren.start(), 0);
  e.ctx.layers.add(&stuck);
  e.ctx.cafudda(0);
  stuck.rem();
  ASSERT_TRUE(et::eventually([&] {
    stuck.signal_feed();  // one sent before the thread waits is lost: again until busy
    return barren.feeds > 3 && stuck.feeds >= 2;
  }));
  EXPECT_FALSE(barren.running);
  EXPECT_TRUE(barren.stop());
  kt::StderrCapture log;
  LayerDeleter{0.2}(&stuck);  // not deleted: it would be under its thread
  EXPECT_TRUE(stuck.alive);
  stuck.release = true;
  LayerDeleter{}(&stuck);
  auto *l = new kt::TestLayer(32, 32);
  l->init(&e.ctx);
  ASSERT_EQ(pthread_attr_setstacksize(&l->attr, (size_t)1 << 46), 0);  // no machine maps that
  e.ctx.layers.add(l);
  e.ctx.cafudda(0);
  e.ctx.cafudda(0);
  EXPECT_EQ(log.text(), "[!] layer TST thread does not stop\n"
                        "[!] layer TST left undeleted: its thread still runs\n"
                        "[!] can't start thread for layer TST\n[!] can't start thread for layer TST\n");
  EXPECT_FALSE(l->active || l->alive || l->feeds);
  delete l;
}

TEST(EngineChurn, LayersAddedAndRemovedEveryFrame) {
  kt::Engine e;
  ASSERT_TRUE(e.ok);
  std::atomic<int> deleted{0};
  std::vector<CountedLayer *> live;
  const int made = 200;
  for (int frame = 0; frame < made; ++frame) {
    auto *l = new CountedLayer(&deleted, frame % 7 == 0 ? 1 : 0);
    l->init(&e.ctx);
    l->fill(memory_word((uint8_t)frame, 0, 0));
    l->set_blit(1 + frame % 9);
    frame % 2 ? e.ctx.layers.add(l) : e.ctx.layers.prepend(l);
    live.push_back(l);
    e.ctx.cafudda(0);
    if (live.size() > 4) {  // one from the middle, as a programme does between scenes
      CountedLayer *victim = live[frame % live.size()];
      live.erase(live.begin() + frame % live.size());
      et::drop(victim);
    }
  }
  EXPECT_EQ(deleted, made - (int)live.size());
  kt::StderrCapture log;
  e.ctx.close();  // ends and deletes every listed layer, slow feeds too
  EXPECT_EQ(deleted, made);
  EXPECT_EQ(e.ctx.layers.length, 0);
  EXPECT_EQ(log.text(), "");
}
