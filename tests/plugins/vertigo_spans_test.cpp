// The vertigo effect's inner loop in each of its instruction sets against
// the plain one: the same bytes for every step direction and every length
// (the vector loops and their tails). The effect's source is compiled in
// here, so that each path can be called whatever the processor prefers.
#include <gtest/gtest.h>

#include "../../effects/vertigo.c"
#include "test_support.h"

TEST(VertigoSpans, EveryPathGivesThePlainBytes) {
  const int w = 97, h = 61;
  const std::vector<uint8_t> noise = kt::noise((size_t)w * h * 4 * 2, 5);
  const uint32_t *old = (const uint32_t *)noise.data();
  const uint32_t *live = old + w * h;
  vx.w = w;
  vx.h = h;
  struct Path {
    const char *name;
    SpanFn span;
  };
  std::vector<Path> paths;
#if defined(__SSE2__)
  paths.push_back({"sse2", span_sse2});
#endif
#ifdef VERTIGO_AVX2
  if (__builtin_cpu_supports("avx2")) paths.push_back({"avx2", span_avx2});
#endif
  ASSERT_FALSE(paths.empty()) << "nothing to compare on this processor";
  // Start (u, v) and steps (a, b) in 16.16, as the effect's turn and zoom
  // make them: every sample of the n stays inside the old frame.
  struct Row {
    double u, v, a, b;
    int n;
  } rows[] = {
      {0.5, 0.5, 0.97, 0.03, 90},    {3.25, 40.75, 1.0, -0.05, 93}, {96.5, 0.5, -1.0, 0.6, 96},
      {10.0, 30.0, 0.5, 0.0, 1},     {10.0, 30.0, 0.5, 0.0, 7},     {10.0, 30.0, 0.5, 0.0, 8},
      {10.0, 30.0, 0.5, 0.0, 9},     {0.0, 60.9, 1.004, -0.4, 95},  {50.0, 5.0, 0.0, 0.9, 61},
  };
  for (const Row &r : rows) {
    const int64_t u = llround(r.u * 65536), v = llround(r.v * 65536);
    const int64_t a = llround(r.a * 65536), b = llround(r.b * 65536);
    const int64_t last_u = (u + (r.n - 1) * a) >> 16, last_v = (v + (r.n - 1) * b) >> 16;
    ASSERT_TRUE(last_u >= 0 && last_u < w && last_v >= 0 && last_v < h) << "row leaves the frame";
    std::vector<uint32_t> want(r.n), got(r.n);
    span_scalar(old, live, want.data(), r.n, u, v, a, b);
    for (const Path &p : paths) {
      std::fill(got.begin(), got.end(), 0);
      p.span(old, live, got.data(), r.n, u, v, a, b);
      EXPECT_EQ(got, want) << p.name << " from (" << r.u << ", " << r.v << ") by (" << r.a
                           << ", " << r.b << "), " << r.n << " pixels";
    }
  }
}
