#include "test_support.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace kt {

StderrCapture::StderrCapture() {
  fflush(stderr);
  file_ = tmpfile();
  saved_fd_ = dup(2);
  dup2(fileno(file_), 2);
}

StderrCapture::~StderrCapture() { text(); }

std::string StderrCapture::text() {
  if (done_) return text_;
  done_ = true;
  fflush(stderr);
  dup2(saved_fd_, 2);
  ::close(saved_fd_);
  rewind(file_);
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, file_)) > 0) text_.append(buf, n);
  fclose(file_);
  return text_;
}

bool contains(const std::string &haystack, const std::string &needle) {
  return haystack.find(needle) != std::string::npos;
}

int count_lines(const std::string &text, const std::string &line) {
  int count = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (text.compare(start, end - start, line) == 0) count++;
    start = end + 1;
  }
  return count;
}

std::vector<uint8_t> noise(size_t n, uint32_t seed) {
  std::vector<uint8_t> out(n);
  uint32_t s = seed ? seed : 0x9E3779B9u;
  for (size_t i = 0; i < n; i++) {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    out[i] = (uint8_t)(s >> 24);
  }
  return out;
}

uint64_t fnv1a(const void *data, size_t n) {
  const uint8_t *p = (const uint8_t *)data;
  uint64_t h = 1469598103934665603ull;
  for (size_t i = 0; i < n; i++) {
    h ^= p[i];
    h *= 1099511628211ull;
  }
  return h;
}

TestLayer::TestLayer(int w, int h) : req_w(w), req_h(h) { setname("TST"); }

TestLayer::~TestLayer() {}

bool TestLayer::init(Context *ctx) {
  _init(ctx, req_w, req_h, 32);
  frame.assign(geo.size, 0);
  return true;
}

void *TestLayer::feed() {
  int delay = feed_delay_ms.load();
  if (delay > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
  feeds++;
  return frame.data();
}

void TestLayer::fill(uint32_t memory_word) {
  for (size_t i = 0; i + 4 <= frame.size(); i += 4) memcpy(&frame[i], &memory_word, 4);
}

uint8_t *screen_pixel(Context &ctx, int x, int y) {
  return (uint8_t *)ctx.screen->coords(x, y);
}

// Straight system calls: capabilities are per thread, and libcap is no
// dependency of the tests.
FilePermissionsApply::FilePermissionsApply() {
  const uint32_t overrides = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
  __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  if (syscall(SYS_capget, &header, data) != 0) return;
  saved_[0] = data[0].effective;
  saved_[1] = data[1].effective;
  if (!(data[0].effective & overrides)) {  // nothing overrides them
    enforced = true;
    return;
  }
  data[0].effective &= ~overrides;
  dropped_ = enforced = syscall(SYS_capset, &header, data) == 0;
}

FilePermissionsApply::~FilePermissionsApply() {
  if (!dropped_) return;
  __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  if (syscall(SYS_capget, &header, data) != 0) return;
  data[0].effective = saved_[0];
  data[1].effective = saved_[1];
  syscall(SYS_capset, &header, data);
}

}  // namespace kt
