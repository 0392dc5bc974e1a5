/*  Helpers shared by the test suites and the fuzz targets. */
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
  ~StderrCapture() { text(); }
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

// A file's bytes; empty when it cannot be read.
std::vector<uint8_t> read_file(const std::string &path);
bool write_file(const std::string &path, const std::vector<uint8_t> &bytes);

// A PNG file's pixels, bytes r, g, b; empty (w 0) when it does not decode.
struct Picture {
  int w = 0, h = 0;
  std::vector<uint8_t> rgb;
  const uint8_t *at(int x, int y) const { return &rgb[((size_t)y * w + x) * 3]; }
};
Picture read_png(const std::string &path);

// A fresh directory under /tmp, removed with everything in it at the end.
struct TempDir {
  TempDir();
  ~TempDir();
  std::string path;
};
// What a shell command writes on its standard output.
std::string output_of(const std::string &command);
// `text` without what a sanitizer adds at the end of a program's output
// (LeakSanitizer's list of the suppressions it used).
std::string without_sanitizer_notes(const std::string &text);

// The frames of a y4m stream, each frame's bytes.
std::vector<std::string> y4m_frames(const std::string &path);
// Peak signal-to-noise ratio of two pictures of the same size, in dB (99
// when they are equal).
double psnr(const std::string &a, const std::string &b);

// A headless engine with a w x h screen; its set-up log is swallowed.
struct Engine {
  Context ctx;
  bool ok;
  SdlScreen *screen;
  explicit Engine(int w = 640, int h = 480);
};

// A layer whose frames the test sets: every feed() returns `frame` and
// counts itself. Geometry w x h at 32 bpp; 0 takes the canvas's size on
// the screen (the screen's own by default).
class TestLayer : public Layer {
 public:
  TestLayer(int w = 0, int h = 0) : req_w(w), req_h(h) { setname("TST"); }
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

// Pixel bytes of the screen's draw surface at (x, y), lines `pitch` apart.
uint8_t *screen_pixel(Context &ctx, int x, int y);
// The screen's visible pixels, w * 4 bytes a line.
std::vector<uint8_t> screen_bytes(ViewPort &screen);

// Swaps the screen's draw surface for one over our own memory, fenced by
// guard bytes, while the object lives: a write off the surface shows in
// damaged(). `amask` gives the surface an alpha channel; `padding` bytes
// end each line, as some displays' surfaces have.
class GuardedSurface {
 public:
  explicit GuardedSurface(SdlScreen &screen, uint32_t amask = 0, int padding = 0);
  ~GuardedSurface();
  GuardedSurface(const GuardedSurface &) = delete;
  GuardedSurface &operator=(const GuardedSurface &) = delete;
  bool ok() const { return surface_ != nullptr; }
  uint8_t *pixels() { return store_.data() + kPad; }
  size_t bytes() const { return store_.size() - 2 * kPad; }
  long damaged() const;  // offset of the first changed guard byte, or 0

 private:
  static constexpr size_t kPad = 64 * 1024;
  SdlScreen &screen_;
  SDL_Surface *saved_, *surface_;
  int32_t saved_pitch_;
  std::vector<uint8_t> store_;
};

// What blitting a w x h frame at (x, y) in `mode` with `alpha` must leave
// on a sw x sh screen that held `before`, pixel by pixel, worked out byte
// by byte. The arithmetic modes read a pixel as a word whose first byte in
// memory is the most significant. The plain copy sets the fourth byte to
// 0xFF on a surface with an alpha channel (`opaque`); the blend may be 2
// off per byte. Returns what is wrong at the first wrong pixel, or "".
std::string check_blit(const uint8_t *before, const uint8_t *after, int sw, int sh,
                       const uint8_t *frame, int w, int h, int x, int y, int mode, int alpha,
                       bool opaque = false);

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

// A socket of `type` (SOCK_STREAM, SOCK_DGRAM) bound to a free port on
// 127.0.0.1, and the port; -1 when none can be had.
int bound_socket(int type, int &port);

}  // namespace kt

#endif
