/*  Kolvex - frei0r plug-ins
 *
 *  frei0r is the video plug-in standard hosted by most video programs on
 *  this platform: filters, sources and mixers in shared objects, each
 *  exporting the f0r_* functions of <frei0r.h>. This module finds them,
 *  reads what each one is, parses the settings users give, and runs
 *  instances of them over our frames. The engine's adaptors (a filter on a
 *  layer, a source layer, a mixer as a blend) are built on it.
 *
 *  Names. A frei0r plug-in is reached as "frei0r." and its file's name
 *  without ".so": invert0r.so is "frei0r.invert0r" (the plug-in calls
 *  itself "Invert0r"; some call themselves with blanks, file names have
 *  none). Case does not matter. The prefix keeps them apart from our own
 *  plug-ins: "vertigo" is ours, "frei0r.vertigo" frei0r's.
 *
 *  Settings follow the name after a colon, "frei0r.NAME:PARAM=VALUE,...".
 *  A parameter is named as the plug-in names it, in lower case, each run of
 *  characters other than letters and digits written as one "-" ("Red
 *  value" is "red-value"), apostrophes left out ("Don't" is "dont"); its
 *  index (0, 1, ...) also works. Values:
 *    number    0.25 (frei0r's range is 0..1; the value goes through as given)
 *    boolean   true, false, yes, no, on, off, 1, 0
 *    colour    #RRGGBB, or R/G/B with each part 0..1
 *    position  X/Y, each 0..1
 *    string    any text; "\," stands for a comma, "\\" for a backslash
 *
 *  Where they are looked for: the directories of FREI0R_PATH (joined with
 *  ':') when it is set, else $HOME/.frei0r-1/lib, /usr/local/lib/frei0r-1,
 *  the distribution's multiarch directory (/usr/lib/x86_64-linux-gnu/
 *  frei0r-1 here) and /usr/lib/frei0r-1; in each, the directory itself and
 *  its vendor folders one level down. The first place holding a name wins.
 *  A file that cannot be hosted (not loadable, symbols missing, f0r_init
 *  failing, a newer frei0r, an unknown type or colour model, a mixer of
 *  three inputs) is skipped with a line at the most verbose log level.
 *
 *  Loaded files stay loaded until the process ends, as our own plug-ins do:
 *  f0r_init runs once per file and no instance outlives its code.
 */
#ifndef KOLVEX_FREI0R_HOST_H
#define KOLVEX_FREI0R_HOST_H

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#define KOLVEX_FREI0R_PREFIX "frei0r."

enum class Frei0rKind { filter, source, mixer };
enum class Frei0rModel { bgra, rgba, packed };  // frei0r's colour models

struct Frei0rParam {
  std::string name;         // as the plug-in gives it
  std::string key;          // the name to use (see above)
  int type;                 // F0R_PARAM_*: 0 bool, 1 number, 2 colour, 3 position, 4 string
  std::string explanation;
};

// A parameter's value, whatever its type.
struct Frei0rValue {
  int type = 1;
  double number = 0;          // bool (0 or 1) and number
  float rgb[3] = {0, 0, 0};   // colour: red, green, blue, 0..1
  double xy[2] = {0, 0};      // position
  std::string text;           // string
};

struct Frei0rSetting {
  int index;
  Frei0rValue value;
};

// One loaded frei0r file and what it says it is.
class Frei0rPlugin {
 public:
  // Loads `path` (once per process), checks it can be hosted: the plug-in,
  // or null with the reason in `why`.
  static const Frei0rPlugin *load(const std::string &path, std::string &why);

  std::string path;
  std::string key;          // "invert0r": the name to use without the prefix
  std::string name, author, explanation;
  Frei0rKind kind;
  Frei0rModel model;
  int version_major, version_minor;
  std::vector<Frei0rParam> params;

  std::string use_name() const { return KOLVEX_FREI0R_PREFIX + key; }
  int param_index(const std::string &key_or_index) const;  // -1 when none
  // The value an instance starts with (it asks a fresh one).
  bool default_value(int index, Frei0rValue &out) const;

  // The entry points (f0r_*), typed without <frei0r.h>.
  void *(*construct)(unsigned, unsigned);
  void (*destruct)(void *);
  void (*set_param)(void *, void *, int);
  void (*get_param)(void *, void *, int);
  void (*update)(void *, double, const uint32_t *, uint32_t *);
  void (*update2)(void *, double, const uint32_t *, const uint32_t *, const uint32_t *,
                  uint32_t *);

 private:
  Frei0rPlugin() = default;
  void *handle_ = nullptr;
};

// "frei0r.NAME[:SETTINGS]": true with NAME (lower case) and SETTINGS apart;
// false when `asked` does not start with the prefix.
bool split_frei0r_name(const char *asked, std::string &key, std::string &settings);

// "PARAM=VALUE,..." against the plug-in's parameters; false with one line
// in `why` naming the part that is wrong.
bool parse_frei0r_settings(const Frei0rPlugin &p, const std::string &text,
                           std::vector<Frei0rSetting> &out, std::string &why);

// A value as settings write it (0.25, true, #ff8000, 0.5/0.5, text).
std::string format_frei0r_value(const Frei0rValue &v);
const char *frei0r_type_name(int type);  // "number", "boolean", ...
const char *frei0r_kind_name(Frei0rKind kind);  // "filter", "source", "mixer"

// Where frei0r plug-ins are looked for.
class Frei0rLibrary {
 public:
  Frei0rLibrary();  // FREI0R_PATH, else the standard places
  explicit Frei0rLibrary(std::vector<std::string> dirs);
  const std::vector<std::string> &dirs() const { return dirs_; }

  // The plug-in `key` (the name without the prefix); null with `why`.
  const Frei0rPlugin *find(const std::string &key, std::string &why) const;
  // "frei0r.NAME:SETTINGS" checked through: the plug-in of that kind with
  // its settings parsed, or null with one line in `why`.
  const Frei0rPlugin *resolve(const char *asked, Frei0rKind kind,
                              std::vector<Frei0rSetting> &settings, std::string &why) const;
  // Every plug-in that can be hosted, by name; the others logged.
  std::vector<const Frei0rPlugin *> all() const;

 private:
  std::vector<std::string> files() const;  // every "*.so", places in order
  std::vector<std::string> dirs_;
};

// One instance of a plug-in, made at the size of the frames it is given
// and made again when that size changes, with the settings it has. Frames
// are ours (bytes blue, green, red, fourth; any width and address); the
// instance converts, pads to frei0r's multiples of 8 and aligns only where
// the plug-in needs it: a BGRA8888 or PACKED32 plug-in on frames whose
// sizes are multiples of 8 reads our frame where it lies.
// Not thread-safe: one thread at a time.
class Frei0rInstance {
 public:
  Frei0rInstance(const Frei0rPlugin &plugin, std::vector<Frei0rSetting> settings);
  ~Frei0rInstance();
  Frei0rInstance(const Frei0rInstance &) = delete;
  Frei0rInstance &operator=(const Frei0rInstance &) = delete;

  const Frei0rPlugin &plugin() const { return plugin_; }

  // One w x h picture made at `time` (seconds): a filter's from `in`, a
  // mixer's from `in1` and `in2` (pitches in bytes), a source's from
  // nothing. The result is w x h, w * 4 bytes a line, valid until the next
  // call; null when the plug-in cannot be run at this size (logged once).
  const uint8_t *filter(double time, int w, int h, const uint8_t *in, int pitch);
  const uint8_t *mix(double time, int w, int h, const uint8_t *in1, int pitch1,
                     const uint8_t *in2, int pitch2);
  const uint8_t *generate(double time, int w, int h);

  // Live changes: the settings in force, one parameter stepped by `dir`
  // twentieths of its range (a boolean flips, a string stays; 0 changes
  // nothing), a line telling its value ("amount 0.55"); set() replaces one
  // value.
  const std::vector<Frei0rSetting> &settings() const { return settings_; }
  std::string step(int index, int dir);
  void set(const Frei0rSetting &s);
  // A parameter's value as set, else the plug-in's default (never read from
  // the running instance: safe beside the thread that runs it).
  Frei0rValue value(int index) const;

 private:
  struct Buffer {
    void operator()(uint8_t *p) const { free(p); }
  };
  typedef std::unique_ptr<uint8_t, Buffer> Frame;

  bool ready(int w, int h);
  const uint8_t *stage(int slot, const uint8_t *in, int pitch);
  const uint8_t *finish();
  void apply(const Frei0rSetting &s);

  const Frei0rPlugin &plugin_;
  std::vector<Frei0rSetting> settings_;
  void *instance_ = nullptr;
  int w_ = 0, h_ = 0, pw_ = 0, ph_ = 0;  // frame size, padded size
  bool refused_ = false;                 // this size cannot be run: told once
  Frame in_[2], out_;
};

#endif
