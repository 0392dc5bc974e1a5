/*  Kolvex modulation - the tempo
 *
 *  The sources tempo/bpm (default 120) and tempo/phase (0..1 through each
 *  beat), in show time: frame / fps, never the wall clock, so that a render
 *  keeps the beat of the live show. Where it comes from, the latest wins:
 *    tap(frame)    the mean of the last intervals between taps (up to 8
 *                  taps; a gap over 2 s starts afresh); the beat restarts
 *                  at each tap
 *    set_bpm(x)    a tempo given; 0 gives it back to the audio
 *    the audio     while nothing was tapped or set: AudioFrame::bpm (when it
 *                  has one), the beat restarting on the audio's beats
 *  The beat position runs on without a break (beat LFOs follow it); a
 *  restart moves it to the nearest whole beat.
 */
#ifndef KOLVEX_MODULATION_TEMPO_H
#define KOLVEX_MODULATION_TEMPO_H

#include <cstdint>
#include <deque>

#include "audio_frame.h"

class Tempo {
 public:
  explicit Tempo(int fps) : fps_(fps) {}

  // Before the frame's taps and audio: the beat runs on to `frame`.
  void advance(int64_t frame);
  void tap(int64_t frame);
  void set_bpm(double bpm);
  // The frame's analysis; only heard while following the audio.
  void hear(const AudioFrame &audio);

  double bpm() const { return bpm_; }
  double phase() const;                       // 0..1, 0 on the beat
  double position() const { return beats_; }  // beats since the start
  bool follows_audio() const { return follows_audio_; }

 private:
  void on_beat();

  int fps_;
  double bpm_ = 120;
  double beats_ = 0;
  int64_t frame_ = 0;
  bool follows_audio_ = true;
  std::deque<int64_t> taps_;  // frames, the last 8
};

#endif
