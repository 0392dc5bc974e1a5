/*  Kolvex - PNG picture layer
 *
 *  Shows one still picture. open() checks the file's signature and keeps
 *  the file open; init() decodes it once, straight into a 32-bit frame in
 *  the layer pixel format (bytes blue, green, red, fourth byte), and sets
 *  the geometry to the picture's size, centred on the canvas. On a canvas
 *  shown at another scale the picture is resampled to its scaled size
 *  there and then (resample.h). From then on feed() only hands back that
 *  frame.
 *
 *  Every colour type and depth reaches the same layout:
 *    truecolour / palette        b, g, r, 0xFF
 *    ... with alpha or tRNS      b, g, r, alpha
 *    grey (any depth)            g, g, g, 0xFF   (levels scaled to 0..255)
 *    grey with alpha or tRNS     g, g, g, alpha
 *  16-bit samples keep their high byte. No gamma or background handling.
 *
 *  Refused in init, with an error line and nothing allocated: pictures
 *  wider than max_width (16383: the line of 4-byte pixels must fit the
 *  16-bit pitch), taller than 65535 lines (the geometry's 16 bits), or of
 *  more than max_pixels pixels (a 256 MB frame; the guard against
 *  decompression bombs). A tall strip for vertical scrolling loads. A file that breaks off inside its image
 *  data makes init fail but keeps what was decoded (the rest stays zero).
 *  Of the ancillary chunks only tRNS is read; the others are skipped.
 */
#ifndef KOLVEX_PNG_LAYER_H
#define KOLVEX_PNG_LAYER_H

#include <png.h>

#include <cstdint>
#include <cstdio>
#include <memory>

#include "layer.h"

class PngLayer : public Layer {
 public:
  // Most pixels a picture may have, and the cap on what libpng may
  // allocate for one ancillary chunk and how many it keeps.
  static constexpr uint64_t max_pixels = 64u << 20;
  // Widest picture accepted: a line of 4-byte pixels fits the 16-bit pitch.
  static constexpr uint32_t max_width = 0xFFFF / 4;
  static constexpr png_alloc_size_t max_chunk_bytes = 8u << 20;
  static constexpr uint32_t max_cached_chunks = 128;

  PngLayer();
  ~PngLayer() override;  // its thread stopped, then close()

  bool open(const char *path) override;  // true for a PNG file; kept open
  bool init(Context *ctx) override;      // decode; once, after open
  void close() override;                 // frees the row table and picture
  bool keypress(SDL_keysym *) override { return false; }
  void *feed() override;                 // the picture, or null before init

  // The decoder's state, alive only during init.
  png_structp png_ptr;
  png_infop info_ptr;
  uint8_t signature[4];      // first 4 bytes of the file, read by open
  png_bytep *row_pointers;   // one per line, into the picture
  struct FileCloser {
    void operator()(FILE *f) const { fclose(f); }
  };
  std::unique_ptr<FILE, FileCloser> file;  // from open until init has read it

 private:
  static void png_failed(png_structp png, png_const_charp message);
  static void png_warned(png_structp png, png_const_charp message);
  bool decode();        // sets libpng's jump point, then read_picture
  bool read_picture();  // header, transformations, geometry, image
  void request_transformations(int color_type, int bit_depth);
  bool fits_layer(png_uint_32 w, png_uint_32 h);
  bool make_frame();    // zeroed picture and row table
  bool scale_to_canvas();
  void close_frame();
  void release_decoder();

  uint8_t *picture;  // geo.size bytes, the frame feed() returns

  PngLayer(const PngLayer &) = delete;
  PngLayer &operator=(const PngLayer &) = delete;
};

#endif
