#include "params.h"

#include <strings.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace {

std::string fmt(double v) {
  char buf[32];
  snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

// A number from one argument (OSC's, or text that is one); NaN and
// infinities are refused.
bool number_arg(const ParamArg &a, double &out) {
  double v = a.num;
  if (a.is_text) {
    const char *s = a.text.c_str();
    char *end = nullptr;
    errno = 0;
    v = strtod(s, &end);
    if (!*s || *end || errno == ERANGE) return false;
  }
  if (!std::isfinite(v)) return false;
  out = v;
  return true;
}

bool boolean_arg(const ParamArg &a, double &out) {
  if (!a.is_text) {
    if (std::isnan(a.num)) return false;
    out = a.num != 0;
    return true;
  }
  for (const char *yes : {"true", "yes", "on", "1"})
    if (strcasecmp(a.text.c_str(), yes) == 0) return out = 1, true;
  for (const char *no : {"false", "no", "off", "0"})
    if (strcasecmp(a.text.c_str(), no) == 0) return out = 0, true;
  return false;
}

// v clamped to lo..hi; `clamped` set when it was outside.
double clamp(double v, double lo, double hi, bool &clamped) {
  if (v < lo) return clamped = true, lo;
  if (v > hi) return clamped = true, hi;
  return v;
}

int hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool hex_colour(const std::string &s, double rgb[3]) {
  if (s.size() != 7 || s[0] != '#') return false;
  for (int i = 0; i < 3; i++) {
    const int hi = hex(s[1 + 2 * i]), lo = hex(s[2 + 2 * i]);
    if (hi < 0 || lo < 0) return false;
    rgb[i] = (hi * 16 + lo) / 255.0;
  }
  return true;
}

}  // namespace

std::string param_wants(const Param &p) {
  switch (p.type) {
    case ParamType::number: return "wants a number from " + fmt(p.min) + " to " + fmt(p.max);
    case ParamType::integer: return "wants a whole number from " + fmt(p.min) + " to " + fmt(p.max);
    case ParamType::boolean: return "wants true or false";
    case ParamType::choice: return "wants one of " + param_range(p);
    case ParamType::colour: return "wants a colour: R G B from 0 to 1, or #rrggbb";
    case ParamType::position: return "wants X Y from " + fmt(p.min) + " to " + fmt(p.max);
    case ParamType::text: return "wants a text";
    case ParamType::trigger: return p.extras.empty() ? "takes no value" : "takes " + param_range(p);
  }
  return "";
}

const Param *Parametric::param(const std::string &name) const {
  const ParamTable &t = params();
  for (const Param &p : t)
    if (p.name == name) return &p;
  // "G/N": the Nth row of the group "G/".
  const size_t slash = name.rfind('/');
  if (slash == std::string::npos) return nullptr;
  const std::string group = name.substr(0, slash + 1), n = name.substr(slash + 1);
  if (n.empty() || n.size() > 4 || n.find_first_not_of("0123456789") != std::string::npos)
    return nullptr;
  long index = strtol(n.c_str(), nullptr, 10);
  for (const Param &p : t)
    if (p.name.compare(0, group.size(), group) == 0 && index-- == 0) return &p;
  return nullptr;
}

ParamParse parse_param(const Param &p, const ParamArgs &args, ParamValue &out, std::string &why) {
  out = ParamValue();
  bool clamped = false;
  auto bad = [&]() {
    why = param_wants(p);
    return ParamParse::bad;
  };
  const size_t given = args.size();
  switch (p.type) {
    case ParamType::number:
    case ParamType::integer: {
      if (given != 1 || !number_arg(args[0], out.num[0])) return bad();
      if (p.type == ParamType::integer) out.num[0] = std::round(out.num[0]);
      out.num[0] = clamp(out.num[0], p.min, p.max, clamped);
      break;
    }
    case ParamType::boolean:
      if (given != 1 || !boolean_arg(args[0], out.num[0])) return bad();
      break;
    case ParamType::choice: {
      if (given != 1) return bad();
      double v;
      if (args[0].is_text) {
        for (size_t i = 0; i < p.choices.size(); i++)
          if (strcasecmp(args[0].text.c_str(), p.choices[i].c_str()) == 0) {
            out.num[0] = p.min + (double)i;
            return ParamParse::ok;
          }
      }
      if (!number_arg(args[0], v) || v != std::floor(v) || v < p.min ||
          v >= p.min + (double)p.choices.size())
        return bad();
      out.num[0] = v;
      break;
    }
    case ParamType::colour:
      if (given == 1 && args[0].is_text && hex_colour(args[0].text, out.num)) break;
      if (given != 3) return bad();
      for (int i = 0; i < 3; i++) {
        if (!number_arg(args[i], out.num[i])) return bad();
        out.num[i] = clamp(out.num[i], 0, 1, clamped);
      }
      break;
    case ParamType::position:
      if (given != 2) return bad();
      for (int i = 0; i < 2; i++) {
        if (!number_arg(args[i], out.num[i])) return bad();
        out.num[i] = clamp(out.num[i], p.min, p.max, clamped);
      }
      break;
    case ParamType::text:
      if (given != 1 || !args[0].is_text) return bad();
      out.text = args[0].text;
      if (out.text.size() > (size_t)p.max) out.text.resize((size_t)p.max), clamped = true;
      break;
    case ParamType::trigger:
      if (given > p.extras.size() || given > 3) return bad();
      for (size_t i = 0; i < 3; i++) out.num[i] = NAN;
      for (size_t i = 0; i < given; i++) {
        if (!number_arg(args[i], out.num[i])) return bad();
        out.num[i] = clamp(out.num[i], p.extras[i].min, p.extras[i].max, clamped);
      }
      break;
  }
  return clamped ? ParamParse::clamped : ParamParse::ok;
}

ParamArgs param_args(const Param &p, const ParamValue &v) {
  switch (p.type) {
    case ParamType::choice: {
      const long i = std::lround(v.num[0] - p.min);
      if (i >= 0 && (size_t)i < p.choices.size()) return {ParamArg::string(p.choices[(size_t)i])};
      return {ParamArg::number(v.num[0])};
    }
    case ParamType::colour:
      return {ParamArg::number(v.num[0]), ParamArg::number(v.num[1]), ParamArg::number(v.num[2])};
    case ParamType::position: return {ParamArg::number(v.num[0]), ParamArg::number(v.num[1])};
    case ParamType::text: return {ParamArg::string(v.text)};
    case ParamType::trigger: {
      ParamArgs out;
      for (size_t i = 0; i < p.extras.size() && i < 3 && !std::isnan(v.num[i]); i++)
        out.push_back(ParamArg::number(v.num[i]));
      return out;
    }
    default: return {ParamArg::number(v.num[0])};
  }
}

std::string format_param(const Param &p, const ParamValue &v) {
  switch (p.type) {
    case ParamType::boolean: return v.num[0] != 0 ? "on" : "off";
    case ParamType::choice: {
      const ParamArg a = param_args(p, v)[0];
      return a.is_text ? a.text : fmt(a.num);
    }
    case ParamType::colour: {
      char buf[8];
      int c[3];
      bool ignored = false;
      for (int i = 0; i < 3; i++) c[i] = (int)std::lround(clamp(v.num[i], 0, 1, ignored) * 255);
      snprintf(buf, sizeof buf, "#%02x%02x%02x", c[0], c[1], c[2]);
      return buf;
    }
    case ParamType::position: return fmt(v.num[0]) + " " + fmt(v.num[1]);
    case ParamType::text: return v.text;
    case ParamType::trigger: return "";
    default: {
      char buf[32];
      snprintf(buf, sizeof buf, "%.4g", v.num[0]);
      return buf + p.unit;
    }
  }
}

ParamValue step_param(const Param &p, const ParamValue &v, int dir) {
  ParamValue out = v;
  bool clamped = false;
  switch (p.type) {
    case ParamType::number:
    case ParamType::integer: {
      double step = p.step > 0 ? p.step : (p.max - p.min) / 20;
      if (p.type == ParamType::integer && step < 1) step = 1;
      out.num[0] = clamp(v.num[0] + step * dir, p.min, p.max, clamped);
      break;
    }
    case ParamType::boolean: out.num[0] = dir ? (v.num[0] != 0 ? 0 : 1) : v.num[0]; break;
    case ParamType::choice: {
      const long n = (long)p.choices.size();
      if (n == 0) break;
      const long i = std::lround(v.num[0] - p.min);
      out.num[0] = p.min + (double)(((i + dir) % n + n) % n);
      break;
    }
    default: break;
  }
  return out;
}

const char *param_type_name(ParamType t) {
  switch (t) {
    case ParamType::number: return "number";
    case ParamType::integer: return "integer";
    case ParamType::boolean: return "boolean";
    case ParamType::choice: return "choice";
    case ParamType::colour: return "colour";
    case ParamType::position: return "position";
    case ParamType::text: return "text";
    case ParamType::trigger: return "trigger";
  }
  return "";
}

std::string param_range(const Param &p) {
  std::string out;
  switch (p.type) {
    case ParamType::number:
    case ParamType::integer:
    case ParamType::position:
      return fmt(p.min) + ".." + fmt(p.max) + (p.unit.empty() ? "" : " " + p.unit);
    case ParamType::choice:
      for (const std::string &c : p.choices) out += (out.empty() ? "" : " ") + c;
      return out;
    case ParamType::colour: return "R G B 0..1, #rrggbb";
    case ParamType::text: return "up to " + fmt(p.max) + " bytes";
    case ParamType::trigger:
      for (const ParamExtra &e : p.extras)
        out += (out.empty() ? "[" : " [") + e.name + " " + fmt(e.min) + ".." + fmt(e.max) + "]";
      return out.empty() ? "-" : out;
    default: return "-";
  }
}

void print_params(FILE *out, const std::string &prefix, const ParamTable &t) {
  for (const Param &p : t) {
    const std::string name = prefix + p.name;
    const std::string range = param_range(p);
    const char *help_at = range.size() > 24 ? "\n                                         " : " ";
    fprintf(out, "%-30s %-8s %-24s%s%s%s\n", name.c_str(), param_type_name(p.type), range.c_str(),
            help_at, p.help.c_str(), p.live ? "" : " (set before it starts)");
  }
}
