#include "virtual_clock.h"

#include <kolvex/clock.h>

#include <atomic>

namespace capture {

namespace {

int rate = 24;
int64_t origin = 0;
VirtualClockHooks hooks;
std::atomic<int64_t> frames{0};

void virtual_gettime(struct timeval *tv) {
  if (hooks.on_read) hooks.on_read();
  const int64_t us = frame_start_usec(frames.load(), rate);
  tv->tv_sec = (time_t)(origin + us / 1000000);
  tv->tv_usec = (suseconds_t)(us % 1000000);
}

void virtual_sleep(const struct timespec *) {
  if (hooks.on_frame) hooks.on_frame(frames.load());
  frames++;
}

const KolvexClock virtual_clock = {virtual_gettime, virtual_sleep};

}  // namespace

void install_virtual_clock(int fps, int64_t origin_seconds, VirtualClockHooks h) {
  rate = fps;
  origin = origin_seconds;
  hooks = std::move(h);
  frames = 0;
  kolvex_set_clock(&virtual_clock);
}

void remove_virtual_clock() {
  kolvex_set_clock(nullptr);
  hooks = VirtualClockHooks();
}

int64_t virtual_frames() { return frames.load(); }

}  // namespace capture
