#include "osd.h"

#include <cstdarg>
#include <cstdio>

#include "context.h"
#include "jutils.h"
#include "viewport.h"

namespace {
// Longest text a line shows: vsnprintf's limit of 50 leaves 49 characters.
constexpr int kTextLimit = 50;

// Pixel words of the colour codes, read as 0x00RRGGBB.
constexpr uint32_t kPalette[] = {0x000000, 0xFEFEFE, 0x00EE00, 0xEE0000, 0x0000FE, 0xFFEF00};

// Floor division: a pixel index before the surface lies on a negative row.
inline intptr_t floor_div(intptr_t a, intptr_t b) {
  intptr_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Pointer moved by `pixels` without pointer arithmetic, so that an address
// off the surface is only ever computed, never formed as a derived pointer.
inline uint32_t *offset_pixels(uint32_t *p, intptr_t pixels) {
  return reinterpret_cast<uint32_t *>(reinterpret_cast<uintptr_t>(p) +
                                      (uintptr_t)(pixels * (intptr_t)sizeof(uint32_t)));
}

int format_line(char *text, const char *format, va_list ap) {
  int len = vsnprintf(text, kTextLimit, format, ap);
  text[51] = '\0';
  return len;
}
}  // namespace

Osd::Osd()
    : bottom_step(0),
      top_pos(nullptr),
      mid_pos(nullptr),
      low_pos(nullptr),
      color(kPalette[WHITE]),
      y(0), x(0), i(0), ch(0), block_h(0), hb(0), vb(0),
      dst(nullptr),
      show_top(0),
      show_mid(0),
      show_low(0),
      top_text(),
      mid_text(),
      low_text(),
      env(nullptr),
      zoom(1) {}

void Osd::init(Context *ctx) {
  env = ctx;
  set_color(WHITE);
  ViewPort *scr = env->screen.get();
  // Placed in canvas pixels; the glyphs grow by whole multiples, so that
  // the font stays sharp.
  const Canvas canvas = env->canvas();
  const int h = canvas.h;
  const int left = canvas.to_screen_x(h / 4 + 32);  // a quarter of the height, not of the width
  top_pos = (uint32_t *)scr->coords(left, canvas.to_screen_y(h / 2 - 120));
  mid_pos = (uint32_t *)scr->coords(left, canvas.to_screen_y(h / 2 - 60));
  low_pos = (uint32_t *)scr->coords(left, canvas.to_screen_y(h / 2));
  zoom = canvas.zoom();
  bottom_step = 8 * zoom * scr->pitch;
  func("OSD initialized");
}

int Osd::print_top(const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  int len = format_line(top_text, format, ap);
  va_end(ap);
  show_top = 1;
  return len;
}

int Osd::print_mid(const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  int len = format_line(mid_text, format, ap);
  va_end(ap);
  show_mid = 1;
  return len;
}

int Osd::print_low(const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  int len = format_line(low_text, format, ap);
  va_end(ap);
  show_low = 1;
  return len;
}

void Osd::clean() { show_top = show_mid = show_low = 0; }

void Osd::set_color(colors col) {
  if ((int)col < 0 || (int)col >= (int)(sizeof kPalette / sizeof kPalette[0])) return;
  color = kPalette[col];
}

void Osd::cafudda() {
  if (!env || !env->screen) return;  // not bound to a screen yet
  if (!env->screen->lock()) return;
  if (show_top) print(top_text, top_pos, zoom, 2 * zoom);
  if (show_mid) print(mid_text, mid_pos, zoom, 2 * zoom);
  if (show_low) print(low_text, low_pos, zoom, 2 * zoom);
  env->screen->unlock();
}

uint32_t *Osd::print(const char *text, uint32_t *pos, int hsize, int vsize) {
  if (!env || !env->screen || !text) return pos;
  ViewPort *scr = env->screen.get();
  uint32_t *surface = (uint32_t *)scr->get_surface();
  const int32_t sw = scr->w;
  // Nothing is drawn outside the canvas: its right and bottom edges clip.
  int32_t x0, y0, w, h;
  scr->drawable(x0, y0, w, h);
  // A line of the surface is `pitch` bytes, which may be more than w pixels.
  const int32_t stride = scr->pitch / (int32_t)sizeof(uint32_t);
  block_h = stride * vsize;
  uint32_t *end = offset_pixels(pos, (intptr_t)8 * block_h);
  if (!surface || w <= 0 || h <= 0 || stride < sw || hsize <= 0 || vsize <= 0) return end;

  // Where pos lies on the screen. Everything outside the surface is
  // clipped: the part of a row past the right edge is dropped (it would
  // otherwise run on into the next rows), and rows above the top or below
  // the bottom are skipped.
  intptr_t index = floor_div((intptr_t)(reinterpret_cast<uintptr_t>(pos) -
                                        reinterpret_cast<uintptr_t>(surface)),
                             (intptr_t)sizeof(uint32_t));
  const intptr_t row0 = floor_div(index, stride);
  const int32_t col0 = (int32_t)(index - row0 * stride);

  for (y = 0; y < 8; y++) {
    // Glyph row y is drawn (y + 1) * vsize rows below pos.
    intptr_t top = row0 + (intptr_t)(y + 1) * vsize;
    if (top >= h) break;
    if (top + vsize <= y0) continue;
    int32_t vfirst = top < y0 ? (int32_t)(y0 - top) : 0;
    int32_t vend = top + vsize > h ? (int32_t)(h - top) : vsize;
    int32_t col = col0;
    for (x = 0; text[x] && col < w; x++) {
      ch = fontdata[(uint8_t)text[x] * 8 + y];
      for (i = 7; i >= 0 && col < w; i--) {
        if (!(ch & (1 << i))) {
          col += hsize;
          continue;
        }
        for (hb = 0; hb < hsize && col < w; hb++, col++) {
          dst = surface + (top + vfirst) * stride + col;
          for (vb = vfirst; vb < vend; vb++, dst += stride) *dst = color;
        }
      }
    }
  }
  return end;
}

namespace {

// A line's text and whether it shows, by its place.
template <int Line>
void osd_line(Osd &o, char *&text, int32_t *&show) {
  text = Line == 0 ? o.top_text : Line == 1 ? o.mid_text : o.low_text;
  show = Line == 0 ? &o.show_top : Line == 1 ? &o.show_mid : &o.show_low;
}

template <int Line>
Param osd_row(const char *name, const char *help) {
  return row<Osd>({name, ParamType::text, 0, 51, 0, "", help},
                  [](const Osd &o) {
                    char *text;
                    int32_t *show;
                    osd_line<Line>(const_cast<Osd &>(o), text, show);
                    return ParamValue::of_text(*show ? text : "");
                  },
                  [](Osd &o, const ParamValue &v) {
                    char *text;
                    int32_t *show;
                    osd_line<Line>(o, text, show);
                    snprintf(text, sizeof o.top_text, "%s", v.text.c_str());
                    *show = !v.text.empty();
                  });
}

}  // namespace

const ParamTable &Osd::table() {
  static const ParamTable t = {osd_row<0>("top", "the top line; empty hides it"),
                               osd_row<1>("middle", "the middle line"),
                               osd_row<2>("low", "the bottom line")};
  return t;
}
