#include "scroll_layer.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "context.h"
#include "jutils.h"

namespace {
constexpr int kImageRows = 16;      // a line's image: twice the rows shown
constexpr int kGlyph = 8;           // glyph width and height
constexpr uint32_t kInk = 0xFFFFFFFFu;
constexpr int kReadBuffer = 511;    // one read of open(): 510 characters
}  // namespace

ScrollLayer::ScrollLayer()
    : line_space(2),
      kerning(0),
      step(2),
      frame(nullptr),
      first(nullptr),
      last(nullptr),
      max_chars(512),
      margin(10),
      zoom(1) {
  setname("SCR");
}

// The layer's thread reads what close() frees: it goes first.
ScrollLayer::~ScrollLayer() {
  stop();
  close();
}

bool ScrollLayer::init(Context *ctx) {
  _init(ctx, 0, 0, 32);  // the canvas
  // Text grows by the canvas's whole zoom: the font stays sharp.
  zoom = ctx->canvas().zoom();
  kerning = 1;
  margin = 10 * zoom;
  step = 2 * zoom;
  line_space = 2 * zoom;
  max_chars = geo.w / ((kGlyph + kerning) * zoom);
  if (frame) jfree(frame);
  frame = (uint32_t *)jalloc(nullptr, geo.size);
  return frame != nullptr;
}

bool ScrollLayer::open(const char *path) {
  FILE *fd = fopen(path, "r");
  if (!fd) {
    error("ScrollLayer::open : error opening %s : %s", path, strerror(errno));
    return false;
  }
  // Lines keep their newline; a file line longer than one read becomes
  // several scroller lines.
  char buf[kReadBuffer];
  while (fgets(buf, sizeof buf, fd)) append(buf);
  fclose(fd);
  return true;
}

void ScrollLayer::append(const char *text) {
  if (!text || !text[0]) return;
  txtline *line = (txtline *)calloc(1, sizeof(txtline));
  if (!line) {
    error("ScrollLayer::append : out of memory");
    return;
  }
  size_t n = strlen(text);
  line->len = n > (size_t)max_chars ? max_chars : (int32_t)n;
  line->text = strdup(text);
  line->image = (uint32_t *)calloc((size_t)kImageRows * zoom * geo.w, sizeof(uint32_t));
  if (!line->text || (!line->image && geo.w)) {
    error("ScrollLayer::append : out of memory");
    free_line(line);
    return;
  }
  line->prev = last;
  if (last)
    last->next = line;
  else
    first = line;
  last = line;
}

void ScrollLayer::render(txtline *line) {
  const int w = geo.w;
  const int cell = (kGlyph + kerning) * zoom;
  const int glyph = kGlyph * zoom;
  // Pixels past either edge are dropped: a character that does not fit
  // must not run on into the next image row.
  for (int r = 0; r < glyph; r++) {
    uint32_t *row = line->image + (size_t)r * w;
    for (int c = 0; c < line->len; c++) {
      uint8_t bits = fontdata[(uint8_t)line->text[c] * kGlyph + r / zoom];
      int x = margin + c * cell;
      if (x >= w) break;
      for (int b = 0; b < glyph; b++, x++)
        if ((bits & (0x80 >> (b / zoom))) && x >= 0 && x < w) row[x] = kInk;
    }
  }
  line->rendered = 1;
}

void *ScrollLayer::feed() {
  if (!frame) return nullptr;
  jmemset(frame, 0, geo.size);
  if (!first) {
    active = false;
    return frame;
  }
  const int h = geo.h;
  txtline *line = first;
  while (line) {
    line->pos += step;
    if (!line->rendered) {
      render(line);  // one line per frame; it starts moving next frame
      break;
    }
    if (line->pos >= h) {
      txtline *next = line->next;
      unlink(line);
      free_line(line);
      line = next;
      continue;
    }
    if (line->pos < line_space + kGlyph * zoom) break;  // the next line waits
    // Rows that would fall outside the frame (a negative line_space lets
    // a line show before it has risen 8 rows) are left out.
    int top = h - line->pos;
    int from = top < 0 ? -top : 0;
    int to = top + kGlyph * zoom > h ? h - top : kGlyph * zoom;
    if (to > from)
      jmemcpy(frame + (size_t)(top + from) * geo.w, line->image + (size_t)from * geo.w,
              (size_t)(to - from) * geo.pitch);
    line = line->next;
  }
  return frame;
}

void ScrollLayer::unlink(txtline *line) {
  if (line->prev)
    line->prev->next = line->next;
  else
    first = line->next;
  if (line->next)
    line->next->prev = line->prev;
  else
    last = line->prev;
}

void ScrollLayer::free_line(txtline *line) {
  free(line->image);
  free(line->text);
  free(line);
}

void ScrollLayer::close() {
  txtline *line = first;
  while (line) {
    txtline *next = line->next;
    free_line(line);
    line = next;
  }
  first = last = nullptr;
  if (frame) jfree(frame);
  frame = nullptr;
}
