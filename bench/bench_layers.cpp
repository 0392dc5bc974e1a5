/*  Layer kinds: the cost of producing one frame, read against the frame
 *  memcpy floor. One frame slot at 24 fps is 41.7 ms. */
#include <cstdlib>

#include "bench_support.h"
#include "genlayer.h"
#include "kolvex.h"

namespace {

// One headless engine for the whole program (SDL's dummy driver unless the
// caller chose another).
Context &engine() {
  static Context *ctx = [] {
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    Context *c = new Context();
    if (!c->init(kb::kW, kb::kH)) abort();
    return c;
  }();
  return *ctx;
}

// ---------------------------------------------------------------------------
// GenLayer: fill, 1048 points of trigonometry, 1048 x 256 paired additions
// ---------------------------------------------------------------------------
void GenLayerFeed(benchmark::State &state) {
  GenLayer gen;
  if (!gen.init(&engine())) {
    state.SkipWithError("GenLayer init failed");
    return;
  }
  fastsrand(2004);
  gen.blossom_recal(true);
  for (auto _ : state) benchmark::DoNotOptimize(gen.feed());
  state.SetBytesProcessed((int64_t)state.iterations() * kb::kFrame);
}
BENCHMARK(GenLayerFeed)->Name("genlayer/feed_640x480")->Unit(benchmark::kMicrosecond);

}  // namespace

KOLVEX_BENCH_MEMCPY_FLOOR();
