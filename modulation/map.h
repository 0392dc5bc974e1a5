/*  Kolvex modulation - a source mapped onto a parameter
 *
 *    SOURCE PATH [MIN MAX] [CURVE] [smooth SECONDS]
 *
 *  The source's value x (0..1) goes through the curve c(x):
 *    linear  x
 *    exp     (e^(4x) - 1) / (e^4 - 1)    slow, then fast
 *    log     ln(1 + x (e^4 - 1)) / 4     exp's inverse: fast, then slow
 *    step    0 below 0.5, 1 from 0.5
 *  then, with smooth, through a one-pole low-pass of time constant SECONDS,
 *  exact per frame: y += (c - y)(1 - e^(-1 / (fps SECONDS))). What the
 *  parameter gets, by its type (MIN MAX default to its range, and may be
 *  reversed to invert):
 *    number   MIN + y (MAX - MIN)
 *    integer  the same, rounded
 *    boolean  1 when MIN + y (MAX - MIN) > 0.5
 *    choice   by index, rounded (the range defaults to its choices)
 *    trigger  fired when y rises through 0.5 (from below to 0.5 or more)
 *  Colours, positions and texts take no map.
 */
#ifndef KOLVEX_MODULATION_MAP_H
#define KOLVEX_MODULATION_MAP_H

#include <string>

#include "params.h"

enum class Curve { linear, exp, log, step };

double curve_value(Curve c, double x);  // x clamped to 0..1

struct Map {
  std::string source, path;
  bool ranged = false;  // MIN MAX given
  double min = 0, max = 1;
  Curve curve = Curve::linear;
  double smooth = 0;  // seconds, 0: none

  // The text's form only (whether SOURCE and PATH exist is the caller's);
  // false with what is wrong in `err`.
  static bool parse(const std::string &text, Map &out, std::string &err);
  std::string text() const;  // as parse() takes it back
};

// Whether a map can drive `p` at `path`; else `why` says what it is
// ("/osd/top is a text: a map drives ...").
bool mappable(const Param &p, const std::string &path, std::string &why);

// One map's state from frame to frame: the smoothing, the value it last
// set, a trigger's edge.
class MapRun {
 public:
  MapRun(const Map &map, int fps);
  // The source's value this frame; false when there is nothing to set
  // (the same value as last set, a trigger without its edge).
  bool next(double x, const Param &p, ParamArgs &out);

 private:
  Map map_;
  double keep_ = 0;  // the low-pass's share of the old value each frame
  bool started_ = false;
  double y_ = 0;
  bool set_once_ = false;
  double last_ = 0;  // the number last set
  bool high_ = false;  // a trigger's input at 0.5 or more
};

#endif
