// The "vertigo" effect on one 640x480 frame, loaded the way the engine
// loads it. The effect must stay well under a millisecond per frame.
// frei0r plug-ins through our host against their own f0r_update called in
// a loop, in the same run: invert0r (RGBA8888: the host may add two frame
// copies, its swaps) and primaries (BGRA8888: at most one).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <string>
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

// A layer of noise at the screen's size, its frame step run without a
// thread: the filter chain and the blit, as the frame loop runs them.
class NoiseLayer : public Layer {
 public:
  bool open(const char *) override { return true; }
  bool init(Context *ctx) override {
    _init(ctx, 0, 0, 32);
    pixels.resize(geo.size);
    uint32_t s = 0x9e3779b9u;
    for (auto &b : pixels) b = (uint8_t)((s = s * 1664525u + 1013904223u) >> 24);
    feed_buffer = pixels.data();
    active = true;
    return true;
  }
  void close() override {}
  bool keypress(SDL_keysym *) override { return false; }
  void *feed() override { return pixels.data(); }
  std::vector<uint8_t> pixels;
};

// range(0): 0 the layer with no filter (its blit alone), 1 with the filter.
void Frei0rThroughLayer(benchmark::State &state, const char *key) {
  Context &ctx = kb::engine();
  NoiseLayer layer;
  layer.init(&ctx);
  std::string err;
  Filter *f = state.range(0) ? ctx.plugger.pick((std::string("frei0r.") + key).c_str(), err) : nullptr;
  if (state.range(0) && !f) {
    state.SkipWithError(err.c_str());
    return;
  }
  if (f) layer.filters.add(f);
  for (auto _ : state) {
    layer.cafudda();
    benchmark::ClobberMemory();
  }
  if (f) f->rem();
  state.SetBytesProcessed((int64_t)state.iterations() * kb::kFrame);
}

void Frei0rDirect(benchmark::State &state, const char *key) {
  std::string why;
  const Frei0rPlugin *p = Frei0rLibrary().find(key, why);
  if (!p) {
    state.SkipWithError(why.c_str());
    return;
  }
  void *inst = p->construct(kb::kW, kb::kH);
  std::vector<uint32_t> in(kb::kW * kb::kH), out(kb::kW * kb::kH);
  uint32_t s = 0x9e3779b9u;
  for (auto &px : in) px = s = s * 1664525u + 1013904223u;
  double t = 0;
  for (auto _ : state) {
    p->update(inst, t += 1.0 / 24, in.data(), out.data());
    benchmark::ClobberMemory();
  }
  p->destruct(inst);
  state.SetBytesProcessed((int64_t)state.iterations() * kb::kFrame);
}

const bool kFrei0rRegistered = [] {
  for (const char *key : {"invert0r", "primaries"}) {
    const std::string k = key;
    benchmark::RegisterBenchmark(("frei0r/" + k + "/direct").c_str(), Frei0rDirect, key)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("frei0r/" + k + "/layer").c_str(), Frei0rThroughLayer, key)
        ->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
  }
  return true;
}();

}  // namespace

KOLVEX_BENCH_MEMCPY_FLOOR()->Unit(benchmark::kMicrosecond);
