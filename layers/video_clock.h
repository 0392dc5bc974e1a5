/*  Kolvex - a video layer's clock
 *
 *  Maps composed frames to the layer's time in seconds of the clip:
 *  time(frame) = anchor time + (frame - anchor frame) / rate x speed, or the
 *  anchor time while paused. Every change of speed, pause or position
 *  re-anchors, so time never jumps but where asked to. A position is set
 *  for the frame it is asked at; a speed or a pause shapes the step into
 *  that frame, so that frame is already the first to differ (a pause asked
 *  at frame N shows frame N - 1's time again). The time runs on past the
 *  clip's end: a looping layer's frames carry times that grow from loop to
 *  loop.
 *
 *  Plain arithmetic, no locks: the owner guards it.
 */
#ifndef KOLVEX_VIDEO_CLOCK_H
#define KOLVEX_VIDEO_CLOCK_H

#include <cstdint>

class VideoClock {
 public:
  static constexpr double min_speed = 0.1, max_speed = 10.0;

  // Time `at` at composed frame `frame`, `rate` frames a second.
  void reset(uint64_t frame, double at, double rate, double speed) {
    anchor_frame_ = frame;
    anchor_time_ = at;
    rate_ = rate > 0 ? rate : 24;
    speed_ = clamp(speed);
  }
  double time(uint64_t frame) const {
    if (paused_ || frame <= anchor_frame_) return anchor_time_;
    return anchor_time_ + (double)(frame - anchor_frame_) * speed_ / rate_;
  }
  void jump(uint64_t frame, double at) {
    anchor_frame_ = frame;
    anchor_time_ = at;
  }
  void set_speed(uint64_t frame, double speed) {
    frame = step_start(frame);
    jump(frame, time(frame));
    speed_ = clamp(speed);
  }
  void set_rate(uint64_t frame, double rate) {
    jump(frame, time(frame));
    if (rate > 0) rate_ = rate;
  }
  double rate() const { return rate_; }
  void set_paused(uint64_t frame, bool paused) {
    frame = step_start(frame);
    jump(frame, time(frame));
    paused_ = paused;
  }
  double speed() const { return speed_; }
  bool paused() const { return paused_; }
  static double clamp(double s) { return s < min_speed ? min_speed : s > max_speed ? max_speed : s; }

 private:
  // The frame before, unless the clock was set at `frame` itself (a seek
  // or the start): that frame keeps the time it was given.
  uint64_t step_start(uint64_t frame) const { return frame > anchor_frame_ ? frame - 1 : frame; }

  uint64_t anchor_frame_ = 0;
  double anchor_time_ = 0;
  double rate_ = 24;
  double speed_ = 1;
  bool paused_ = false;
};

#endif
