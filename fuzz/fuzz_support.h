/*  Shared by the fuzz targets: one headless 640x480 engine per process, a
 *  scratch directory that is the working directory, files in it, and a
 *  draw surface fenced by guard bytes. */
#ifndef KOLVEX_FUZZ_SUPPORT_H
#define KOLVEX_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "context.h"
#include "sdl_screen.h"

namespace fz {

// The engine, started on first use: SDL's dummy drivers, the plug-in scan
// run in the empty scratch directory (so no plug-in of ours is picked up).
// Aborts when the engine cannot start: nothing could be fuzzed.
Context &engine();
SdlScreen &screen();

// Created on first use, removed at exit with everything in it.
const std::string &scratch_dir();

// The scratch directory is the working directory while it lives.
class InScratch {
 public:
  InScratch();
  ~InScratch();
  InScratch(const InScratch &) = delete;
  InScratch &operator=(const InScratch &) = delete;

 private:
  int saved_;
};
// Writes the bytes to scratch_dir()/name and returns the full path.
std::string write_file(const std::string &name, const uint8_t *data, size_t size);

// Reads an input from its start: little-endian integers, zero once the
// bytes have run out.
class Reader {
 public:
  Reader(const uint8_t *data, size_t size) : p_(data), n_(size) {}
  template <typename T>
  T take() {
    uint64_t v = 0;
    for (size_t i = 0; i < sizeof(T) && n_; i++, n_--) v |= (uint64_t)*p_++ << (8 * i);
    return (T)v;
  }
  size_t left() const { return n_; }
  const uint8_t *here() const { return p_; }
  void skip(size_t k) { k = k < n_ ? k : n_; p_ += k; n_ -= k; }

 private:
  const uint8_t *p_;
  size_t n_;
};

// Fails the run (abort, so the fuzzer keeps the input) with a message.
[[noreturn]] void fail(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Swaps the screen's draw surface for one over our own memory, with guard
// bytes on both sides, while the object lives. ASan sees writes beyond
// the guards; damaged() sees those into them.
class GuardedSurface {
 public:
  static constexpr uint8_t kGuard = 0xA5;
  static constexpr size_t kPad = 64 * 1024;

  explicit GuardedSurface(SdlScreen &screen);
  ~GuardedSurface();
  GuardedSurface(const GuardedSurface &) = delete;
  GuardedSurface &operator=(const GuardedSurface &) = delete;

  uint8_t *pixels() { return store_.data() + kPad; }
  size_t bytes() const { return store_.size() - 2 * kPad; }
  long damaged() const;  // offset of the first changed guard byte, or 0 if none

 private:
  SdlScreen &screen_;
  SDL_Surface *saved_;
  SDL_Surface *surface_;
  std::vector<uint8_t> store_;
};

}  // namespace fz

#endif
