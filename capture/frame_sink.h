/*  Kolvex capture - the hand-off from the frame loop to a writer thread
 *
 *  A capture's encoder and a live stream both take the frame loop's
 *  frames on a thread of their own, so that the loop pays one copy a
 *  frame. The sink is that hand-off:
 *
 *    - a bounded set of picture buffers, reused: a frame is copied into a
 *      free one and queued; the thread gives the buffer back once the
 *      frame is written;
 *    - when none is free, the policy says what happens: `wait` (a capture:
 *      every frame is written, the loop waits for room) or `drop` (a live
 *      stream: the frame is dropped and counted, the loop goes on);
 *    - sound between the pictures (a capture's), in the same order, never
 *      waited for nor dropped;
 *    - the writer's failure carried back: from then on nothing more is
 *      written, offers are refused and error() says why.
 *
 *  The writer runs on the sink's thread only; that thread takes SIGPIPE
 *  as an error code from the write that met it, not as the end of the
 *  process. One frame loop (any single thread) offers and closes.
 */
#ifndef KOLVEX_CAPTURE_FRAME_SINK_H
#define KOLVEX_CAPTURE_FRAME_SINK_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace capture {

class FrameSink {
 public:
  enum class Policy { wait, drop };

  // One item of the queue, as the writer gets it.
  struct Frame {
    // The picture's number among those offered, dropped ones included
    // (from 0); -1 for sound.
    int64_t number = -1;
    std::vector<uint8_t> pixels;  // bgrx, width * 4 bytes a line
    std::vector<int16_t> sound;   // stereo pairs, for number -1
  };

  // What the writer made of a frame.
  enum class Outcome { written, dropped, failed };
  struct Writer {
    // Each frame in order; `failed` with one line in `why`.
    std::function<Outcome(const Frame &, std::string &why)> write;
    // After the last frame once the sink is ended (not when abandoned);
    // false with `why`. May be empty.
    std::function<bool(std::string &why)> finish;
  };

  // The thread started; `buffers` pictures of width x height at most
  // queued or being written.
  FrameSink(Policy policy, int width, int height, int buffers, Writer writer);
  // Unless closed: the frames queued dropped unwritten, no finish; the
  // thread joined.
  ~FrameSink();

  // The picture (bgrx, `pitch` bytes a line) copied and queued. False
  // when it was dropped (policy drop, no free buffer, or the sink ended)
  // or the writer has failed (error()).
  bool offer(const uint8_t *bgrx, int pitch);
  // `frames` stereo pairs after the picture offered last. False once the
  // writer has failed.
  bool offer_sound(const int16_t *stereo, int frames);

  // No more frames: the thread writes what is queued, then finishes.
  void end();
  // Whether the thread is done within `limit` after end().
  bool ended_within(std::chrono::steady_clock::duration limit);
  // end(), the thread joined; false with error() when the writer failed
  // (on a frame or finishing). Once.
  bool close();

  // Pictures offered, and those of them dropped: by the policy or by the
  // writer (Outcome::dropped). Any thread.
  int64_t offered() const { return offered_; }
  int64_t dropped() const { return dropped_; }
  // Why the writer failed, one line; empty while it has not.
  std::string error() const;

 private:
  void run();
  bool take(Frame &frame);  // the next queued; false at the end
  void give_back(Frame &frame, Outcome outcome, const std::string &why);
  void copy(const uint8_t *bgrx, int pitch, std::vector<uint8_t> &to) const;

  const Policy policy_;
  const int width_, height_;
  const Writer writer_;

  mutable std::mutex mutex_;
  std::condition_variable queued_, freed_, done_;
  std::deque<Frame> queue_;
  std::vector<std::vector<uint8_t>> spare_;  // picture buffers not in use
  bool ending_ = false, abandon_ = false, done_flag_ = false, failed_ = false;
  std::string error_;
  std::atomic<int64_t> offered_{0}, dropped_{0};
  std::thread thread_;
};

}  // namespace capture

#endif
