/*  Kolvex modulation - samples handed from one thread to another
 *
 *  A ring of a fixed number of floats between one writer (JACK's process
 *  thread) and one reader (the frame loop). Neither ever waits, locks or
 *  allocates: what does not fit when the reader falls behind is dropped by
 *  the writer.
 */
#ifndef KOLVEX_MODULATION_SAMPLE_RING_H
#define KOLVEX_MODULATION_SAMPLE_RING_H

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <vector>

class SampleRing {
 public:
  explicit SampleRing(size_t capacity) : buf_(std::max<size_t>(capacity, 1)) {}
  SampleRing(const SampleRing &) = delete;
  SampleRing &operator=(const SampleRing &) = delete;

  // The writer's: as many of the `n` samples as fit; how many did.
  size_t write(const float *samples, size_t n) {
    const size_t tail = tail_.load(std::memory_order_relaxed);
    const size_t head = head_.load(std::memory_order_acquire);
    n = std::min(n, buf_.size() - (tail - head));
    copy(samples, n, tail % buf_.size());
    tail_.store(tail + n, std::memory_order_release);
    return n;
  }

  // The reader's: everything there now, appended to `out`.
  void read_all(std::vector<float> &out) {
    const size_t head = head_.load(std::memory_order_relaxed);
    const size_t tail = tail_.load(std::memory_order_acquire);
    const size_t at = head % buf_.size(), n = tail - head;
    const size_t first = std::min(n, buf_.size() - at);
    out.insert(out.end(), buf_.begin() + (long)at, buf_.begin() + (long)(at + first));
    out.insert(out.end(), buf_.begin(), buf_.begin() + (long)(n - first));
    head_.store(tail, std::memory_order_release);
  }

 private:
  void copy(const float *samples, size_t n, size_t at) {
    const size_t first = std::min(n, buf_.size() - at);
    memcpy(&buf_[at], samples, first * sizeof(float));
    memcpy(&buf_[0], samples + first, (n - first) * sizeof(float));
  }

  std::vector<float> buf_;
  // Counts of samples ever written and read; 64 bits do not wrap in a show.
  std::atomic<size_t> head_{0}, tail_{0};
};

#endif
