/*  Kolvex - a fade's alpha, frame by frame
 *
 *  A fade moves an alpha from where it is to a target over the frames that
 *  advance, never over clock time: a capture and a live show give the same
 *  alpha on the same frame. A plain value: its owner (Layer) steps it.
 */
#ifndef KOLVEX_FADE_H
#define KOLVEX_FADE_H

#include <cstdint>

class Fade {
 public:
  // From `from` to `to` (both clamped to 0..255). `frames` < 0: one alpha
  // step a frame, the classic fade. `frames` >= 0: linear, frame k of the
  // n (1..n) shows round(from + (to - from) * k / n), halves rounded up,
  // and frame n the target; 0 frames is the target in the next frame.
  void start(int from, int to, int64_t frames);
  void stop() { running_ = false; }
  bool running() const { return running_; }

  // The alpha of the next frame, while running. The frame that shows the
  // target (the n-th of a linear fade) ends the fade.
  int step();

 private:
  bool running_ = false;
  int from_ = 0, to_ = 0, now_ = 0;
  int64_t frames_ = -1, done_ = 0;
};

#endif
