/*  Kolvex modulation - audio analysis
 *
 *  Turns a mono signal into one AudioFrame a frame: the level and three
 *  bands (low, mid, high) from an FFT, each with an adaptive gain; onsets,
 *  beats and the tempo from aubio. Fed exactly one frame's samples a call,
 *  it gives the same values for the same samples every time.
 */
#ifndef KOLVEX_MODULATION_AUDIO_ANALYSIS_H
#define KOLVEX_MODULATION_AUDIO_ANALYSIS_H

#include <cstddef>
#include <memory>

#include "audio_frame.h"

class AudioAnalyser {
 public:
  AudioAnalyser(int rate, int fps);
  ~AudioAnalyser();
  // The samples of one frame (any number, none included), then the frame's
  // values.
  AudioFrame analyse(const float *mono, size_t n);

 private:
  struct State;
  std::unique_ptr<State> s_;
};

#endif
