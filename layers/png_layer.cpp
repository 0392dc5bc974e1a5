#include "png_layer.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstring>

#include "context.h"
#include "jutils.h"
#include "resample.h"

PngLayer::PngLayer()
    : png_ptr(nullptr),
      info_ptr(nullptr),
      signature(),
      row_pointers(nullptr),
      file(),
      picture(nullptr) {
  setname("PNG");
}

// The layer's thread reads what close() frees: it goes first.
PngLayer::~PngLayer() {
  stop();
  close();
}

bool PngLayer::open(const char *path) {
  func("PngLayer::open(%s)", path);
  file.reset(fopen(path, "rb"));  // a second open drops the first file
  if (!file) {
    error("Pnglayer::open(%s) - %s", path, strerror(errno));
    return false;
  }
  // A file shorter than the 4 bytes is no PNG either.
  memset(signature, 0, sizeof signature);
  size_t got = fread(signature, 1, sizeof signature, file.get());
  if (got != sizeof signature || png_sig_cmp(signature, 0, sizeof signature) != 0) {
    error("Pnglayer::open(%s) - not a valid png file", path);
    file.reset();
    return false;
  }
  set_filename(path);
  return true;
}

// libpng's messages go where the engine's go, with the words libpng's own
// handlers would print; a failure then jumps back to decode().
void PngLayer::png_failed(png_structp png, png_const_charp message) {
  error("libpng error: %s", message);
  png_longjmp(png, 1);
}

void PngLayer::png_warned(png_structp, png_const_charp message) {
  warning("libpng warning: %s", message);
}

bool PngLayer::init(Context *ctx) {
  if (!file) {
    error("no png file opened, layer skipped");
    return false;
  }
  // _init centres and crops against the screen, so there must be one.
  if (ctx) env = ctx;
  if (!env || !env->screen) {
    error("PngLayer::init: no screen to show %s on", filename);
    file.reset();
    return false;
  }

  // The decoder and the file are gone when init returns, whatever happens.
  struct Release {
    PngLayer *layer;
    ~Release() {
      layer->file.reset();
      layer->release_decoder();
    }
  } release{this};

  // Built against 1.6: the version check needs the headers' own string.
  png_ptr = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, png_failed, png_warned);
  if (!png_ptr) {
    error("can't create PNG core");
    return false;
  }
  info_ptr = png_create_info_struct(png_ptr);
  if (!info_ptr) {
    error("can't gather PNG info");
    return false;
  }
  if (!decode() || !scale_to_canvas()) return false;

  func("PngLayer :: w[%u] h[%u] bpp[%u] size[%u]", (unsigned)geo.w, (unsigned)geo.h,
       (unsigned)geo.bpp, (unsigned)geo.size);
  return true;
}

// libpng's default error handler prints its message and jumps back here.
// Only this frame and read_picture lie between setjmp and the jump, and
// neither holds anything that needs unwinding: all state is in members.
bool PngLayer::decode() {
  if (setjmp(png_jmpbuf(png_ptr))) {
    error("error reading the PNG file.");
    return false;
  }
  return read_picture();
}

bool PngLayer::read_picture() {
  // Refused in the header already: absurd sizes and chunk floods.
  png_set_user_limits(png_ptr, 0xFFFF, 0xFFFF);  // the rest: fits_layer
  png_set_chunk_cache_max(png_ptr, max_cached_chunks);
  png_set_chunk_malloc_max(png_ptr, max_chunk_bytes);
  // libpng only warns about an ancillary chunk over that limit, then
  // reads it whole all the same, into a zeroed buffer of the size the
  // chunk claims: up to 2 GiB from a file of a few bytes. The layer uses
  // no ancillary chunk but tRNS, so all the others are skipped unread (-1:
  // every chunk but IHDR, PLTE, tRNS, IDAT and IEND).
  png_set_keep_unknown_chunks(png_ptr, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);

  png_init_io(png_ptr, file.get());
  png_set_sig_bytes(png_ptr, (int)sizeof signature);  // open read them
  png_read_info(png_ptr, info_ptr);

  png_uint_32 width = 0, height = 0;
  int bit_depth = 0, color_type = 0, interlace = 0;
  png_get_IHDR(png_ptr, info_ptr, &width, &height, &bit_depth, &color_type, &interlace,
               nullptr, nullptr);
  request_transformations(color_type, bit_depth);
  png_read_update_info(png_ptr, info_ptr);
  png_get_IHDR(png_ptr, info_ptr, &width, &height, &bit_depth, &color_type, &interlace,
               nullptr, nullptr);

  if (!fits_layer(width, height)) return false;
  // The row table is laid out for 4 bytes a pixel; libpng must agree.
  png_size_t rowbytes = png_get_rowbytes(png_ptr, info_ptr);
  if (bit_depth != 8 || rowbytes != (png_size_t)width * 4) {
    error("PNG picture %s decodes to %u bytes a line, not %u", filename, (unsigned)rowbytes,
          (unsigned)width * 4);
    return false;
  }

  _init(env, (int)width, (int)height, bit_depth * 4);
  if (!make_frame()) return false;

  png_read_image(png_ptr, row_pointers);
  png_read_end(png_ptr, nullptr);
  return true;
}

// On a canvas shown at another size the picture is resampled once, here,
// to its size on the screen.
bool PngLayer::scale_to_canvas() {
  const Canvas canvas = env->canvas();
  if (canvas.scale == 1.0) return true;
  const int w = std::max(1, canvas.scaled(geo.w)), h = std::max(1, canvas.scaled(geo.h));
  if ((uint32_t)w > max_width || h > 0xFFFF || (uint64_t)w * h > max_pixels) {
    error("PNG picture %s is %ix%i on this screen, too large for a layer", filename, w, h);
    return false;
  }
  uint8_t *scaled = (uint8_t *)jalloc(nullptr, (uint32_t)w * h * 4);
  if (!scaled) return false;
  if (!resample(picture, geo.w, geo.h, geo.pitch, scaled, w, h, w * 4)) {
    error("PNG picture %s: no memory to resample it to %ix%i", filename, w, h);
    jfree(scaled);
    return false;
  }
  close_frame();
  _init(env, w, h, 32);
  picture = scaled;
  feed_buffer = picture;
  return true;
}

void PngLayer::request_transformations(int color_type, int bit_depth) {
  png_set_strip_16(png_ptr);  // keeps the high byte
  png_set_packing(png_ptr);
  if (color_type == PNG_COLOR_TYPE_PALETTE) {
    func("PNG set palette to rgb");
    png_set_palette_to_rgb(png_ptr);
  }
  if (color_type == PNG_COLOR_TYPE_GRAY && bit_depth < 8) {
    func("PNG set gray to 8bpp");
    png_set_expand_gray_1_2_4_to_8(png_ptr);
  }
  png_set_filler(png_ptr, 0xFF, PNG_FILLER_AFTER);
  png_set_tRNS_to_alpha(png_ptr);
  if (color_type == PNG_COLOR_TYPE_GRAY || color_type == PNG_COLOR_TYPE_GRAY_ALPHA) {
    func("PNG set gray to rgb");
    png_set_gray_to_rgb(png_ptr);
  }
  // Palettes expand to red first as well: they need the swap like truecolour.
  if (color_type & PNG_COLOR_MASK_COLOR) png_set_bgr(png_ptr);
  png_set_interlace_handling(png_ptr);
}

bool PngLayer::fits_layer(png_uint_32 w, png_uint_32 h) {
  // A line of 4-byte pixels must fit the geometry's 16-bit pitch, the
  // height its 16 bits; the pixel budget keeps bombs out.
  if (w > max_width || h > 0xFFFF || (uint64_t)w * h > max_pixels) {
    error("PNG picture %s is %ux%u, too large for a layer", filename, (unsigned)w, (unsigned)h);
    return false;
  }
  return true;
}

bool PngLayer::make_frame() {
  close_frame();
  picture = (uint8_t *)jalloc(picture, geo.size);
  if (!picture) return false;
  memset(picture, 0, geo.size);
  feed_buffer = picture;  // drawable before the thread's first feed

  row_pointers = (png_bytep *)jalloc(row_pointers, (unsigned long)geo.h * sizeof(png_bytep));
  if (!row_pointers) return false;
  for (unsigned i = 0; i < geo.h; i++) row_pointers[i] = picture + (size_t)i * geo.pitch;
  return true;
}

void *PngLayer::feed() { return picture; }

void PngLayer::close() {
  func("PngLayer::close()");
  close_frame();
  file.reset();
  release_decoder();
}

void PngLayer::close_frame() {
  if (row_pointers) {
    jfree(row_pointers);
    row_pointers = nullptr;
  }
  if (picture) {
    feed_buffer = nullptr;
    jfree(picture);
    picture = nullptr;
  }
}

void PngLayer::release_decoder() {
  if (png_ptr) png_destroy_read_struct(&png_ptr, info_ptr ? &info_ptr : nullptr, nullptr);
  png_ptr = nullptr;
  info_ptr = nullptr;
}
