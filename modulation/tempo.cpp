#include "tempo.h"

#include <cmath>

namespace {
const size_t kTaps = 8;
const double kGapSeconds = 2;
}  // namespace

void Tempo::advance(int64_t frame) {
  if (frame > frame_) beats_ += (double)(frame - frame_) / fps_ * bpm_ / 60;
  frame_ = frame;
}

void Tempo::on_beat() { beats_ = std::round(beats_); }

void Tempo::tap(int64_t frame) {
  if (!taps_.empty() && (double)(frame - taps_.back()) / fps_ > kGapSeconds) taps_.clear();
  taps_.push_back(frame);
  if (taps_.size() > kTaps) taps_.pop_front();
  if (taps_.size() >= 2 && taps_.back() > taps_.front()) {
    const double mean = (double)(taps_.back() - taps_.front()) / (taps_.size() - 1) / fps_;
    bpm_ = 60 / mean;
  }
  follows_audio_ = false;
  on_beat();
}

void Tempo::set_bpm(double bpm) {
  follows_audio_ = bpm <= 0;
  taps_.clear();
  if (bpm > 0) bpm_ = bpm;
}

void Tempo::hear(const AudioFrame &audio) {
  if (!follows_audio_) return;
  if (audio.bpm > 0) bpm_ = audio.bpm;
  if (audio.beat >= 1) on_beat();
}

double Tempo::phase() const { return beats_ - std::floor(beats_); }
