/*  Shared by every benchmark program: the floor every figure is read
 *  against, a plain memcpy of one 640x480x4 frame (1,228,800 bytes). */
#ifndef KOLVEX_BENCH_SUPPORT_H
#define KOLVEX_BENCH_SUPPORT_H

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace kb {

constexpr int kW = 640, kH = 480, kFrame = kW * kH * 4;

inline void FrameMemcpy(benchmark::State &state) {
  std::vector<unsigned char> src(kFrame, 0x5A), dst(kFrame);
  for (auto _ : state) {
    memcpy(dst.data(), src.data(), kFrame);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed((int64_t)state.iterations() * kFrame);
}

}  // namespace kb

// Put once into every benchmark program.
#define KOLVEX_BENCH_MEMCPY_FLOOR() BENCHMARK(kb::FrameMemcpy)->Name("floor/memcpy_640x480")

#endif
