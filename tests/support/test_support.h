/*  Helpers shared by the test suites. */
#ifndef KOLVEX_TEST_SUPPORT_H
#define KOLVEX_TEST_SUPPORT_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "kolvex.h"

namespace kt {

// Captures everything written to stderr (fd 2) between construction and
// text(). Log lines of the engine are checked through it.
class StderrCapture {
 public:
  StderrCapture();
  ~StderrCapture();
  std::string text();  // stops capturing on the first call
 private:
  int saved_fd_ = -1;
  FILE *file_ = nullptr;
  std::string text_;
  bool done_ = false;
};

bool contains(const std::string &haystack, const std::string &needle);
// Number of lines of `text` that are exactly `line`.
int count_lines(const std::string &text, const std::string &line);

// Deterministic noise: `n` bytes from a fixed-seed xorshift.
std::vector<uint8_t> noise(size_t n, uint32_t seed);

// FNV-1a 64 of a byte range.
uint64_t fnv1a(const void *data, size_t n);

// A layer whose frames the test sets: every feed() returns `frame` and
// counts itself. Geometry w x h at 32 bpp; 0 takes the screen size.
class TestLayer : public Layer {
 public:
  TestLayer(int w = 0, int h = 0);
  ~TestLayer() override;
  bool open(const char *) override { return true; }
  bool init(Context *ctx) override;
  void close() override {}
  bool keypress(SDL_keysym *) override { return false; }
  void *feed() override;

  void fill(uint32_t memory_word);  // every pixel the same 4 bytes
  std::vector<uint8_t> frame;
  std::atomic<int> feeds{0};
  std::atomic<int> feed_delay_ms{0};  // sleep inside feed(), to be slow
  int req_w, req_h;
};

// Pixel bytes of the screen's draw surface at (x, y).
uint8_t *screen_pixel(Context &ctx, int x, int y);

// For its lifetime file permissions apply to the calling thread even as
// root: the capabilities that override them leave its effective set (they
// stay permitted and come back on destruction). `enforced` is false when
// they could not be dropped: a file of mode 000 is then still readable and
// a case that needs one has to be skipped.
class FilePermissionsApply {
 public:
  FilePermissionsApply();
  ~FilePermissionsApply();
  bool enforced = false;

 private:
  bool dropped_ = false;
  uint32_t saved_[2] = {0, 0};
};

}  // namespace kt

#endif
