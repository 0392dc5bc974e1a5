/*  The harness every fuzz target shares. It owns libFuzzer's entry points:
 *  a target defines fz::one() for one input (and may define fz::setup(),
 *  run once after the engine has started). One headless 640x480 engine per
 *  process; a scratch directory for files. The tests' helpers (test layer,
 *  guarded draw surface, the byte-wise blit model) are shared with it. */
#ifndef KOLVEX_FUZZ_SUPPORT_H
#define KOLVEX_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "test_support.h"

namespace fz {

int one(const uint8_t *data, size_t size);  // -1 keeps the input out of the corpus
void setup();

// Started on first use with SDL's dummy drivers, its plug-in scan run in the
// empty scratch directory. Aborts when the engine cannot start.
Context &engine();
SdlScreen &screen();

// Created on first use, removed at exit with everything in it; the working
// directory while an InScratch lives.
const std::string &scratch_dir();
struct InScratch {
  InScratch();
  ~InScratch();
  int saved;
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
  std::string rest() const { return std::string((const char *)p_, n_); }

 private:
  const uint8_t *p_;
  size_t n_;
};

// Fails the run (abort, so the fuzzer keeps the input) with a message.
[[noreturn]] void fail(const char *format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace fz

#endif
