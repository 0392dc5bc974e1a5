/*  The engine's per-frame work on one 640x480 frame, read against the frame
 *  memcpy floor: every blit mode through the screen (the alpha blend at 128,
 *  SDL's own halving case, and at 77, the general one), one crop, the
 *  particle generator's frame, the capture's colour conversion, the OVER
 *  blend through a layer, and the arithmetic kernels of each instruction
 *  set the processor runs. The transform sampler (a 1280x720 picture
 *  turned 30 degrees and scaled 1.5 into 1920x1080) is read against the
 *  copy of a frame that size, transform/copy_1920x1080.
 *
 *  Band compositing (composer.h), compose/WxH/...: eight screen-sized
 *  layers (RGB at the bottom, ADD, SUB, AND, OR, BLU, ALPHA 77, OVER 200)
 *  at 1920x1080 and 3840x2160, on 1 thread and on every core, band by
 *  band (bands) and as the frame step did before, each layer over the whole
 *  screen in turn (whole). Each is read against its floor in the same run,
 *  floor/WxH/threads:N: every layer's bytes read once and the screen written
 *  once, band by band through a scratch band that stays in cache. Counters:
 *  x_floor (time against that floor), speedup (against 1 thread); wall
 *  time, since the work is on several threads. compose/band_kib/... sweeps
 *  the band size at 3840x2160 (what Composer::kBandBytes was chosen by).
 *    build-rel/bench/bench_engine --benchmark_filter='compose|floor/' \
 *        --benchmark_repetitions=3 */
#include <chrono>
#include <cstdlib>
#include <map>
#include <cstring>
#include <string>
#include <vector>

#include "bench_support.h"
#include "blit_dispatch.h"
#include "composer.h"
#include "genlayer.h"
#include "kolvex.h"
#include "transform.h"
#include "worker_pool.h"
#include "yuv420.h"

namespace {

std::vector<unsigned char> noise(size_t n, uint32_t s) {
  std::vector<unsigned char> v(n);
  for (auto &b : v) {
    s = s * 1103515245u + 12345u;
    b = (unsigned char)(s >> 24);
  }
  return v;
}

// A screen-sized layer holding a fixed noise frame; it is never started,
// the benchmark hands its frame to the screen itself.
class FrameLayer : public Layer {
 public:
  bool open(const char *) override { return true; }
  bool init(Context *ctx) override {
    _init(ctx, 0, 0, 32);
    pixels = noise(geo.size, 2004);
    blit_buffer = pixels.data();
    return true;
  }
  void close() override {}
  bool keypress(SDL_keysym *) override { return false; }
  void *feed() override { return pixels.data(); }
  std::vector<unsigned char> pixels;
};


void BlitFrame(benchmark::State &state, int mode, int alpha, const char *label) {
  Context &ctx = kb::engine();
  FrameLayer layer;
  layer.init(&ctx);
  layer.set_blit(mode);
  layer.set_alpha(alpha);
  state.SetLabel(label);
  for (auto _ : state) {
    ctx.screen->blit(&layer);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed((int64_t)state.iterations() * kb::kFrame);
}

const char *const kModeName[] = {"", "rgb", "blu", "gre", "red", "add", "sub", "and", "or"};

void Blit(benchmark::State &state) {
  BlitFrame(state, (int)state.range(0), 255, kModeName[state.range(0)]);
}
BENCHMARK(Blit)->Name("screen/blit_640x480")->DenseRange(BLIT_RGB, BLIT_OR)->Unit(benchmark::kMicrosecond);

// Blit mode 9 at alpha range(0).
void Blend(benchmark::State &state) { BlitFrame(state, BLIT_ALPHA, (int)state.range(0), "alpha"); }
BENCHMARK(Blend)->Name("screen/blend_640x480")->Arg(128)->Arg(77)->Unit(benchmark::kMicrosecond);

// OVER (its own blend, not a code) at layer alpha range(0), the frame's
// fourth bytes noise: every pixel weighs differently.
void Over(benchmark::State &state) {
  Context &ctx = kb::engine();
  FrameLayer layer;
  layer.init(&ctx);
  layer.set_alpha((int)state.range(0));
  OverBlend over;
  state.SetLabel("over");
  for (auto _ : state) {
    over.blend(layer, *ctx.screen);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed((int64_t)state.iterations() * kb::kFrame);
}
BENCHMARK(Over)->Name("screen/over_640x480")->Arg(255)->Arg(128)->Unit(benchmark::kMicrosecond);

// Crop runs on every placement; a layer half off two edges takes every branch.
void Crop(benchmark::State &state) {
  Context &ctx = kb::engine();
  FrameLayer layer;
  layer.init(&ctx);
  layer.geo.x = -100;
  layer.geo.y = 200;
  for (auto _ : state) {
    ctx.screen->crop(&layer);
    benchmark::DoNotOptimize(layer.clip);
  }
}
BENCHMARK(Crop)->Name("screen/crop");

// GenLayer: the clear, 1048 points of trigonometry, 1048 x 256 paired additions.
void GenLayerFeed(benchmark::State &state) {
  GenLayer gen;
  if (!gen.init(&kb::engine())) {
    state.SkipWithError("GenLayer init failed");
    return;
  }
  fastsrand(2004);
  gen.blossom_recal(true);
  for (auto _ : state) benchmark::DoNotOptimize(gen.feed());
  state.SetBytesProcessed((int64_t)state.iterations() * kb::kFrame);
}
BENCHMARK(GenLayerFeed)->Name("genlayer/feed_640x480")->Unit(benchmark::kMicrosecond);

// The capture's BT.601 4:2:0 conversion of one frame.
void Yuv420(benchmark::State &state) {
  const std::vector<unsigned char> frame = noise(kb::kFrame, 7);
  std::vector<uint8_t> planes(kb::kW * kb::kH * 3 / 2);
  uint8_t *y = planes.data(), *u = y + kb::kW * kb::kH, *v = u + kb::kW * kb::kH / 4;
  for (auto _ : state) {
    kolvex_bgrx_to_yuv420(frame.data(), kb::kW * 4, kb::kW, kb::kH, y, u, v);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed((int64_t)state.iterations() * kb::kFrame);
}
BENCHMARK(Yuv420)->Name("capture/bgrx_to_yuv420_640x480")->Unit(benchmark::kMicrosecond);

// ADD and the general blend row by row in each kernel set, plain C++ first.
void Kernel(benchmark::State &state, const BlitKernels *k, uint8_t mode, uint32_t arg) {
  const std::vector<unsigned char> src = noise(kb::kFrame, 3);
  std::vector<unsigned char> dst = noise(kb::kFrame, 4);
  for (auto _ : state) {
    blit_rows(*k, mode, src.data(), kb::kW * 4, dst.data(), kb::kW * 4, kb::kW, kb::kH, arg);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed((int64_t)state.iterations() * kb::kFrame);
}

// A row kernel that is no blit mode (OVER, the red-blue swap) over a frame.
void Row(benchmark::State &state, BlitRowFn row, uint32_t arg) {
  const std::vector<unsigned char> src = noise(kb::kFrame, 3);
  std::vector<unsigned char> dst = noise(kb::kFrame, 4);
  for (auto _ : state) {
    blit_rows_with(row, src.data(), kb::kW * 4, dst.data(), kb::kW * 4, kb::kW, kb::kH, arg);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed((int64_t)state.iterations() * kb::kFrame);
}

// A layer's transform at full HD: most of the frame inside the turned
// picture, its corners outside.
constexpr int kHdW = 1920, kHdH = 1080, kHdFrame = kHdW * kHdH * 4;

void HdCopy(benchmark::State &state) {
  const std::vector<unsigned char> src = noise(kHdFrame, 5);
  std::vector<unsigned char> dst(kHdFrame);
  for (auto _ : state) {
    memcpy(dst.data(), src.data(), kHdFrame);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed((int64_t)state.iterations() * kHdFrame);
}
BENCHMARK(HdCopy)->Name("transform/copy_1920x1080")->Unit(benchmark::kMicrosecond);

void Transform(benchmark::State &state, const BlitKernels *k) {
  const int sw = 1280, sh = 720;
  const std::vector<unsigned char> src = noise((size_t)sw * sh * 4, 6);
  std::vector<unsigned char> dst(kHdFrame);
  PicturePlacement p;
  p.sx = p.sy = 1.5;
  p.degrees = 30;
  p.cx = kHdW / 2.0;
  p.cy = kHdH / 2.0;
  const AffineMap map = transform_map(sw, sh, p);
  for (auto _ : state) {
    transform_bilinear(*k, src.data(), sw * 4, sw, sh, dst.data(), kHdW * 4, kHdW, kHdH, map);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed((int64_t)state.iterations() * kHdFrame);
}

// Eight screen-sized layers over a screen, as compose steps.
struct Stack {
  int w, h;
  std::vector<std::vector<unsigned char>> layers;
  std::vector<unsigned char> screen;
  std::vector<ComposeStep> steps;
  Stack(int width, int height) : w(width), h(height) {
    const size_t frame = (size_t)w * h * 4;
    screen = noise(frame, 1);
    struct Kind { uint8_t mode; uint32_t arg; };
    const Kind kinds[] = {{BLIT_RGB, 0},  {BLIT_ADD, 0}, {BLIT_SUB, 0},
                          {BLIT_AND, 0},  {BLIT_OR, 0},  {BLIT_BLU, 0},
                          {BLIT_ALPHA, blit_blend_arg(77, 0xFF)}, {ComposeStep::kOver, 200}};
    uint32_t seed = 2;
    for (const Kind &k : kinds) {
      layers.push_back(noise(frame, seed++));
      ComposeStep s;
      s.mode = k.mode;
      s.arg = k.arg;
      s.src = layers.back().data();
      s.src_pitch = w * 4;
      s.w = w, s.h = h;
      steps.push_back(s);
    }
  }
  ComposeTarget target() { return ComposeTarget{screen.data(), w * 4, w, h}; }
};

Stack &stack(int w, int h) {
  static std::map<int, Stack> stacks;
  auto it = stacks.find(w);
  if (it == stacks.end()) it = stacks.emplace(w, Stack(w, h)).first;
  return it->second;
}

// The floor: per band, each layer's rows copied into a scratch band (it
// stays in cache), then the scratch into the screen's rows.
void floor_frame(WorkerPool &pool, Stack &s, int rows) {
  const int bands = (s.h + rows - 1) / rows;
  const size_t line = (size_t)s.w * 4;
  pool.run(bands, [&](int b) {
    thread_local std::vector<unsigned char> scratch;
    const int y0 = b * rows, n = std::min(rows, s.h - y0);
    const size_t bytes = line * n, at = line * y0;
    if (scratch.size() < bytes) scratch.resize(bytes);
    for (const auto &l : s.layers) memcpy(scratch.data(), l.data() + at, bytes);
    memcpy(s.screen.data() + at, scratch.data(), bytes);
  });
}

// Seconds a frame: the best of a few, for the counters' reference.
template <class F>
double best_of(F frame) {
  double best = 1e9;
  for (int i = 0; i < 5; i++) {
    const auto t0 = std::chrono::steady_clock::now();
    frame();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - t0;
    best = std::min(best, took.count());
  }
  return best;
}

// 1 thread's seconds a frame, by benchmark kind, for the speedup counter.
std::map<std::string, double> &one_thread() {
  static std::map<std::string, double> m;
  return m;
}

enum class ComposeKind { floor, bands, whole };

void Compose(benchmark::State &state, int w, int h, int threads, ComposeKind kind,
             size_t band_bytes) {
  Stack &s = stack(w, h);
  WorkerPool pool(threads);
  Composer c;
  const int rows = band_bytes ? std::max(1, (int)(band_bytes / ((size_t)w * 4)))
                              : Composer::band_rows_for(w * 4);
  auto frame = [&] {
    if (kind == ComposeKind::floor) {
      floor_frame(pool, s, rows);
      return;
    }
    c.begin(s.target());
    for (const ComposeStep &st : s.steps) c.add(st);
    c.flush(pool, blit_kernels(), kind == ComposeKind::whole ? h : rows);
  };
  const double floor = best_of([&] { floor_frame(pool, s, rows); });
  const auto t0 = std::chrono::steady_clock::now();
  for (auto _ : state) {
    frame();
    benchmark::ClobberMemory();
  }
  const double per = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() /
                     (double)state.iterations();
  state.counters["x_floor"] = per / floor;
  const std::string key = std::to_string(w) + "/" + std::to_string((int)kind) + "/" +
                          std::to_string(band_bytes);
  if (threads == 1) one_thread()[key] = per;
  else if (one_thread().count(key)) state.counters["speedup"] = one_thread()[key] / per;
  state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)w * h * 4 * 9);
}

const bool kComposeRegistered = [] {
  const int cores = WorkerPool::cores();
  std::vector<int> counts{1};
  if (cores > 1) counts.push_back(cores);
  struct Size { int w, h; };
  const char *const kinds[] = {"floor", "bands", "whole"};
  for (const Size sz : {Size{1920, 1080}, Size{3840, 2160}})
    for (int k = 0; k < 3; k++)
      for (int threads : counts) {
        if (k == 2 && threads > 1) continue;  // the old path had one thread
        const std::string name = std::string(k ? "compose/" : "floor/") +
                                 std::to_string(sz.w) + "x" + std::to_string(sz.h) + "/" +
                                 kinds[k] + "/threads:" + std::to_string(threads);
        benchmark::RegisterBenchmark(name.c_str(), Compose, sz.w, sz.h, threads, (ComposeKind)k,
                                     (size_t)0)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
      }
  for (size_t kib : {32, 64, 128, 256, 512, 1024})
    for (int threads : counts) {
      const std::string name = "compose/band_kib/" + std::to_string(kib) + "/3840x2160/threads:" +
                               std::to_string(threads);
      benchmark::RegisterBenchmark(name.c_str(), Compose, 3840, 2160, threads, ComposeKind::bands,
                                   kib * 1024)
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime();
    }
  return true;
}();

const bool kKernelsRegistered = [] {
  const BlitKernels *sets[kBlitKernelSetsMax];
  const int n = blit_kernel_sets(sets, kBlitKernelSetsMax);
  for (int i = 0; i < n; i++) {
    const std::string set = sets[i]->name;
    benchmark::RegisterBenchmark(("kernels/" + set + "/add").c_str(), Kernel, sets[i], BLIT_ADD, 0)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("kernels/" + set + "/alpha77").c_str(), Kernel, sets[i],
                                 BLIT_ALPHA, blit_blend_arg(77, 0xFF))
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("kernels/" + set + "/over").c_str(), Row, sets[i]->over, 200u)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("kernels/" + set + "/swap_rb").c_str(), Row, sets[i]->swap_rb, 0u)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("transform/" + set + "/rot30_x1.5_1920x1080").c_str(), Transform,
                                 sets[i])
        ->Unit(benchmark::kMicrosecond);
  }
  return true;
}();

}  // namespace

KOLVEX_BENCH_MEMCPY_FLOOR();
