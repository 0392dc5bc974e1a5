/*  Kolvex - time source
 *
 *  Every reading of the wall clock and the frame limiter's sleep go through
 *  here, so that a program can swap the real clock for a virtual one (for
 *  example to render frame-exact, faster than real time) without touching
 *  the frame loop.
 */
#ifndef KOLVEX_CLOCK_H
#define KOLVEX_CLOCK_H

#include <sys/time.h>
#include <time.h>

struct KolvexClock {
  void (*gettime)(struct timeval *tv);       // like gettimeofday
  void (*sleep)(const struct timespec *ts);  // like one nanosleep
};

// The real clock: gettimeofday and nanosleep.
extern const KolvexClock kolvex_real_clock;

// Installs `clock` (null restores the real one). Call from the main thread
// while no frame loop runs; the structure must outlive its use.
void kolvex_set_clock(const KolvexClock *clock);
const KolvexClock *kolvex_get_clock();

void clock_gettime_tv(struct timeval *tv);
void clock_sleep(const struct timespec *ts);

#endif
