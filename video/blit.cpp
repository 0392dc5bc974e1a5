#include "blit.h"

#include <strings.h>

#include "blit_dispatch.h"
#include "yuv420.h"

void blit_direct(uint8_t mode, const uint8_t *src, int src_pitch, uint8_t *dst,
                 int dst_pitch, int w, int h) {
  if (mode < BLIT_BLU || mode > BLIT_OR) return;
  blit_rows(blit_kernels(), mode, src, src_pitch, dst, dst_pitch, w, h, 0);
}

void blit_copy(const uint8_t *src, int src_pitch, uint8_t *dst, int dst_pitch, int w, int h,
               uint8_t fourth) {
  blit_rows(blit_kernels(), BLIT_RGB, src, src_pitch, dst, dst_pitch, w, h, fourth);
}

void blit_blend(const uint8_t *src, int src_pitch, uint8_t *dst, int dst_pitch, int w, int h,
                uint8_t alpha, uint8_t fourth_keep) {
  blit_rows(blit_kernels(), BLIT_ALPHA, src, src_pitch, dst, dst_pitch, w, h,
            blit_blend_arg(alpha, fourth_keep));
}

void blit_over(const uint8_t *src, int src_pitch, uint8_t *dst, int dst_pitch, int w, int h,
               uint8_t alpha) {
  blit_rows_with(blit_kernels().over, src, src_pitch, dst, dst_pitch, w, h, alpha);
}

void blit_swap_rb(const uint8_t *src, int src_pitch, uint8_t *dst, int dst_pitch, int w, int h) {
  blit_rows_with(blit_kernels().swap_rb, src, src_pitch, dst, dst_pitch, w, h, 0);
}

void kolvex_bgrx_to_yuv420(const uint8_t *bgrx, int pitch, int w, int h, uint8_t *y, uint8_t *u,
                           uint8_t *v) {
  blit_kernels().bgrx_to_yuv420(bgrx, pitch, w, h, y, u, v);
}

namespace {
const char *const kBlitNames[] = {"???", "RGB", "BLU", "GRE", "RED", "ADD",
                                  "SUB", "AND", "OR",  "ALPHA"};
}

int parse_blit(const std::string &text) {
  for (int code = 1; code <= 9; code++)
    if (strcasecmp(text.c_str(), kBlitNames[code]) == 0 || text == std::to_string(code))
      return code;
  return 0;
}

const char *blit_name(int code) { return kBlitNames[code >= 1 && code <= 9 ? code : 0]; }
