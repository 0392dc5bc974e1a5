/*  Kolvex - text scroller layer
 *
 *  Lines of white 8x8 text on black rise from the bottom edge of a
 *  frame the canvas's size and vanish at the top, like end credits. On a
 *  canvas shown larger the font, margins and steps grow by its whole zoom. Lines come
 *  from a text file (open) or one by one (append); all of them are added
 *  before the layer is started. Each line is drawn once into its own image
 *  when it first comes up and is then only copied, 8 rows per frame. Once
 *  the last line has gone the layer switches itself inactive.
 */
#ifndef KOLVEX_SCROLL_LAYER_H
#define KOLVEX_SCROLL_LAYER_H

#include <cstdint>

#include "layer.h"

// One line of the scroller.
struct txtline {
  uint32_t *image;   // 16 x zoom rows of the layer's width, zero-filled; 8 x zoom shown
  char *text;        // the whole appended text
  int32_t pos;       // pixels risen so far
  int32_t len;       // characters drawn: strlen(text), at most max_chars
  int32_t rendered;  // text drawn into image
  txtline *next;     // younger line
  txtline *prev;     // older line
};

class ScrollLayer : public Layer {
 public:
  ScrollLayer();
  ~ScrollLayer() override;  // its thread stopped, then close()

  bool open(const char *path) override;  // appends every line of the file
  bool init(Context *ctx) override;      // full screen, 32 bpp; before any line
  void close() override;                 // frees every line and the frame
  bool keypress(SDL_keysym *) override { return false; }
  void *feed() override;                 // move the lines, return the frame

  void append(const char *text);  // one line at the end; "" adds nothing
  void render(txtline *line);     // draw the text into the line's image

  // step and line_space may be changed after init, before the start.
  int32_t line_space;  // gap beyond its 8 rows a line clears before the next starts
  int32_t kerning;     // extra pixels after each character cell
  int32_t step;        // pixels every line rises per frame
  uint32_t *frame;     // what feed() returns: text 0xFFFFFFFF, the rest 0
  txtline *first;      // oldest line, highest on screen
  txtline *last;       // youngest line
  int32_t max_chars;   // characters drawn per line: width / (8 + kerning)
  int32_t margin;      // left margin in pixels
  int32_t zoom;        // screen pixels per font pixel: the canvas's whole zoom

  // The scroller font: 256 glyphs of 8 bytes, one per row, bit 7 leftmost.
  static const uint8_t fontdata[2048];

 private:
  void unlink(txtline *line);
  static void free_line(txtline *line);
  ScrollLayer(const ScrollLayer &) = delete;
  ScrollLayer &operator=(const ScrollLayer &) = delete;
};

#endif
