// What the engine does when a layer, a plug-in, a picture or the screen
// lets it down: the picture stays right, the frame loop goes on, and the
// log says what happened.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "kolvex.h"
#include "test_support.h"

namespace {

struct Engine : kt::Engine {
  explicit Engine(int w = 64, int h = 48) : kt::Engine(w, h) {}
};

// An effect that works in place, as plug-ins may: it inverts its argument.
void *invert_in_place(void *frame) {
  static_assert(sizeof(uint32_t) == 4, "pixels");
  uint32_t *p = (uint32_t *)frame;
  for (int i = 0; i < 64 * 48; i++) p[i] = ~p[i];
  return frame;
}

TEST(Recovery, InPlaceFilterNeverChangesThePicture) {
  Engine e;
  ASSERT_TRUE(e.ok);
  kt::TempDir dir;
  const std::string path = dir.path + "/inplace.png";
  std::vector<uint8_t> rgba = kt::noise(64 * 48 * 4, 7);
  for (size_t i = 3; i < rgba.size(); i += 4) rgba[i] = 0xFF;
  png_image img = {};
  img.version = PNG_IMAGE_VERSION, img.width = 64, img.height = 48, img.format = PNG_FORMAT_RGBA;
  ASSERT_TRUE(png_image_write_to_file(&img, path.c_str(), 0, rgba.data(), 0, nullptr));

  Layer *picture = create_layer(path.c_str()).release();  // the engine's list takes it
  ASSERT_TRUE(picture && picture->init(&e.ctx));
  Filter fx;
  fx.process_f = invert_in_place;
  picture->filters.add(&fx);
  e.ctx.lockstep = true;
  e.ctx.layers.add(picture);
  for (int frame = 0; frame < 4; frame++) {
    e.ctx.cafudda(0);
    const uint8_t *px = kt::screen_pixel(e.ctx, 5, 9);
    const uint8_t *src = &rgba[(9 * 64 + 5) * 4];  // r, g, b: the screen has b, g, r
    ASSERT_EQ(px[0], (uint8_t)~src[2]) << "frame " << frame;
    ASSERT_EQ(px[1], (uint8_t)~src[1]) << "frame " << frame;
    ASSERT_EQ(px[2], (uint8_t)~src[0]) << "frame " << frame;
  }
  fx.rem();
}

// Delivers no frame until told to.
class SilentLayer : public kt::TestLayer {
 public:
  std::atomic<bool> deliver{false};
  void *feed() override { return deliver ? kt::TestLayer::feed() : nullptr; }
};

TEST(Recovery, LayerWithoutFrameIsLeftOutUntilItDelivers) {
  Engine e;
  auto *late = new SilentLayer();
  ASSERT_TRUE(late->init(&e.ctx));
  late->fill(0x00FFFFFF);
  e.ctx.layers.add(late);
  kt::StderrCapture cap;
  e.ctx.cafudda(0);  // waits for it, within bounds
  e.ctx.cafudda(0);  // does not wait again
  std::string log = cap.text();
  EXPECT_EQ(kt::count_lines(log, "[!] layer TST delivers no frame: left out until it does"), 1)
      << log;
  EXPECT_FALSE(late->active);
  late->deliver = true;
  for (int i = 0; i < 2000 && !late->active; i++) {
    e.ctx.cafudda(0);
    std::this_thread::yield();
  }
  EXPECT_TRUE(late->active) << "it joins once it has a frame";
}

// The frame limiter's sleeps on a virtual clock that moves by what is slept.
int64_t now_us = 0;
bool bad_sleep = false;
void vt_time(struct timeval *tv) {
  tv->tv_sec = (time_t)(now_us / 1000000);
  tv->tv_usec = (suseconds_t)(now_us % 1000000);
}
void vt_sleep(const struct timespec *ts) {
  if (ts->tv_nsec < 0 || ts->tv_nsec > 999999999) bad_sleep = true;
  now_us += (int64_t)ts->tv_sec * 1000000 + ts->tv_nsec / 1000;
}
const KolvexClock vt_clock = {vt_time, vt_sleep};

TEST(Recovery, FrameRatesBelowOneAreRefusedOneAFrameASecondHolds) {
  Engine e;
  kt::StderrCapture cap;
  set_debug(1);
  e.ctx.set_fps_interval(0);
  e.ctx.set_fps_interval(-3);
  set_debug(0);
  EXPECT_EQ(kt::count_lines(cap.text(), "[W] frame rate 0 refused, kept at 24"), 1);
  EXPECT_EQ(e.ctx.fps_usec, 1000000 / 24);

  kolvex_set_clock(&vt_clock);
  e.ctx.set_fps_interval(1);
  vt_time(&e.ctx.lst_time);
  const unsigned long before = e.ctx.frames;
  e.ctx.cafudda(3);
  kolvex_set_clock(nullptr);
  EXPECT_FALSE(bad_sleep) << "a sleep of a second or more must be split";
  EXPECT_EQ(e.ctx.frames - before, 4u) << "three seconds at one frame a second";
}

// Runs `fn` with only `room` bytes of address space left to the process.
// Not under sanitizers: their shadow memory needs the address space.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define SKIP_WITHOUT_ADDRESS_LIMIT() GTEST_SKIP() << "no address-space limit under a sanitizer"
#else
#define SKIP_WITHOUT_ADDRESS_LIMIT() (void)0
#endif
template <typename Fn>
void with_room(size_t room, Fn fn) {
  long pages = 0;
  FILE *f = fopen("/proc/self/statm", "r");
  ASSERT_TRUE(f && fscanf(f, "%ld", &pages) == 1);
  fclose(f);
  struct rlimit old, tight;
  getrlimit(RLIMIT_AS, &old);
  tight = old;
  tight.rlim_cur = (rlim_t)pages * sysconf(_SC_PAGESIZE) + room;
  ASSERT_EQ(setrlimit(RLIMIT_AS, &tight), 0);
  fn();
  setrlimit(RLIMIT_AS, &old);
}

// Layer::_init from a test: a second set-up whose frame cannot be had.
class Regrown : public kt::TestLayer {
 public:
  using Layer::_init;
};

TEST(Recovery, FailedSecondSetUpLeavesNoStaleBuffer) {
  SKIP_WITHOUT_ADDRESS_LIMIT();
  Engine e;
  Regrown layer;
  kt::StderrCapture quiet;
  layer._init(&e.ctx, 64, 48, 32);
  ASSERT_NE(layer.buffer, nullptr);
  with_room(64 << 20, [&] { layer._init(&e.ctx, 16000, 16000, 32); });
  EXPECT_EQ(layer.buffer, nullptr) << "a buffer smaller than the geometry says";
}

TEST(Recovery, MagnificationWithoutMemoryStaysOff) {
  SKIP_WITHOUT_ADDRESS_LIMIT();
  Engine e(640, 480);
  ASSERT_TRUE(e.ok);
  kt::StderrCapture cap;
  with_room(256 << 10, [&] { e.ctx.screen->set_magnification(1); });
  const std::string log = cap.text();
  EXPECT_TRUE(kt::contains(log, "[!] can't create the surface for screen magnification")) << log;
  EXPECT_EQ(e.ctx.screen->magnification, 0);
  e.ctx.cafudda(0);  // still draws
  e.ctx.screen->set_magnification(1);
  EXPECT_EQ(e.ctx.screen->magnification, 1);
  e.ctx.cafudda(0);
}

TEST(Recovery, TallStripLoadsABombDoesNot) {
  Engine e;
  struct Row {
    uint32_t w, h;
    bool loads;
  } rows[] = {{640, 20000, true}, {8192, 8193, false}};
  kt::TempDir dir;
  for (const Row &r : rows) {
    SCOPED_TRACE(std::to_string(r.w) + "x" + std::to_string(r.h));
    const std::string path = dir.path + "/strip.png";
    std::vector<uint8_t> grey((size_t)r.w * r.h, 0x40);
    png_image img = {};
    img.version = PNG_IMAGE_VERSION, img.width = r.w, img.height = r.h;
    img.format = PNG_FORMAT_GRAY;
    ASSERT_TRUE(png_image_write_to_file(&img, path.c_str(), 0, grey.data(), 0, nullptr));
    LayerPtr l = create_layer(path.c_str());
    ASSERT_NE(l, nullptr);
    kt::StderrCapture quiet;
    EXPECT_EQ(l->init(&e.ctx), r.loads);
    EXPECT_EQ(l->feed() != nullptr, r.loads);
    if (r.loads) {
      EXPECT_EQ(l->geo.h, r.h);
    }
  }
}

}  // namespace
