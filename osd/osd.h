/*  Kolvex - on-screen display
 *
 *  Three lines of text (top, middle, low) drawn over the composited picture
 *  in the 8x8 font at double height, frame after frame, until clean(). On
 *  a canvas shown larger (Context::canvas) the lines keep their places on
 *  it and the glyphs grow by the canvas's whole zoom: 8k x 16k pixels.
 */
#ifndef KOLVEX_OSD_H
#define KOLVEX_OSD_H

#include <cstdint>

#include "params.h"

class Context;

enum colors { BLACK = 0, WHITE = 1, GREEN = 2, RED = 3, BLUE = 4, YELLOW = 5 };

class Osd : public Parametric {
 public:
  Osd();
  ~Osd() {}

  void init(Context *ctx);  // bind to the screen and place the lines
  int print_top(const char *format, ...) __attribute__((format(printf, 2, 3)));
  int print_mid(const char *format, ...) __attribute__((format(printf, 2, 3)));
  int print_low(const char *format, ...) __attribute__((format(printf, 2, 3)));
  void clean();             // all three lines off; texts stay
  void cafudda();           // draw the lines that are on
  void set_color(colors col);
  // Draws one line with each font pixel as an hsize x vsize block; returns
  // the address 8 * vsize rows below pos.
  uint32_t *print(const char *text, uint32_t *pos, int hsize, int vsize);
  // Its lines as parameters: top, middle, low, up to 51 characters; an
  // empty one is off.
  const ParamTable &params() const override { return table(); }
  static const ParamTable &table();

  int32_t bottom_step;
  uint32_t *top_pos, *mid_pos, *low_pos;
  uint32_t color;
  // working state of print(): not re-entrant
  int32_t y, x, i, ch, block_h, hb, vb;
  uint32_t *dst;
  int32_t show_top, show_mid, show_low;
  char top_text[52], mid_text[52], low_text[52];
  Context *env;
  int zoom;  // glyph pixels per font pixel across (twice that down)

  // The OSD font: 256 glyphs of 8 bytes, one per row, bit 7 leftmost.
  static const uint8_t fontdata[2048];
};

#endif
