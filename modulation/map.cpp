#include "map.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace {

const char *const kCurves[] = {"linear", "exp", "log", "step"};

bool number(const std::string &s, double &out) {
  char *end = nullptr;
  errno = 0;
  out = strtod(s.c_str(), &end);
  return !s.empty() && !*end && !errno && std::isfinite(out);
}

int curve_named(const std::string &s) {
  for (int i = 0; i < 4; i++)
    if (s == kCurves[i]) return i;
  return -1;
}

}  // namespace

double curve_value(Curve c, double x) {
  x = x < 0 ? 0 : x > 1 ? 1 : x;
  const double e4 = std::exp(4.0) - 1;
  switch (c) {
    case Curve::linear: return x;
    case Curve::exp: return (std::exp(4 * x) - 1) / e4;
    case Curve::log: return std::log1p(x * e4) / 4;
    case Curve::step: return x < 0.5 ? 0 : 1;
  }
  return x;
}

bool Map::parse(const std::string &text, Map &out, std::string &err) {
  std::istringstream in(text);
  std::vector<std::string> w;
  for (std::string s; in >> s;) w.push_back(s);
  if (w.size() < 2 || w[1][0] != '/') {
    err = "wants SOURCE PATH [MIN MAX] [CURVE] [smooth SECONDS]";
    return false;
  }
  Map m;
  m.source = w[0];
  m.path = w[1];
  size_t i = 2;
  double a, b;
  if (i < w.size() && number(w[i], a)) {
    if (i + 1 >= w.size() || !number(w[i + 1], b)) {
      err = "MIN " + w[i] + " wants its MAX after it";
      return false;
    }
    m.ranged = true, m.min = a, m.max = b;
    i += 2;
  }
  if (i < w.size() && w[i] != "smooth") {
    const int c = curve_named(w[i]);
    if (c < 0) {
      err = "no curve " + w[i] + " (linear, exp, log, step)";
      return false;
    }
    m.curve = (Curve)c;
    i++;
  }
  if (i < w.size() && w[i] == "smooth") {
    if (i + 1 >= w.size() || !number(w[i + 1], m.smooth) || m.smooth < 0 || m.smooth > 3600) {
      err = "smooth wants SECONDS from 0 to 3600";
      return false;
    }
    i += 2;
  }
  if (i < w.size()) {
    err = "unexpected " + w[i] + " (SOURCE PATH [MIN MAX] [CURVE] [smooth SECONDS])";
    return false;
  }
  out = m;
  return true;
}

std::string Map::text() const {
  std::ostringstream s;
  s.precision(10);
  s << source << " " << path;
  if (ranged) s << " " << min << " " << max;
  if (curve != Curve::linear) s << " " << kCurves[(int)curve];
  if (smooth > 0) s << " smooth " << smooth;
  return s.str();
}

bool mappable(const Param &p, const std::string &path, std::string &why) {
  switch (p.type) {
    case ParamType::number:
    case ParamType::integer:
    case ParamType::boolean:
    case ParamType::choice:
    case ParamType::trigger:
      if (p.live) return true;
      why = path + " is set before the show starts: a map drives what may change while playing";
      return false;
    default:
      why = path + " is a " + param_type_name(p.type) +
            ": a map drives a number, an integer, a boolean, a choice or a trigger";
      return false;
  }
}

MapRun::MapRun(const Map &map, int fps) : map_(map) {
  keep_ = map.smooth > 0 ? std::exp(-1.0 / (fps * map.smooth)) : 0;
}

bool MapRun::next(double x, const Param &p, ParamArgs &out) {
  const double c = curve_value(map_.curve, x);
  y_ = started_ ? c + (y_ - c) * keep_ : c;
  started_ = true;
  out.clear();
  if (p.type == ParamType::trigger) {
    const bool was = high_;
    high_ = y_ >= 0.5;
    return high_ && !was;
  }
  double lo = p.min, hi = p.max;
  if (p.type == ParamType::boolean) lo = 0, hi = 1;
  if (p.type == ParamType::choice) hi = p.min + (double)p.choices.size() - 1;
  if (map_.ranged) lo = map_.min, hi = map_.max;
  double v = lo + y_ * (hi - lo);
  if (p.type == ParamType::integer || p.type == ParamType::choice) v = std::round(v);
  if (p.type == ParamType::boolean) v = v > 0.5 ? 1 : 0;
  if (set_once_ && v == last_) return false;
  set_once_ = true;
  last_ = v;
  out.push_back(ParamArg::number(v));
  return true;
}
