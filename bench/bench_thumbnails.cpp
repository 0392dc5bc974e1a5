// The control surface's pictures: what sampling a frame costs the frame
// loop, and what one 640x360 JPEG costs the encoder's thread.
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "thumbnails.h"

namespace {

// Smooth with some grain, so the JPEG compresses like a show's frame
// rather than like noise or a flat fill.
std::vector<uint8_t> frame(int w, int h) {
  std::vector<uint8_t> f((size_t)w * h * 4);
  uint32_t s = 0x12345678;
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      s = s * 1103515245u + 12345u;
      uint8_t *p = &f[((size_t)y * w + x) * 4];
      const int grain = (int)(s >> 28) - 8;
      p[0] = (uint8_t)((x * 255 / w + grain) & 0xFF);
      p[1] = (uint8_t)((y * 255 / h + grain) & 0xFF);
      p[2] = (uint8_t)(((x + y) * 255 / (w + h) + grain) & 0xFF);
    }
  return f;
}

void BM_Sample(benchmark::State &state) {
  const int w = (int)state.range(0), h = (int)state.range(1);
  const std::vector<uint8_t> f = frame(w, h);
  Thumbnails t(nullptr);
  for (auto _ : state) {
    t.sample(0, f.data(), w, h, w * 4, 640, 360);
    benchmark::ClobberMemory();
  }
}

// The encoder's whole cost, its thread included; the sampling is not counted.
void BM_Encode640x360(benchmark::State &state) {
  const std::vector<uint8_t> f = frame(1920, 1080);
  std::mutex m;
  std::condition_variable done;
  size_t bytes = 0;
  bool got = false;
  Thumbnails t([&](int, const std::string &jpeg) {
    std::lock_guard<std::mutex> l(m);
    bytes = jpeg.size();
    got = true;
    done.notify_one();
  });
  for (auto _ : state) {
    state.PauseTiming();
    while (!t.idle()) std::this_thread::yield();  // the last batch's end, after `ready`
    t.sample(0, f.data(), 1920, 1080, 1920 * 4, 640, 360);
    state.ResumeTiming();
    t.encode();
    std::unique_lock<std::mutex> l(m);
    done.wait(l, [&] { return got; });
    got = false;
  }
  state.counters["jpeg_bytes"] = (double)bytes;
}

}  // namespace

KOLVEX_BENCH_MEMCPY_FLOOR();
BENCHMARK(BM_Sample)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Encode640x360)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMicrosecond);
