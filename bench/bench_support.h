/*  Shared by every benchmark program: the floor every figure is read
 *  against, a plain memcpy of one 640x480x4 frame (1,228,800 bytes), and a
 *  closing table of each benchmark's CPU time as a ratio to that floor.
 *  With --benchmark_repetitions=N the table gives each ratio's median and
 *  its spread (lowest..highest repetition, against the floor's median). */
#ifndef KOLVEX_BENCH_SUPPORT_H
#define KOLVEX_BENCH_SUPPORT_H

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "context.h"
#include "jutils.h"

namespace kb {

constexpr int kW = 640, kH = 480, kFrame = kW * kH * 4;
constexpr const char *kFloorName = "floor/memcpy_640x480";

inline void FrameMemcpy(benchmark::State &state) {
  std::vector<unsigned char> src(kFrame, 0x5A), dst(kFrame);
  for (auto _ : state) {
    memcpy(dst.data(), src.data(), kFrame);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed((int64_t)state.iterations() * kFrame);
}

// The console output, then the ratio table.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run> &runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run &r : runs) {
      if (r.run_type != Run::RT_Iteration || r.error_occurred || r.iterations == 0) continue;
      const std::string name = r.benchmark_name();
      if (!times_.count(name)) order_.push_back(name);
      times_[name].push_back(r.cpu_accumulated_time / (double)r.iterations);
      labels_[name] = r.report_label;
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    if (!times_.count(kFloorName)) return;
    const double floor = median(times_[kFloorName]);
    printf("\nCPU time per iteration against %s (%.1f us), median (lowest..highest):\n",
           kFloorName, floor * 1e6);
    for (const std::string &name : order_) {
      std::vector<double> &t = times_[name];
      const auto span = std::minmax_element(t.begin(), t.end());
      printf("  %-36s %-6s %10.3f us  x%6.2f  (%.2f..%.2f)\n", name.c_str(),
             labels_[name].c_str(), median(t) * 1e6, median(t) / floor, *span.first / floor,
             *span.second / floor);
    }
  }

 private:
  static double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
  }
  std::vector<std::string> order_;
  std::map<std::string, std::vector<double>> times_;
  std::map<std::string, std::string> labels_;
};

inline int run_main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}

// One headless engine for the whole program (SDL's dummy driver unless the
// caller chose another), quiet.
inline Context &engine() {
  static Context *ctx = [] {
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    set_debug(0);
    Context *c = new Context();
    if (!c->init(kW, kH)) abort();
    return c;
  }();
  return *ctx;
}

}  // namespace kb

// Put once into every benchmark program: main(), and the floor, which
// may be given further settings (KOLVEX_BENCH_MEMCPY_FLOOR()->Unit(...)).
#define KOLVEX_BENCH_MEMCPY_FLOOR()                                    \
  int main(int argc, char **argv) { return kb::run_main(argc, argv); } \
  BENCHMARK(kb::FrameMemcpy)->Name(kb::kFloorName)

#endif
