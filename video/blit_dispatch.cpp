#include "blit_dispatch.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "jutils.h"

namespace {

// Once per process: the set KOLVEX_KERNELS names when the processor runs
// it, else the widest set the processor (and its OS, for AVX state) runs.
const BlitKernels *choose() {
  const BlitKernels *sets[kBlitKernelSetsMax];
  const int n = blit_kernel_sets(sets, kBlitKernelSetsMax);
  const char *asked = getenv("KOLVEX_KERNELS");
  if (!asked || !*asked) return sets[n - 1];
  for (int i = 0; i < n; i++)
    if (strcmp(asked, sets[i]->name) == 0) return sets[i];
  warning("KOLVEX_KERNELS=%.40s is not a kernel set this processor runs; using %s", asked,
          sets[n - 1]->name);
  return sets[n - 1];
}

}  // namespace

const BlitKernels &blit_kernels() {
  static const BlitKernels *const chosen = choose();
  return *chosen;
}

int blit_kernel_sets(const BlitKernels *out[], int max) {
  const BlitKernels *all[kBlitKernelSetsMax] = {&kBlitKernelsPlain};
  int n = 1;
#ifdef KOLVEX_X86_KERNELS
  all[n++] = &kBlitKernelsSse2;
  if (__builtin_cpu_supports("ssse3")) all[n++] = &kBlitKernelsSsse3;
  if (__builtin_cpu_supports("avx2")) all[n++] = &kBlitKernelsAvx2;
#endif
  for (int i = 0; i < n && i < max; i++) out[i] = all[i];
  return n;
}

void blit_rows(const BlitKernels &k, uint8_t mode, const uint8_t *src, int src_pitch,
               uint8_t *dst, int dst_pitch, int w, int h, uint32_t arg) {
  if (mode < BLIT_RGB || mode > BLIT_ALPHA) return;
  blit_rows_with(k.row[mode], src, src_pitch, dst, dst_pitch, w, h, arg);
}

void blit_rows_with(BlitRowFn row, const uint8_t *src, int src_pitch, uint8_t *dst, int dst_pitch,
                    int w, int h, uint32_t arg) {
  if (w <= 0 || h <= 0) return;
  // Lines straight after one another are one long row.
  if (src_pitch == w * 4 && dst_pitch == w * 4 && (long)w * h <= INT_MAX) {
    row(src, dst, w * h, arg);
    return;
  }
  for (int line = 0; line < h; line++)
    row(src + (long)line * src_pitch, dst + (long)line * dst_pitch, w, arg);
}
