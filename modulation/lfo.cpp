#include "lfo.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace {

const char *const kShapes[] = {"sine", "triangle", "saw", "square", "random"};

bool good_name(const std::string &name) {
  if (name.empty() || name.size() > 64) return false;
  for (unsigned char c : name)
    if (!isalnum(c) && c != '_' && c != '-') return false;
  return true;
}

// "0.5hz", "2beats" ("1beat" too); false for anything else or <= 0.
bool parse_rate(const std::string &text, double &rate, bool &beats) {
  char *end = nullptr;
  errno = 0;
  rate = strtod(text.c_str(), &end);
  if (end == text.c_str() || errno || !std::isfinite(rate) || rate <= 0) return false;
  const std::string unit(end);
  beats = unit == "beats" || unit == "beat";
  return beats || unit == "hz";
}

// A well-mixed 64-bit number from the name and the period.
uint64_t mix(const std::string &name, int64_t period) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : name) h = (h ^ c) * 1099511628211ull;
  h ^= (uint64_t)period + 0x9e3779b97f4a7c15ull;
  h = (h ^ (h >> 30)) * 0xbf58476d1ce4e5b9ull;
  h = (h ^ (h >> 27)) * 0x94d049bb133111ebull;
  return h ^ (h >> 31);
}

}  // namespace

bool Lfo::parse(const std::string &text, Lfo &out, std::string &err) {
  std::istringstream in(text);
  std::vector<std::string> w;
  for (std::string s; in >> s;) w.push_back(s);
  if (w.size() != 3) {
    err = "--lfo wants 'NAME SHAPE RATE' (wobble sine 0.5hz), not '" + text + "'";
    return false;
  }
  Lfo l;
  if (!good_name(w[0])) {
    err = "--lfo " + w[0] + ": a name is letters, digits, _ and -";
    return false;
  }
  l.name = w[0];
  size_t i = 0;
  while (i < 5 && w[1] != kShapes[i]) i++;
  if (i == 5) {
    err = "--lfo " + w[0] + ": no shape " + w[1] + " (sine, triangle, saw, square, random)";
    return false;
  }
  l.shape = (LfoShape)i;
  if (!parse_rate(w[2], l.rate, l.beats)) {
    err = "--lfo " + w[0] + ": a rate is NNhz or NNbeats above 0, not " + w[2];
    return false;
  }
  out = l;
  return true;
}

std::string Lfo::text() const {
  std::ostringstream s;
  s.precision(10);
  s << name << " " << kShapes[(int)shape] << " " << rate << (beats ? "beats" : "hz");
  return s.str();
}

double Lfo::cycles(int64_t frame, int fps, double beat_position) const {
  return beats ? beat_position / rate : (double)frame * rate / fps;
}

double Lfo::at(double cycles) const {
  const double period = std::floor(cycles), p = cycles - period;
  switch (shape) {
    case LfoShape::sine: return 0.5 + 0.5 * std::sin(2 * M_PI * p);
    case LfoShape::triangle:
      return p < 0.25 ? 0.5 + 2 * p : p < 0.75 ? 1.5 - 2 * p : 2 * p - 1.5;
    case LfoShape::saw: return p;
    case LfoShape::square: return p < 0.5 ? 1 : 0;
    case LfoShape::random: return (double)(mix(name, (int64_t)period) >> 11) * 0x1p-53;
  }
  return 0;
}
