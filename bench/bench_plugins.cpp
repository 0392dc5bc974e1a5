// The "vertigo" effect on one 640x480 frame, loaded the way the engine
// loads it. The effect must stay well under a millisecond per frame.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "bench_support.h"
#include "kolvex.h"

#ifndef KOLVEX_VERTIGO_PATH
#define KOLVEX_VERTIGO_PATH "./vertigo-darwin.so"
#endif

namespace {

void VertigoProcess(benchmark::State &state) {
  set_debug(0);
  Plugin fx;
  if (!fx.open(KOLVEX_VERTIGO_PATH)) {
    state.SkipWithError("vertigo-darwin.so not loadable");
    return;
  }
  ScreenGeometry geo{};
  geo.w = kb::kW;
  geo.h = kb::kH;
  geo.bpp = 32;
  geo.pitch = kb::kW * 4;
  geo.size = kb::kFrame;
  fx.init(&geo);
  // A picture with detail everywhere, so every sample is a real fetch.
  std::vector<uint32_t> frame(kb::kW * kb::kH);
  uint32_t s = 0x12345678u;
  for (auto &p : frame) p = s = s * 1664525u + 1013904223u;
  for (auto _ : state) {
    void *out = fx.process(frame.data());
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed((int64_t)state.iterations() * kb::kFrame);
  fx.clean_f();
}
BENCHMARK(VertigoProcess)->Name("vertigo/process_640x480")->Unit(benchmark::kMicrosecond);

}  // namespace

KOLVEX_BENCH_MEMCPY_FLOOR()->Unit(benchmark::kMicrosecond);
