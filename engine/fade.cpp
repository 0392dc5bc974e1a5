#include "fade.h"

namespace {

int clamp_alpha(int a) { return a < 0 ? 0 : a > 255 ? 255 : a; }

}  // namespace

void Fade::start(int from, int to, int64_t frames) {
  from_ = now_ = clamp_alpha(from);
  to_ = clamp_alpha(to);
  frames_ = frames;
  done_ = 0;
  running_ = true;
}

int Fade::step() {
  if (!running_) return now_;
  if (frames_ < 0) {
    now_ += now_ < to_ ? 1 : now_ > to_ ? -1 : 0;
    running_ = now_ != to_;
    return now_;
  }
  done_++;
  if (done_ >= frames_) {
    now_ = to_;
    running_ = false;
    return now_;
  }
  // In integers, so that every frame is exact: the numerator stays within
  // 0..255 * frames.
  const int64_t num = (int64_t)from_ * frames_ + (int64_t)(to_ - from_) * done_;
  now_ = (int)((2 * num + frames_) / (2 * frames_));
  return now_;
}
