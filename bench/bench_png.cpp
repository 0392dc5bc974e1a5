// PNG picture decode: open + init of a 640x480 truecolour file, the whole
// cost of showing a picture (the layer's feed() afterwards costs nothing).
#include <png.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support.h"
#include "kolvex.h"
#include "png_layer.h"

namespace {

// A smooth picture with some grain, so it compresses like a photograph
// rather than like noise or a flat fill.
bool write_picture(const std::string &path) {
  std::vector<png_byte> pixels((size_t)kb::kW * kb::kH * 3);
  uint32_t s = 0x12345678;
  for (int y = 0; y < kb::kH; y++)
    for (int x = 0; x < kb::kW; x++) {
      s = s * 1103515245u + 12345u;
      png_byte *p = &pixels[((size_t)y * kb::kW + x) * 3];
      int grain = (int)(s >> 28) - 8;
      p[0] = (png_byte)((x * 255 / kb::kW + grain) & 0xFF);
      p[1] = (png_byte)((y * 255 / kb::kH + grain) & 0xFF);
      p[2] = (png_byte)(((x + y) / 5 + grain) & 0xFF);
    }
  std::vector<png_bytep> rows(kb::kH);
  for (int y = 0; y < kb::kH; y++) rows[y] = &pixels[(size_t)y * kb::kW * 3];

  FILE *f = fopen(path.c_str(), "wb");
  if (!f) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    fclose(f);
    return false;
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, kb::kW, kb::kH, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  fclose(f);
  return true;
}

// Made once, on first use: a headless engine and the picture file.
struct Setup {
  Setup() {
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    set_debug(0);
    char tmpl[] = "/tmp/kolvex_bench_png_XXXXXX";
    int fd = mkstemp(tmpl);
    if (fd >= 0) ::close(fd);
    path = tmpl;
    ready = fd >= 0 && write_picture(path) && ctx.init(kb::kW, kb::kH);
  }
  ~Setup() { unlink(path.c_str()); }
  Context ctx;
  std::string path;
  bool ready = false;
};

Setup &setup() {
  static Setup s;
  return s;
}

void PngDecode640x480(benchmark::State &state) {
  Setup &s = setup();
  if (!s.ready) {
    state.SkipWithError("no picture or no screen");
    return;
  }
  for (auto _ : state) {
    PngLayer layer;
    if (!layer.open(s.path.c_str()) || !layer.init(&s.ctx)) {
      state.SkipWithError("decode failed");
      break;
    }
    benchmark::DoNotOptimize(layer.feed());
  }
  state.SetBytesProcessed((int64_t)state.iterations() * kb::kFrame);
}

}  // namespace

BENCHMARK(PngDecode640x480)->Name("png/decode_640x480_truecolour")->Unit(benchmark::kMillisecond);
KOLVEX_BENCH_MEMCPY_FLOOR();
