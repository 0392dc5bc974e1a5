// The pixel kernels: every set the processor runs gives the plain C++
// set's bytes in every blit mode, the colour conversion (a capture's too,
// shared out on the worker pool) and the particle generator's pair sums,
// on noise with odd widths, unaligned starts and pitches wider than the
// line; and the screen's own copy and blend give
// SDL's bytes, fourth byte included.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "blit_dispatch.h"
#include "test_support.h"
#include "worker_pool.h"
#include "yuv420.h"
#include "yuv_planes.h"

namespace {

struct Shape {
  int w, h, src_pitch, dst_pitch;  // pitches in pixels
  int skew;                        // bytes the frames start past an aligned address
};
const Shape kShapes[] = {{1, 1, 1, 1, 0}, {7, 3, 9, 8, 1}, {45, 5, 45, 50, 2}, {640, 4, 640, 640, 0},
                         {61, 9, 70, 61, 3}};

std::vector<const BlitKernels *> kernel_sets() {
  const BlitKernels *sets[kBlitKernelSetsMax];
  const int n = blit_kernel_sets(sets, kBlitKernelSetsMax);
  return std::vector<const BlitKernels *>(sets, sets + n);
}

TEST(Kernels, EverySetGivesThePlainBytes) {
  const std::vector<const BlitKernels *> sets = kernel_sets();
  ASSERT_STREQ(sets.front()->name, "plain");
  // The set in use is one of them (the best, unless KOLVEX_KERNELS chose).
  EXPECT_NE(std::find(sets.begin(), sets.end(), &blit_kernels()), sets.end());
  struct Case { uint8_t mode; uint32_t arg; };
  std::vector<Case> cases{{BLIT_RGB, 0}, {BLIT_RGB, 0xFF}};
  for (uint8_t mode = BLIT_BLU; mode <= BLIT_OR; mode++) cases.push_back({mode, 0});
  for (int alpha : {0, 1, 127, 128, 254, 255})
    for (uint8_t keep : {0x00, 0xFF}) cases.push_back({BLIT_ALPHA, blit_blend_arg(alpha, keep)});
  uint32_t seed = 1;
  for (const Shape &s : kShapes)
    for (const Case &c : cases) {
      const std::vector<uint8_t> src = kt::noise((size_t)s.src_pitch * s.h * 4 + 8, seed++);
      const std::vector<uint8_t> dst = kt::noise((size_t)s.dst_pitch * s.h * 4 + 8, seed++);
      std::vector<uint8_t> want = dst;
      blit_rows(*sets[0], c.mode, src.data() + s.skew, s.src_pitch * 4, want.data() + s.skew,
                s.dst_pitch * 4, s.w, s.h, c.arg);
      if (s.w > 1 && (c.mode != BLIT_ALPHA || (c.arg & 0xFF) != 0)) {
        EXPECT_NE(want, dst) << "mode " << +c.mode;  // or the comparison proves nothing
      }
      for (const BlitKernels *k : sets) {
        std::vector<uint8_t> got = dst;
        blit_rows(*k, c.mode, src.data() + s.skew, s.src_pitch * 4, got.data() + s.skew,
                  s.dst_pitch * 4, s.w, s.h, c.arg);
        EXPECT_EQ(got, want) << k->name << " mode " << +c.mode << " arg " << std::hex << c.arg
                             << std::dec << " " << s.w << "x" << s.h;
      }
    }
  // OVER at several layer alphas, and the red-blue swap (in place too).
  for (const Shape &s : kShapes) {
    const std::vector<uint8_t> src = kt::noise((size_t)s.src_pitch * s.h * 4 + 8, seed++);
    const std::vector<uint8_t> dst = kt::noise((size_t)s.dst_pitch * s.h * 4 + 8, seed++);
    struct Row { const char *what; BlitRowFn BlitKernels::*fn; uint32_t arg; };
    const Row rows[] = {{"over 0", &BlitKernels::over, 0},     {"over 1", &BlitKernels::over, 1},
                        {"over 128", &BlitKernels::over, 128}, {"over 255", &BlitKernels::over, 255},
                        {"swap", &BlitKernels::swap_rb, 0}};
    for (const Row &r : rows) {
      std::vector<uint8_t> want = dst;
      blit_rows_with(sets[0]->*r.fn, src.data() + s.skew, s.src_pitch * 4, want.data() + s.skew,
                     s.dst_pitch * 4, s.w, s.h, r.arg);
      for (const BlitKernels *k : sets) {
        std::vector<uint8_t> got = dst;
        blit_rows_with(k->*r.fn, src.data() + s.skew, s.src_pitch * 4, got.data() + s.skew,
                       s.dst_pitch * 4, s.w, s.h, r.arg);
        EXPECT_EQ(got, want) << k->name << " " << r.what << " " << s.w << "x" << s.h;
      }
    }
    std::vector<uint8_t> in_place = src, want = src;
    blit_rows_with(sets[0]->swap_rb, src.data(), s.src_pitch * 4, want.data(), s.src_pitch * 4,
                   s.w, s.h, 0);
    for (const BlitKernels *k : sets) {
      in_place = src;
      blit_rows_with(k->swap_rb, in_place.data(), s.src_pitch * 4, in_place.data(),
                     s.src_pitch * 4, s.w, s.h, 0);
      EXPECT_EQ(in_place, want) << k->name << " swap in place";
    }
  }
  // The colour conversion: a 70 x 6 frame (tails in luma and chroma).
  const int w = 70, h = 6, pitch = 75 * 4, planes = w * h * 3 / 2;
  const std::vector<uint8_t> frame = kt::noise((size_t)pitch * h + 4, 77);
  std::vector<uint8_t> want(planes);
  sets[0]->bgrx_to_yuv420(frame.data() + 1, pitch, w, h, &want[0], &want[w * h], &want[w * h * 5 / 4]);
  for (const BlitKernels *k : sets) {
    std::vector<uint8_t> got(planes);
    k->bgrx_to_yuv420(frame.data() + 1, pitch, w, h, &got[0], &got[w * h], &got[w * h * 5 / 4]);
    EXPECT_EQ(got, want) << k->name << " yuv420";
  }
  // A capture's conversion shared out on the pool: the bytes of one call,
  // into packed planes and into padded ones (FFmpeg's), 203 pairs of lines
  // in four pieces of 50 and 51 (a piece takes a quarter of a megabyte).
  {
    const int w = 646, h = 406, n = w * h, cw = w / 2, pitch = w * 4 + 12;
    const std::vector<uint8_t> frame = kt::noise((size_t)pitch * h, 80);
    WorkerPool pool(2);
    for (const BlitKernels *k : sets) {
      std::vector<uint8_t> one(n * 3 / 2), packed(n * 3 / 2), padded((size_t)(w + 9) * h * 2, 0);
      k->bgrx_to_yuv420(frame.data(), pitch, w, h, &one[0], &one[n], &one[n + n / 4]);
      uint8_t *const flat[3] = {&packed[0], &packed[n], &packed[n + n / 4]};
      const int flat_strides[3] = {w, cw, cw};
      capture::bgrx_to_yuv420(frame.data(), pitch, w, h, flat, flat_strides, &pool, k->bgrx_to_yuv420);
      EXPECT_EQ(packed, one) << k->name << " yuv420 on the pool";
      const int strides[3] = {w + 9, cw + 5, cw + 5};
      uint8_t *const planes[3] = {&padded[0], &padded[(w + 9) * h], &padded[(w + 9) * h + (cw + 5) * h / 2]};
      capture::bgrx_to_yuv420(frame.data(), pitch, w, h, planes, strides, &pool, k->bgrx_to_yuv420);
      std::vector<uint8_t> lines;
      for (int p = 0; p < 3; p++)
        for (int y = 0; y < (p ? h / 2 : h); y++)
          lines.insert(lines.end(), planes[p] + y * strides[p], planes[p] + y * strides[p] + (p ? cw : w));
      EXPECT_EQ(lines, one) << k->name << " yuv420 on the pool, padded";
    }
  }
  // The generator's pair kernels: 13 x 5 native sums added into rows 83
  // pairs apart at an odd address, then 5 x 83 pairs turned into bytes.
  const std::vector<uint8_t> sums = kt::noise(83 * 5 * 8 + 3, 78), noise_sprite = kt::noise(13 * 5 * 8, 79);
  std::vector<uint64_t> sprite(13 * 5);
  memcpy(sprite.data(), noise_sprite.data(), noise_sprite.size());
  std::vector<uint8_t> pairs_want = sums;
  sets[0]->add_pair_rows(pairs_want.data() + 3, 83 * 8, sprite.data(), 5, 13);
  sets[0]->pairs_to_bytes(pairs_want.data() + 3, 83 * 5);
  EXPECT_NE(pairs_want, sums);
  for (const BlitKernels *k : sets) {
    std::vector<uint8_t> got = sums;
    k->add_pair_rows(got.data() + 3, 83 * 8, sprite.data(), 5, 13);
    k->pairs_to_bytes(got.data() + 3, 83 * 5);
    EXPECT_EQ(got, pairs_want) << k->name << " pairs";
  }
}

// OVER as a viewer sees it, one pixel (bytes blue, green, red, fourth):
// an opaque pixel at full alpha replaces exactly, a clear one leaves the
// screen exactly, half of either blends half way (rounded down, so within
// one); the screen's fourth byte stays.
TEST(Kernels, OverWeighsByPixelAndLayerAlpha) {
  struct Row {
    uint8_t s_alpha, layer;
    int want[3];
    int slack;
  } rows[] = {{255, 255, {200, 100, 0}, 0},    {0, 255, {0, 100, 200}, 0},
              {255, 0, {0, 100, 200}, 0},      {128, 255, {100, 100, 100}, 1},
              {255, 128, {100, 100, 100}, 1},  {128, 128, {50, 100, 150}, 1}};
  for (const Row &r : rows) {
    const uint8_t src[4] = {200, 100, 0, r.s_alpha};
    for (const BlitKernels *k : kernel_sets()) {
      uint8_t dst[4] = {0, 100, 200, 7};
      k->over(src, dst, 1, r.layer);
      for (int i = 0; i < 3; i++)
        EXPECT_LE(abs(dst[i] - r.want[i]), r.slack)
            << k->name << " byte " << i << " pixel alpha " << +r.s_alpha << " layer " << +r.layer;
      EXPECT_EQ(dst[3], 7) << k->name;
    }
  }
}

// The plain conversion's own bytes: 2x2 blocks of one colour give the
// BT.601 studio-range values (the fourth byte plays no part).
TEST(Kernels, ConversionGivesStudioRangeValues) {
  struct Row {
    uint8_t b, g, r, y, u, v;
  } rows[] = {{0, 0, 0, 16, 128, 128},   {255, 255, 255, 235, 128, 128}, {0, 0, 255, 82, 90, 240},
              {0, 255, 0, 144, 54, 34}, {255, 0, 0, 41, 240, 110}};
  for (const Row &c : rows) {
    const uint8_t px[16] = {c.b, c.g, c.r, 0x5A, c.b, c.g, c.r, 0, c.b, c.g, c.r, 9, c.b, c.g, c.r, 1};
    uint8_t y[4], u, v;
    kolvex_bgrx_to_yuv420(px, 8, 2, 2, y, &u, &v);
    EXPECT_EQ(std::vector<int>({y[0], y[3], u, v}), std::vector<int>({c.y, c.y, c.u, c.v}))
        << +c.r << "," << +c.g << "," << +c.b;
  }
}

// The copy and the blend through the screen against SDL's own blit of the
// same frame, onto the window's surface and onto one with an alpha channel.
TEST(Kernels, ScreenCopyAndBlendGiveSdlBytes) {
  kt::Engine e(64, 48);
  ASSERT_TRUE(e.ok);
  for (uint32_t amask : {0u, e.screen->amask}) {
    kt::GuardedSurface surface(*e.screen, amask);
    ASSERT_TRUE(surface.ok());
    kt::TestLayer l(37, 21);
    {
      kt::StderrCapture quiet;
      l.init(&e.ctx);
    }
    l.frame = kt::noise(l.geo.size, 5);
    l.blit_buffer = l.frame.data();
    l.set_position(40, -3);
    const std::vector<uint8_t> back = kt::noise(surface.bytes(), 6);
    for (int alpha : {-1, 0, 1, 127, 128, 254, 255}) {
      SDL_Surface *frame = SDL_CreateRGBSurfaceFrom(l.frame.data(), 37, 21, 32, 37 * 4, e.screen->rmask,
                                                    e.screen->gmask, e.screen->bmask, 0);
      ASSERT_NE(frame, nullptr);
      if (alpha >= 0 && alpha < 255) SDL_SetAlpha(frame, SDL_SRCALPHA, (uint8_t)alpha);
      memcpy(surface.pixels(), back.data(), surface.bytes());
      SDL_Rect rect = l.rect;
      SDL_UpperBlit(frame, &rect, e.screen->draw_surface, nullptr);
      SDL_FreeSurface(frame);
      const std::vector<uint8_t> want(surface.pixels(), surface.pixels() + surface.bytes());
      l.set_blit(alpha < 0 ? BLIT_RGB : BLIT_ALPHA);
      l.set_alpha(alpha);
      memcpy(surface.pixels(), back.data(), surface.bytes());
      e.screen->blit(&l);
      const std::vector<uint8_t> got(surface.pixels(), surface.pixels() + surface.bytes());
      EXPECT_EQ(got, want) << "alpha " << alpha << " amask " << std::hex << amask;
      if (alpha != 0) {
        EXPECT_NE(got, back) << "alpha " << alpha;
      }
    }
  }
}

}  // namespace
