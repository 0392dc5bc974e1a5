/*  Shared by the engine tests: waiting for a layer's thread, and stopping a
 *  layer without the half-second wait of Context::close. */
#ifndef KOLVEX_ENGINE_FIXTURE_H
#define KOLVEX_ENGINE_FIXTURE_H

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "test_support.h"

namespace et {

// Polls `cond` until it holds; false after `seconds`, a watchdog against
// hangs, never a timing check.
inline bool eventually(const std::function<bool()> &cond, double seconds = 10.0) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!cond()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Takes a layer out of the engine, ends its thread and deletes it.
inline void drop(Layer *l) {
  l->rem();
  LayerDeleter()(l);
}

}  // namespace et

#endif
