/*  Kolvex modulation - audio analysis
 *
 *  Turns a mono signal into one AudioFrame a frame: the level and three
 *  bands (low, mid, high) from an FFT, each with an adaptive gain; onsets,
 *  beats and the tempo from aubio. Fed exactly one frame's samples a call,
 *  it gives the same values for the same samples every time.
 *
 *  Time constants, the same at any frame rate:
 *    - gain: each value over its own peak, which follows it up at once and
 *      falls 6 dB every 3 s; under -60 dBFS (RMS) a value reads 0, and a
 *      band's peak stays within 40 dB of the level's, so that a band with
 *      nothing in it is not raised to full;
 *    - bands over the latest 2048 samples (43 ms at 48 kHz): low up to
 *      200 Hz, mid to 2 kHz, high above;
 *    - onset: 1, then halving every 80 ms; told within a 24 fps frame;
 *    - beats and tempo: aubio's tracker on 512-sample steps, the tempo
 *      refined by the onsets one or two beats apart; no beats after a
 *      second of silence; the phase held under 1 while a beat is late.
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
