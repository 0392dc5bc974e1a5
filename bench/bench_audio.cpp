// Sound analysis in a show: a second of 48 kHz sound cut into 24 frames,
// on an analyser that keeps running as it would through a set. The
// cpu_per_second counter is the core time a second of sound takes: the
// aim is under 20 ms, 2% of a core.
#include <cmath>
#include <cstdint>
#include <vector>

#include "audio_analysis.h"
#include "bench_support.h"
#include "virtual_clock.h"

namespace {

constexpr int kRate = 48000, kFps = 24, kSeconds = 10;

// Ten seconds of something like music: a kick at 124 BPM, a bass, hiss.
std::vector<float> music() {
  std::vector<float> s((size_t)kRate * kSeconds);
  uint32_t noise = 7;
  for (size_t i = 0; i < s.size(); i++) {
    const double t = (double)i / kRate, beat = std::fmod(t, 60.0 / 124);
    noise = noise * 1664525u + 1013904223u;
    s[i] = (float)(0.5 * std::exp(-beat * 30) * std::sin(2 * M_PI * 55 * beat) +
                   0.2 * std::sin(2 * M_PI * 110 * t) + 0.05 * ((noise >> 16) / 32768.0 - 1));
  }
  return s;
}

void BM_AudioAnalysis(benchmark::State &state) {
  const std::vector<float> sound = music();
  AudioAnalyser analyser(kRate, kFps);
  int64_t frame = 0;
  for (auto _ : state) {
    for (int i = 0; i < kFps; i++, frame++) {
      const int64_t f = frame % (kFps * kSeconds);
      const int64_t from = capture::samples_before(f, kRate, kFps);
      const int64_t to = capture::samples_before(f + 1, kRate, kFps);
      AudioFrame out = analyser.analyse(sound.data() + from, (size_t)(to - from));
      benchmark::DoNotOptimize(out);
    }
  }
  // A second of sound an iteration.
  state.counters["cpu_per_second"] = benchmark::Counter(
      (double)state.iterations(), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

}  // namespace

KOLVEX_BENCH_MEMCPY_FLOOR();
BENCHMARK(BM_AudioAnalysis)->Unit(benchmark::kMillisecond);
