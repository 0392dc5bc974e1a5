/*  Shared by the engine tests: a headless 640x480 engine whose set-up log
 *  is swallowed, and helpers to run frames until layers have a stored frame
 *  and to stop a layer without the half-second wait of Context::close. */
#ifndef KOLVEX_ENGINE_FIXTURE_H
#define KOLVEX_ENGINE_FIXTURE_H

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <initializer_list>
#include <thread>

#include "kolvex.h"
#include "test_support.h"

namespace et {

struct Engine {
  Context ctx;
  bool ok = false;
  explicit Engine(int w = 640, int h = 480) {
    kt::StderrCapture swallow;
    ok = ctx.init(w, h);
  }
};

// Polls `cond` until it holds or `seconds` of wall-clock time have passed.
// The bound is a watchdog against hangs, never a timing check.
inline bool eventually(const std::function<bool()> &cond, double seconds = 10.0) {
  const auto end = std::chrono::steady_clock::now() +
                   std::chrono::milliseconds((long)(seconds * 1000));
  while (!cond()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Runs single frames until every layer has a stored frame, then one more
// so that each of them has been composited from it.
inline bool run_until_fed(Context &ctx, std::initializer_list<Layer *> layers) {
  bool fed = eventually([&] {
    ctx.cafudda(0);
    for (Layer *l : layers)
      if (!l->feed_buffer.load()) return false;
    return true;
  });
  ctx.cafudda(0);
  return fed;
}

// Takes a layer out of the engine, ends its thread and deletes it.
inline void drop(Layer *l) {
  l->rem();
  ASSERT_TRUE(l->stop());
  delete l;
}

// The first three bytes (blue, green, red) of a screen pixel as one value.
inline uint32_t bgr_at(Context &ctx, int x, int y) {
  const uint8_t *p = kt::screen_pixel(ctx, x, y);
  return (uint32_t)p[0] << 16 | (uint32_t)p[1] << 8 | p[2];
}

// Memory word with bytes b, g, r, 0 in this order.
inline uint32_t pixel_bytes(uint8_t b, uint8_t g, uint8_t r) {
  uint32_t w;
  const uint8_t bytes[4] = {b, g, r, 0};
  memcpy(&w, bytes, 4);
  return w;
}

}  // namespace et

#endif
