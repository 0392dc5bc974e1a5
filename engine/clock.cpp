#include "clock.h"

#include <atomic>

static void real_gettime(struct timeval *tv) { gettimeofday(tv, nullptr); }
static void real_sleep(const struct timespec *ts) { nanosleep(ts, nullptr); }

const KolvexClock kolvex_real_clock = {real_gettime, real_sleep};

static std::atomic<const KolvexClock *> current{&kolvex_real_clock};

void kolvex_set_clock(const KolvexClock *clock) {
  current.store(clock ? clock : &kolvex_real_clock);
}

const KolvexClock *kolvex_get_clock() { return current.load(); }

void clock_gettime_tv(struct timeval *tv) { current.load()->gettime(tv); }
void clock_sleep(const struct timespec *ts) { current.load()->sleep(ts); }
