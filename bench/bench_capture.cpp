/*  The capture's colour conversion of one 3840x2160 frame (4:2:0, what y4m,
 *  mp4, webm and the live stream take) on the worker pool's 1, 2 and 4
 *  threads. The work is spread over threads: read the wall-clock time
 *  (the "Time" column), not the calling thread's CPU time that the closing
 *  ratio table uses.
 *    build-rel/bench/bench_capture --benchmark_repetitions=5 */
#include <cstdint>
#include <vector>

#include "bench_support.h"
#include "worker_pool.h"
#include "yuv_planes.h"

namespace {

constexpr int kW = 3840, kH = 2160;

void Yuv420OnThePool(benchmark::State &state) {
  std::vector<uint8_t> frame((size_t)kW * kH * 4);
  uint32_t s = 7;
  for (uint8_t &b : frame) b = (uint8_t)((s = s * 1103515245u + 12345u) >> 24);
  std::vector<uint8_t> planes((size_t)kW * kH * 3 / 2);
  uint8_t *y = planes.data(), *u = y + kW * kH, *v = u + kW * kH / 4;
  WorkerPool pool((int)state.range(0));
  for (auto _ : state) {
    capture::bgrx_to_yuv420(frame.data(), kW * 4, kW, kH, y, u, v, &pool);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed((int64_t)state.iterations() * kW * kH * 4);
}
BENCHMARK(Yuv420OnThePool)
    ->Name("capture/bgrx_to_yuv420_3840x2160/threads")
    ->Arg(1)->Arg(2)->Arg(4)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

KOLVEX_BENCH_MEMCPY_FLOOR();
