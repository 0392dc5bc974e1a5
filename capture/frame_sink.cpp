#include "frame_sink.h"

#include <pthread.h>
#include <signal.h>

#include <cstring>

namespace capture {

FrameSink::FrameSink(Policy policy, int width, int height, int buffers, Writer writer)
    : policy_(policy), width_(width), height_(height), writer_(std::move(writer)) {
  spare_.resize(buffers);  // allocated at their first picture
  thread_ = std::thread(&FrameSink::run, this);
}

FrameSink::~FrameSink() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    abandon_ = true;
  }
  queued_.notify_one();
  thread_.join();
}

void FrameSink::copy(const uint8_t *bgrx, int pitch, std::vector<uint8_t> &to) const {
  const size_t line = (size_t)width_ * 4;
  to.resize(line * height_);
  if ((size_t)pitch == line) {
    memcpy(to.data(), bgrx, line * height_);
  } else {
    for (int y = 0; y < height_; y++) memcpy(&to[line * y], bgrx + (size_t)pitch * y, line);
  }
}

bool FrameSink::offer(const uint8_t *bgrx, int pitch) {
  Frame frame;
  frame.number = offered_++;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    if (policy_ == Policy::wait)
      freed_.wait(lock, [this] { return !spare_.empty() || failed_ || ending_; });
    if (failed_ || ending_ || spare_.empty()) {
      dropped_++;
      return false;
    }
    frame.pixels.swap(spare_.back());
    spare_.pop_back();
  }
  // The copy outside the lock: the thread writes the frame before it meanwhile.
  copy(bgrx, pitch, frame.pixels);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(frame));
  }
  queued_.notify_one();
  return true;
}

bool FrameSink::offer_sound(const int16_t *stereo, int frames) {
  Frame frame;
  frame.sound.assign(stereo, stereo + 2 * (size_t)frames);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failed_ || ending_) return false;
    queue_.push_back(std::move(frame));
  }
  queued_.notify_one();
  return true;
}

void FrameSink::end() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ending_ = true;
  }
  queued_.notify_one();
  freed_.notify_all();
}

bool FrameSink::ended_within(std::chrono::steady_clock::duration limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  return done_.wait_for(lock, limit, [this] { return done_flag_; });
}

bool FrameSink::close() {
  if (!thread_.joinable()) return false;
  end();
  thread_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  return !failed_;
}

std::string FrameSink::error() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return error_;
}

bool FrameSink::take(Frame &frame) {
  std::unique_lock<std::mutex> lock(mutex_);
  queued_.wait(lock, [this] { return !queue_.empty() || ending_ || abandon_; });
  if (abandon_ || queue_.empty()) return false;
  frame = std::move(queue_.front());
  queue_.pop_front();
  return true;
}

void FrameSink::give_back(Frame &frame, Outcome outcome, const std::string &why) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (frame.number >= 0) {
      if (outcome != Outcome::written) dropped_++;
      spare_.push_back(std::move(frame.pixels));
    }
    if (outcome == Outcome::failed && !failed_) {
      failed_ = true;
      error_ = why;
    }
  }
  freed_.notify_one();
}

void FrameSink::run() {
  // A reader that hung up (a pipe, a connection) is an error code here.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
  bool failed = false;
  for (Frame frame; take(frame);) {
    std::string why;
    // After a failure the frames are only taken off the queue.
    const Outcome outcome = failed ? Outcome::dropped : writer_.write(frame, why);
    failed = failed || outcome == Outcome::failed;
    give_back(frame, outcome, why);
  }
  std::string why;
  bool finished = true;
  bool abandoned;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    abandoned = abandon_;
  }
  if (!failed && !abandoned && writer_.finish) finished = writer_.finish(why);
  std::lock_guard<std::mutex> lock(mutex_);
  if (!finished && !failed_) {
    failed_ = true;
    error_ = why;
  }
  done_flag_ = true;
  done_.notify_all();
}

}  // namespace capture
