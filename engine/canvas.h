/*  Kolvex - the canvas
 *
 *  The picture a show is made for: its size in canvas pixels (the size it
 *  was played and recorded at) and where it lies on the screen. Shown on a
 *  screen of another size, everything scales by one factor, `scale`
 *  screen pixels per canvas pixel: letterboxed by default (the whole
 *  canvas seen, centred, black bars where the aspects differ), or filling
 *  the screen with what overhangs cut off. Layers draw only inside the
 *  canvas's rectangle on the screen.
 *
 *  Without a canvas of its own a program's canvas is its screen: scale 1,
 *  at 0,0, and nothing changes.
 */
#ifndef KOLVEX_CANVAS_H
#define KOLVEX_CANVAS_H

struct Canvas {
  int w = 0, h = 0;        // canvas pixels
  double scale = 1.0;      // screen pixels per canvas pixel
  int x = 0, y = 0;        // top-left of the canvas on the screen (< 0 when filling)
  int screen_w = 0;        // the canvas's size on the screen: w, h scaled
  int screen_h = 0;
  bool fill = false;       // covers the screen, cropped; else letterboxed

  // A canvas of w x h (0: the screen's) on a screen of sw x sh.
  static Canvas place(int w, int h, int sw, int sh, bool fill);

  // Canvas pixels to screen pixels: a length, and a point.
  int scaled(double n) const;
  int to_screen_x(double cx) const { return x + scaled(cx); }
  int to_screen_y(double cy) const { return y + scaled(cy); }
  // The whole multiple a pixel-art picture (a bitmap font) is drawn at:
  // the largest not above the scale, at least 1.
  int zoom() const;
};

#endif
