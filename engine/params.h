/*  Kolvex - parameters as data
 *
 *  Everything a user may change on an object (a layer, an effect, a blend,
 *  the OSD, a player) is declared once, as a table of rows next to the
 *  object's code: its name, type, range, default, unit, a line of help,
 *  whether it may change while playing, and how to read and write it.
 *  Whatever lists, parses, sets, records or draws a control works from
 *  these tables, so a new kind adds its table and nothing else.
 *
 *  Names are paths below the object ("alpha", "video/speed",
 *  "param/amount"): the player's tree puts the object's own path before
 *  them ("/layer/2/alpha").
 *
 *  Values. One value is up to three numbers and a text:
 *    number    num[0] in min..max
 *    integer   num[0], a whole number in min..max
 *    boolean   num[0], 0 or 1 (given as a number, or true/false, yes/no,
 *              on/off)
 *    choice    num[0], min for the first name of `choices`, min + 1 for the
 *              next, ...; given by its name (any case) or its number
 *    colour    num[0..2], red, green, blue in 0..1; or "#rrggbb"
 *    position  num[0..1], x and y, each in min..max
 *    text      text, up to `max` bytes
 *    trigger   an action; takes the optional numbers of `args`, in order,
 *              each in its own range (NaN in num[i] when not given)
 *  Numbers out of range are clamped (parse_param says so); NaN, infinities
 *  and wrong types are refused.
 */
#ifndef KOLVEX_PARAMS_H
#define KOLVEX_PARAMS_H

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

enum class ParamType { number, integer, boolean, choice, colour, position, text, trigger };

// One argument as users give it: OSC's numbers (any width) and strings, a
// show file's or a command line's words.
struct ParamArg {
  bool is_text = false;
  double num = 0;
  std::string text;
  static ParamArg number(double v) { return {false, v, ""}; }
  static ParamArg string(const std::string &s) { return {true, 0, s}; }
};
typedef std::vector<ParamArg> ParamArgs;

struct ParamValue {
  double num[3] = {0, 0, 0};
  std::string text;
  static ParamValue of(double v) {
    ParamValue p;
    p.num[0] = v;
    return p;
  }
  static ParamValue of(double x, double y) {
    ParamValue p;
    p.num[0] = x, p.num[1] = y;
    return p;
  }
  static ParamValue of_text(const std::string &t) {
    ParamValue p;
    p.text = t;
    return p;
  }
};

class Parametric;

// A trigger's optional number.
struct ParamExtra {
  std::string name;
  double min, max;
};

struct Param {
  Param() = default;
  Param(std::string name_, ParamType type_, double min_, double max_, double def_, std::string unit_,
        std::string help_, bool live_ = true, std::vector<std::string> choices_ = {},
        double step_ = 0, std::vector<ParamExtra> extras_ = {})
      : name(std::move(name_)), type(type_), min(min_), max(max_), def(def_),
        unit(std::move(unit_)), help(std::move(help_)), live(live_), choices(std::move(choices_)),
        step(step_), extras(std::move(extras_)) {}

  std::string name;
  ParamType type = ParamType::number;
  double min = 0, max = 1, def = 0;
  std::string unit;  // "s", "deg", "x", "px" or ""
  std::string help;  // one line
  bool live = true;  // false: set before the object starts, not while playing
  std::vector<std::string> choices;  // choice: names, from `min` on
  double step = 0;   // a key's step; 0: a twentieth of the range
  std::vector<ParamExtra> extras;    // trigger: its optional numbers
  // Null for a trigger (it has no value to read).
  std::function<ParamValue(const Parametric &)> get;
  std::function<void(Parametric &, const ParamValue &)> set;
  // What a status line tells after a change ("ALPHA 128", "hidden"); null:
  // the name's last word and the value ("speed 2x").
  std::function<std::string(const Parametric &)> tell;
};
typedef std::vector<Param> ParamTable;

// An object that has parameters. params() is the object's whole table
// (its base's rows, then its kind's), valid until the object changes what
// it has (a new blend, another plug-in); main thread only.
class Parametric {
 public:
  virtual ~Parametric() {}
  virtual const ParamTable &params() const = 0;
  // The row called `name`, or null. A row "G/NAME" of a group of rows with
  // the prefix "G/" is also found as "G/N", N its place in the group from 0
  // (a frei0r parameter by its number). An object with rows made on
  // demand finds those too.
  virtual const Param *param(const std::string &name) const;
};

// A row whose getter and setter take the object as the class T that
// declares it: tables are written with captureless lambdas,
//   row<VideoLayer>({"video/speed", ParamType::number, 0.1, 10, 1, "x", "..."},
//                   [](const VideoLayer &v) { return ParamValue::of(v.speed()); },
//                   [](VideoLayer &v, const ParamValue &x) { v.set_speed(x.num[0]); })
template <class T>
Param row(Param p, ParamValue (*get)(const T &), void (*set)(T &, const ParamValue &),
          std::string (*tell)(const T &) = nullptr) {
  if (get) p.get = [get](const Parametric &o) { return get(static_cast<const T &>(o)); };
  if (set) p.set = [set](Parametric &o, const ParamValue &v) { set(static_cast<T &>(o), v); };
  if (tell) p.tell = [tell](const Parametric &o) { return tell(static_cast<const T &>(o)); };
  return p;
}

enum class ParamParse { ok, clamped, bad };

// `args` read as a value of `p` (clamped into its range: `clamped`); `bad`
// with what it wants in `why` ("wants a number from 0 to 1").
ParamParse parse_param(const Param &p, const ParamArgs &args, ParamValue &out, std::string &why);
// What a row wants, as a refusal says it ("wants a number from 0.1 to 10").
std::string param_wants(const Param &p);
// A value as arguments that parse_param takes back to the same value (a
// record, a reply): numbers as numbers, a choice by its name, a text as text.
ParamArgs param_args(const Param &p, const ParamValue &v);
// A value as the OSD tells it ("0.5", "ADD", "#ff8000", "10 20", "on").
std::string format_param(const Param &p, const ParamValue &v);
// The value `dir` steps from `v` (a key): a number or integer by its step,
// clamped; a choice to the next name, round; a boolean flipped.
ParamValue step_param(const Param &p, const ParamValue &v, int dir);
// "number", "choice", ... and the range as --list-controls shows it
// ("0.1..10 x", "RGB BLU ...", "[target 0..1] [seconds 0..3600]").
const char *param_type_name(ParamType t);
std::string param_range(const Param &p);
// A whole table, one row a line: NAME TYPE RANGE HELP, each name after
// `prefix`.
void print_params(FILE *out, const std::string &prefix, const ParamTable &t);

#endif
