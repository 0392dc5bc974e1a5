/*  Kolvex capture - the frame-exact virtual clock
 *
 *  A KolvexClock (engine/clock.h) on which each frame of the frame loop
 *  takes exactly 1/fps s and nothing sleeps: time is an origin plus the
 *  frames that have passed, and a frame passes when the frame limiter
 *  sleeps, once per frame of a timed run of the loop. The frames of a
 *  timed run of n seconds are then n * fps + 1 (the loop stops at the
 *  first frame that starts n seconds or more after the run began). The
 *  clock only tells time: what a program does with each frame it does in
 *  the frame loop's per-frame hook (Context::on_frame).
 */
#ifndef KOLVEX_CAPTURE_VIRTUAL_CLOCK_H
#define KOLVEX_CAPTURE_VIRTUAL_CLOCK_H

#include <cstdint>

namespace capture {

// Installs the clock, starting at `origin_seconds` with no frame passed.
// Call while no frame loop runs, as kolvex_set_clock.
void install_virtual_clock(int fps, int64_t origin_seconds);
// Back to the real clock.
void remove_virtual_clock();
// Frames that have passed on the clock.
int64_t virtual_frames();

// Microseconds from the origin to the start of frame `frame`.
inline int64_t frame_start_usec(int64_t frame, int fps) { return frame * 1000000 / fps; }
// Frames a timed run of the frame loop of `seconds` seconds takes.
inline int64_t run_frames(int64_t seconds, int fps) { return seconds * fps + 1; }
// Sound samples (a channel) at `rate` before frame `frame`: the frames
// share the remainder, so that every `fps` frames are exactly `rate`.
inline int64_t samples_before(int64_t frame, int rate, int fps) { return frame * rate / fps; }

}  // namespace capture

#endif
