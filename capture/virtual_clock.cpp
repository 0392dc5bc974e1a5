#include "virtual_clock.h"

#include <kolvex/clock.h>

#include <atomic>

namespace capture {

namespace {

// A KolvexClock is a pair of plain functions: the clock's state is the
// process's, like the clock it stands in for.
std::atomic<int> rate{24};
std::atomic<int64_t> origin{0};
std::atomic<int64_t> frames{0};

void virtual_gettime(struct timeval *tv) {
  const int64_t us = frame_start_usec(frames.load(), rate.load());
  tv->tv_sec = (time_t)(origin.load() + us / 1000000);
  tv->tv_usec = (suseconds_t)(us % 1000000);
}

void virtual_sleep(const struct timespec *) { frames++; }

const KolvexClock virtual_clock = {virtual_gettime, virtual_sleep};

}  // namespace

void install_virtual_clock(int fps, int64_t origin_seconds) {
  rate = fps;
  origin = origin_seconds;
  frames = 0;
  kolvex_set_clock(&virtual_clock);
}

void remove_virtual_clock() { kolvex_set_clock(nullptr); }

int64_t virtual_frames() { return frames.load(); }

}  // namespace capture
