/*  Compositing: one full 640x480 frame blitted through the screen in each
 *  blit mode, and one crop, read against the frame memcpy floor. The plain
 *  copy with matching channel masks should run close to the floor. */
#include <cstdlib>
#include <vector>

#include "bench_support.h"
#include "kolvex.h"

namespace {

// One headless engine for the whole program (SDL's dummy driver unless the
// caller chose another).
Context &engine() {
  static Context *ctx = [] {
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    Context *c = new Context();
    if (!c->init(kb::kW, kb::kH)) abort();
    set_debug(0);
    return c;
  }();
  return *ctx;
}

// A screen-sized layer holding a fixed noise frame; it is never started,
// the benchmark hands its frame to the screen itself.
class FrameLayer : public Layer {
 public:
  bool open(const char *) override { return true; }
  bool init(Context *ctx) override {
    _init(ctx, 0, 0, 32);
    pixels.resize(geo.size);
    uint32_t s = 2004;
    for (auto &b : pixels) {
      s = s * 1103515245u + 12345u;
      b = (unsigned char)(s >> 24);
    }
    blit_buffer = pixels.data();
    return true;
  }
  void close() override {}
  bool keypress(SDL_keysym *) override { return false; }
  void *feed() override { return pixels.data(); }
  std::vector<unsigned char> pixels;
};

const char *const kModeName[] = {"", "rgb", "blu", "gre", "red", "add", "sub", "and", "or", "alpha128"};

void Blit(benchmark::State &state) {
  Context &ctx = engine();
  FrameLayer layer;
  layer.init(&ctx);
  layer.set_blit((int)state.range(0));
  layer.set_alpha(128);
  state.SetLabel(kModeName[state.range(0)]);
  for (auto _ : state) {
    ctx.screen->blit(&layer);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed((int64_t)state.iterations() * kb::kFrame);
}
BENCHMARK(Blit)->Name("screen/blit_640x480")->DenseRange(BLIT_RGB, BLIT_ALPHA)->Unit(benchmark::kMicrosecond);

// Crop runs on every placement; a layer half off two edges takes every branch.
void Crop(benchmark::State &state) {
  Context &ctx = engine();
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

}  // namespace

KOLVEX_BENCH_MEMCPY_FLOOR();
