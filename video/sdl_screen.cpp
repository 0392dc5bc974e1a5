#include "sdl_screen.h"

#include <csignal>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "blit.h"
#include "composer.h"
#include "jutils.h"
#include "layer.h"
#include "scale.h"

namespace {

const char *kEventName = "Orvanta";
const char *kEventYear = "2004";

// SDL_HWSURFACE | SDL_HWACCEL | SDL_DOUBLEBUF
const uint32_t kVideoFlags = 0x40000101;

// Owns the temporary surface that describes a layer frame to SDL.
struct FrameSurface {
  SDL_Surface *surface;
  FrameSurface(Layer *layer, const SdlScreen &screen)
      : surface(SDL_CreateRGBSurfaceFrom(layer->blit_buffer, layer->geo.w, layer->geo.h,
                                         layer->geo.bpp, layer->geo.pitch, screen.rmask,
                                         screen.gmask, screen.bmask, 0)) {}
  ~FrameSurface() {
    if (surface) SDL_FreeSurface(surface);
  }
  FrameSurface(const FrameSurface &) = delete;
  FrameSurface &operator=(const FrameSurface &) = delete;
};

// True when SDL would put the layer's frame onto `s` without converting
// it: 32-bit, the layer's colour masks, no alpha channel or one in the
// fourth byte, no lock needed and nothing clipped away but the surface's
// own edges and the drawable area's. Then the screen's own loops give
// SDL's bytes.
bool blits_unconverted(const Layer &layer, const SDL_Surface *s, const SdlScreen &screen) {
  const SDL_PixelFormat *f = s->format;
  int32_t x0, y0, x1, y1;
  screen.drawable(x0, y0, x1, y1);
  return layer.geo.bpp == 32 && f->BytesPerPixel == 4 && f->Rmask == screen.rmask &&
         f->Gmask == screen.gmask && f->Bmask == screen.bmask &&
         (f->Amask == 0 || f->Amask == screen.amask) && !SDL_MUSTLOCK(s) && s->w == screen.w &&
         s->h == screen.h && s->clip_rect.x == x0 && s->clip_rect.y == y0 &&
         s->clip_rect.w == x1 - x0 && s->clip_rect.h == y1 - y0;
}

// The plain copy and the blend with SDL's bytes, without wrapping the frame
// in an SDL surface each time: SDL copies (making the fourth byte opaque on
// a surface with an alpha channel), copies at alpha 255, leaves the surface
// at alpha 0, and otherwise blends keeping the surface's fourth byte,
// except at alpha 128 onto a surface without an alpha channel, where its
// halving path clears it.
// As a step: the row kernel and its argument; nothing drawn at alpha 0.
ComposeStep unconverted_step(const Layer &layer, const SDL_Surface *surface) {
  ComposeStep s;
  const BlitClip &c = layer.clip;
  if (c.w <= 0 || c.h <= 0 || !layer.blit_buffer) return s;
  const bool surface_alpha = surface->format->Amask != 0;
  const uint8_t alpha = layer.blit == BLIT_RGB ? SDL_ALPHA_OPAQUE : layer.alpha;
  if (alpha == SDL_ALPHA_OPAQUE) {
    s.mode = BLIT_RGB;
    s.arg = surface_alpha ? 0xFF : 0;
  } else if (alpha != SDL_ALPHA_TRANSPARENT) {
    s.mode = BLIT_ALPHA;
    s.arg = blit_blend_arg(alpha, !surface_alpha && alpha == 128 ? 0 : 0xFF);
  } else {
    return s;
  }
  s.src = (const uint8_t *)layer.blit_buffer + c.offset;
  s.src_pitch = layer.geo.pitch;
  s.x = c.x, s.y = c.y, s.w = c.w, s.h = c.h;
  return s;
}

void blit_unconverted(Layer *layer, SDL_Surface *surface) {
  const ComposeStep s = unconverted_step(*layer, surface);
  if (s.w <= 0 || s.h <= 0 || s.mode == BLIT_INVALID) return;
  uint8_t *dst = (uint8_t *)surface->pixels + (long)s.y * surface->pitch + (long)s.x * 4;
  blit_rows(blit_kernels(), s.mode, s.src, s.src_pitch, dst, surface->pitch, s.w, s.h, s.arg);
}

// The drawable area as the surface's clip rectangle: SDL clips its blits
// to it as crop() does.
void clip_to_drawable(const SdlScreen &screen, SDL_Surface *surface) {
  int32_t x0, y0, x1, y1;
  screen.drawable(x0, y0, x1, y1);
  SDL_Rect area = {(int16_t)x0, (int16_t)y0, (uint16_t)(x1 - x0), (uint16_t)(y1 - y0)};
  SDL_SetClipRect(surface, &area);
}

}  // namespace

SdlScreen::SdlScreen()
    : video_surface(nullptr),
      draw_surface(nullptr),
      emulated_surface(nullptr),
      video_flags(kVideoFlags),
      // Bytes blue, green, red, fourth in memory, as words of this machine.
#if SDL_BYTEORDER == SDL_BIG_ENDIAN
      bmask(0xFF000000), gmask(0x00FF0000), rmask(0x0000FF00), amask(0x000000FF)
#else
      bmask(0x000000FF), gmask(0x0000FF00), rmask(0x00FF0000), amask(0xFF000000)
#endif
{
  bpp = 32;
  magnification = 0;
}

SdlScreen::~SdlScreen() {
  // The magnification surface is ours; SDL_Quit frees only its own.
  if (magnification && draw_surface && draw_surface != video_surface)
    SDL_FreeSurface(draw_surface);
  draw_surface = nullptr;
  SDL_Quit();
}

bool SdlScreen::init(int width, int height) {
  setenv("SDL_VIDEO_HWACCEL", "1", 1);
  // SDL turns SIGTERM into a quit event, which a program that reads no
  // events never sees: kill and service managers could not end it. The
  // signal keeps the action the program gave it.
  struct sigaction term;
  sigaction(SIGTERM, nullptr, &term);
  const int started = SDL_Init(SDL_INIT_VIDEO | SDL_INIT_JOYSTICK);
  sigaction(SIGTERM, &term, nullptr);
  if (started < 0) {
    error("Can't initialize SDL: %s", SDL_GetError());
    return false;
  }
  setres(width, height);
  // Nothing can be drawn without a video surface: that is a failed init.
  if (!video_surface) return false;
  draw_surface = SDL_GetVideoSurface();

  pitch = draw_surface->pitch;  // SDL may pad its lines
  bpp = 32;
  size = width * height * 4;
  w = width;
  h = height;
  notice("SDL Viewport is %ix%i %ibpp", w, h, video_surface->format->BytesPerPixel * 8);

  char title[64];
  snprintf(title, sizeof(title), "%s %s", kEventName, kEventYear);
  SDL_WM_SetCaption(title, title);
  SDL_ShowCursor(SDL_DISABLE);
  return true;
}

int SdlScreen::setres(int width, int height) {
  int mode = SDL_VideoModeOK(width, height, bpp, video_flags);
  video_surface = SDL_SetVideoMode(width, height, bpp, video_flags);
  if (!video_surface) {
    video_surface = SDL_GetVideoSurface();  // whatever window is left, if any
    error("can't set video mode: %s\n", SDL_GetError());
    return 0;
  }
  if (mode != bpp) {
    act("your screen does'nt support %ubpp", (unsigned)bpp);
    act("doing video surface software conversion");
    emulated_surface = SDL_GetVideoSurface();
    act("emulated surface geometry %ux%u %ubpp", (unsigned)emulated_surface->w,
        (unsigned)emulated_surface->h, (unsigned)emulated_surface->format->BitsPerPixel);
  }
  return mode;
}

void SdlScreen::set_magnification(int algo) {
  if (algo == magnification) return;
  static const char *names[] = {"off", "scale2x", "scale3x"};
  if (algo < 0 || algo > 2) {
    error("magnification algorithm %i not supported", algo);
    return;
  }
  notice("screen magnification %s", names[algo]);
  // The frame is drawn at w x h in a surface of our own and enlarged into
  // the window; get that surface before the window changes.
  SDL_Surface *own = nullptr;
  if (magnification == 0 && algo != 0) {
    func("create surface for magnification");
    own = SDL_CreateRGBSurface(video_flags, w, h, bpp, rmask, gmask, bmask, amask);
    if (!own) {
      error("can't create the surface for screen magnification: %s", SDL_GetError());
      return;
    }
  }
  setres(w * (algo + 1), h * (algo + 1));
  if (!video_surface || video_surface->w != w * (algo + 1)) {
    // Back to the window we had; the magnification stays as it was.
    error("screen magnification %s failed, staying at %s", names[algo], names[magnification]);
    if (own) SDL_FreeSurface(own);
    setres(w * (magnification + 1), h * (magnification + 1));
    if (magnification == 0) draw_surface = video_surface;
    if (draw_surface) pitch = draw_surface->pitch;
    return;
  }
  if (algo == 0) {
    SDL_FreeSurface(draw_surface);
    draw_surface = SDL_GetVideoSurface();
  } else if (own) {
    draw_surface = own;
  }
  pitch = draw_surface->pitch;
  magnification = algo;
}

// ---------------------------------------------------------------------------
// Compositing
// ---------------------------------------------------------------------------
void SdlScreen::crop(Layer *layer) {
  ScreenGeometry &g = layer->geo;
  BlitClip &c = layer->clip;
  // Clipped to the drawable area (the canvas), not only the screen.
  int32_t x0, y0, x1, y1;
  drawable(x0, y0, x1, y1);

  layer->rect.x = (int16_t)-g.x;
  layer->rect.y = (int16_t)-g.y;
  layer->rect.w = (uint16_t)w;
  layer->rect.h = (uint16_t)h;

  c.x = g.x;
  c.y = g.y;
  c.w = g.w;
  c.h = g.h;
  int xoff = 0, yoff = 0;
  layer->hidden = false;
  func("CROP x[%i] y[%i] w[%i] h[%i] on screen w[%i] h[%i]", g.x, g.y, g.w, g.h, w, h);

  if (g.x < x0) {
    xoff = x0 - g.x;
    c.x = x0;
    if (xoff > g.w) {
      func("layer out of screen to the left");
      layer->hidden = true;
      g.x = (int16_t)(x0 - (g.w + 1));
    } else {
      c.w -= xoff;
    }
  }
  if (g.x + g.w > x1) {
    if (g.x > x1) {
      func("layer out of screen to the right");
      layer->hidden = true;
      g.x = (int16_t)(x1 + 1);
    } else {
      c.w -= g.x + g.w - x1;
    }
  }
  if (g.y < y0) {
    yoff = y0 - g.y;
    c.y = y0;
    if (yoff > g.h) {
      func("layer out of screen up");
      layer->hidden = true;
      g.y = (int16_t)(y0 - (g.h + 1));
    } else {
      c.h -= yoff;
    }
  }
  if (g.y + g.h > y1) {
    if (g.y > y1) {
      func("layer out of screen down");
      layer->hidden = true;
      g.y = (int16_t)(y1 + 1);
    } else {
      c.h -= g.y + g.h - y1;
    }
  }

  c.dest = coords(c.x, c.y);
  // In 64 bits: a layer 32768 lines above the screen and 32768 pixels to
  // its left lies one byte further into its frame than an int32 holds.
  // Such a layer is off the screen and its offset never used. A visible
  // 32-bit layer always fits (at most 16383 pixels and 32768 lines in);
  // should one of another depth not, it cannot be drawn: hidden as well.
  const int64_t offset = (int64_t)xoff * 4 + (int64_t)yoff * g.pitch;
  if (offset > INT32_MAX) {
    if (!layer->hidden)
      error("layer %s starts %lld bytes into its frame on screen: not drawn", layer->get_name(),
            (long long)offset);
    layer->hidden = true;
    c.offset = 0;
  } else {
    c.offset = (int32_t)offset;
  }
  func("CROP x[%i] y[%i] w[%i] h[%i] xoff[%i] yoff[%i]", c.x, c.y, c.w, c.h, xoff, yoff);
}

void SdlScreen::blit(Layer *layer) {
  if (layer->hidden) return;
  const uint8_t mode = layer->blit;
  if (mode == BLIT_INVALID || mode > BLIT_ALPHA) {
    error("invalid algo blit");
    return;
  }
  if (mode == BLIT_RGB || mode == BLIT_ALPHA) {
    if (!draw_surface) return;
    clip_to_drawable(*this, draw_surface);
    if (blits_unconverted(*layer, draw_surface, *this)) {
      blit_unconverted(layer, draw_surface);
      return;
    }
    FrameSurface frame(layer, *this);
    if (!frame.surface) return;
    // Fully opaque is a plain copy (SDL 1.2's own rule). Asked for as a
    // blend, the SDL underneath takes a generic path some 40 times slower.
    if (mode == BLIT_ALPHA && layer->alpha != SDL_ALPHA_OPAQUE)
      SDL_SetAlpha(frame.surface, SDL_SRCALPHA, layer->alpha);
    SDL_Rect src = layer->rect;  // SDL may write its clipped copy back
    SDL_UpperBlit(frame.surface, &src, draw_surface, nullptr);
    return;
  }
  const BlitClip &c = layer->clip;
  if (c.w <= 0 || c.h <= 0 || !layer->blit_buffer) return;
  blit_direct(mode, (const uint8_t *)layer->blit_buffer + c.offset, layer->geo.pitch,
              (uint8_t *)c.dest, pitch, c.w, c.h);
}

bool SdlScreen::compose_target(ComposeTarget *t) {
  if (!draw_surface || !draw_surface->pixels || draw_surface->format->BytesPerPixel != 4 ||
      SDL_MUSTLOCK(draw_surface) || draw_surface->w != w || draw_surface->h != h)
    return false;
  t->pixels = (uint8_t *)draw_surface->pixels;
  t->pitch = draw_surface->pitch;
  t->w = w;
  t->h = h;
  return true;
}

// What blit() would draw, as a step; false where blit() alone can say
// (an invalid mode's line, SDL converting the frame).
bool SdlScreen::band_step(Layer *layer, ComposeStep *step) {
  *step = ComposeStep();
  if (layer->hidden) return true;
  const uint8_t mode = layer->blit;
  if (mode == BLIT_INVALID || mode > BLIT_ALPHA) return false;
  if (mode == BLIT_RGB || mode == BLIT_ALPHA) {
    if (!draw_surface) return true;
    clip_to_drawable(*this, draw_surface);
    if (!blits_unconverted(*layer, draw_surface, *this)) return false;
    *step = unconverted_step(*layer, draw_surface);
    return true;
  }
  const BlitClip &c = layer->clip;
  if (c.w <= 0 || c.h <= 0 || !layer->blit_buffer) return true;
  step->mode = mode;
  step->src = (const uint8_t *)layer->blit_buffer + c.offset;
  step->src_pitch = layer->geo.pitch;
  step->x = c.x, step->y = c.y, step->w = c.w, step->h = c.h;
  return true;
}

// ---------------------------------------------------------------------------
// Presentation and pixel access
// ---------------------------------------------------------------------------
void SdlScreen::show() {
  if (!video_surface) return;
  if (magnification && draw_surface != video_surface &&
      video_surface->format->BytesPerPixel == 4 &&
      video_surface->w >= w * (magnification + 1) &&
      video_surface->h >= h * (magnification + 1)) {
    // Enlarge the drawn frame into the window before it is flipped.
    const bool must_lock = SDL_MUSTLOCK(video_surface);
    if (!must_lock || SDL_LockSurface(video_surface) == 0) {
      const uint32_t *src = (const uint32_t *)draw_surface->pixels;
      uint32_t *dst = (uint32_t *)video_surface->pixels;
      if (magnification == 1)
        scale2x(src, draw_surface->pitch, dst, video_surface->pitch, w, h);
      else
        scale3x(src, draw_surface->pitch, dst, video_surface->pitch, w, h);
      if (must_lock) SDL_UnlockSurface(video_surface);
    }
  }
  SDL_Flip(video_surface);
}

void SdlScreen::clear() {
  SDL_SetClipRect(draw_surface, nullptr);  // the bars too
  SDL_FillRect(draw_surface, nullptr, 0);
}

void *SdlScreen::get_surface() { return draw_surface->pixels; }

void SdlScreen::fullscreen() {
  if (video_surface) SDL_WM_ToggleFullScreen(video_surface);
}

bool SdlScreen::lock() {
  if (SDL_MUSTLOCK(draw_surface) && SDL_LockSurface(draw_surface) < 0) {
    error("%s", SDL_GetError());
    return false;
  }
  return true;
}

bool SdlScreen::unlock() {
  if (SDL_MUSTLOCK(draw_surface)) SDL_UnlockSurface(draw_surface);
  return true;
}

void *SdlScreen::coords(int x, int y) {
  return (uint8_t *)draw_surface->pixels + (long)y * draw_surface->pitch + (long)x * 4;
}
