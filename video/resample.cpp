#include "resample.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

namespace {

constexpr double kLobes = 3.0;

double lanczos(double x) {
  x = std::fabs(x);
  if (x < 1e-9) return 1.0;
  if (x >= kLobes) return 0.0;
  const double px = M_PI * x;
  return kLobes * std::sin(px) * std::sin(px / kLobes) / (px * px);
}

// The taps of every output position along one axis: first source index
// and normalised weights.
struct Taps {
  int count = 0;
  std::vector<int> first;
  std::vector<float> weights;  // count per output position
};

Taps taps(int src, int dst) {
  Taps t;
  const double ratio = (double)src / dst;
  const double widen = std::max(1.0, ratio);
  const double support = kLobes * widen;
  t.count = (int)std::ceil(support) * 2 + 1;
  t.first.resize(dst);
  t.weights.assign((size_t)dst * t.count, 0.0f);
  for (int i = 0; i < dst; i++) {
    const double centre = (i + 0.5) * ratio - 0.5;
    const int first = (int)std::floor(centre - support) + 1;
    t.first[i] = first;
    double sum = 0;
    std::vector<double> w(t.count);
    for (int k = 0; k < t.count; k++) sum += w[k] = lanczos((first + k - centre) / widen);
    for (int k = 0; k < t.count; k++) t.weights[(size_t)i * t.count + k] = (float)(w[k] / sum);
  }
  return t;
}

inline int clamp_index(int i, int n) { return i < 0 ? 0 : i >= n ? n - 1 : i; }

inline uint8_t to_byte(float v) {
  return (uint8_t)std::lround(std::min(255.0f, std::max(0.0f, v)));
}

void resize(const uint8_t *src, int src_w, int src_h, int src_pitch, uint8_t *dst, int dst_w,
            int dst_h, int dst_pitch) {
  const Taps across = taps(src_w, dst_w), down = taps(src_h, dst_h);
  // Across first, every source line into floats; then down.
  std::vector<float> mid((size_t)dst_w * src_h * 4);
  for (int y = 0; y < src_h; y++) {
    const uint8_t *line = src + (long)y * src_pitch;
    float *out = &mid[(size_t)y * dst_w * 4];
    for (int x = 0; x < dst_w; x++, out += 4) {
      const float *w = &across.weights[(size_t)x * across.count];
      float acc[4] = {0, 0, 0, 0};
      for (int k = 0; k < across.count; k++) {
        const uint8_t *p = line + clamp_index(across.first[x] + k, src_w) * 4;
        for (int c = 0; c < 4; c++) acc[c] += w[k] * p[c];
      }
      for (int c = 0; c < 4; c++) out[c] = acc[c];
    }
  }
  std::vector<float> acc((size_t)dst_w * 4);
  for (int y = 0; y < dst_h; y++) {
    const float *w = &down.weights[(size_t)y * down.count];
    std::fill(acc.begin(), acc.end(), 0.0f);
    for (int k = 0; k < down.count; k++) {  // whole lines: the cache stays warm
      const float *line = &mid[(size_t)clamp_index(down.first[y] + k, src_h) * dst_w * 4];
      for (size_t i = 0; i < acc.size(); i++) acc[i] += w[k] * line[i];
    }
    uint8_t *out = dst + (long)y * dst_pitch;
    for (size_t i = 0; i < acc.size(); i++) out[i] = to_byte(acc[i]);
  }
}

}  // namespace

bool resample(const uint8_t *src, int src_w, int src_h, int src_pitch, uint8_t *dst, int dst_w,
              int dst_h, int dst_pitch) {
  if (src_w < 1 || src_h < 1 || dst_w < 1 || dst_h < 1) return false;
  try {
    resize(src, src_w, src_h, src_pitch, dst, dst_w, dst_h, dst_pitch);
  } catch (const std::bad_alloc &) {
    return false;
  }
  return true;
}

