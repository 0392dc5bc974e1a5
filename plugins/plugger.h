/*  Kolvex - effect plug-ins
 *
 *  Plugin: one loaded shared object and its entry points.
 *  Filter: a Plugin that is also a list Entry, to sit in a layer's filters.
 *  Plugger: the registry of every plug-in found in the plug-in directory.
 *
 *  The interface a plug-in implements is <kolvex/plugin.h>.
 */
#ifndef KOLVEX_PLUGGER_H
#define KOLVEX_PLUGGER_H

#include <SDL.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "frei0r_host.h"
#include "geometry.h"
#include "linklist.h"
#include "params.h"

#define MAX_PLUGINS 144

// Where installed plug-ins live; the working directory is the fallback.
#define KOLVEX_PLUGIN_DIR "/usr/local/share/orvanta"
// A file is taken for a plug-in when its name contains this.
#define KOLVEX_PLUGIN_TAG "-darwin.so"

class Layer;

int dummy_kbd_input(SDL_keysym *key);

class Plugin {
 public:
  Plugin();
  ~Plugin();

  int open(const char *path);              // 1 loaded and valid, 0 otherwise
  void *operator[](const char *symbol);    // dlsym, null (and a warning) if missing
  const char *getname() { return name; }
  int init(ScreenGeometry *geo);
  void *process(void *frame);
  int kbd_input(SDL_keysym *key);
  void _delete();

  int (*init_f)(ScreenGeometry *);
  int (*clean_f)();
  void *(*process_f)(void *);
  int (*kbd_input_f)(SDL_keysym *);
  void *handle;
  const char *name;
  const char *author;
  const char *info;
  uint32_t version;
  char *path;

 private:
  Plugin(const Plugin &) = delete;
  Plugin &operator=(const Plugin &) = delete;
};

class Filter : public Plugin, public Entry, public Parametric {
 public:
  Filter();
  virtual ~Filter();

  // The frame step's call, once per drawn frame of `layer`: our plug-ins'
  // process(). Filters that are not our plug-ins (a frei0r one) put their
  // own work here; the plug-in interface stays as it is.
  virtual void *run(void *frame, Layer &layer);
  // Whether run() may change its frame in place: the chain then hands it a
  // copy rather than the layer's own frame.
  virtual bool changes_input() const { return true; }
  // A key for the filter: our plug-ins' kbd_input(); non-zero when used.
  // `said`, when the filter tells what changed, gets one short line.
  virtual int key(SDL_keysym *key, std::string &said);
  // Parameters (params.h): "active", then the kind's own.
  const ParamTable &params() const final;
  virtual const ParamTable &kind_params() const;
  static const ParamTable &base_params();  // "active", for lists

  int reserved;
  int active;
  int in_use;
  bool warned_null;  // a null frame from process() was logged already

 private:
  mutable ParamTable params_;
};

// Only the first directory of the search path is ever scanned.
class Plugger {
 public:
  Plugger();  // KOLVEX_PLUGIN_DIR, then "./"
  // The same with directories of the caller's choosing, in this order
  // (tests use it to keep the system directory out of the way).
  explicit Plugger(std::initializer_list<const char *> dirs);
  ~Plugger();

  // Loads every plug-in of the first search directory, last name first.
  // A "dir/name" longer than 254 characters is refused with an error, and
  // a plug-in that finds no free slot is closed again. A file registered
  // already (the same "dir/name") is not opened again, so a second refresh
  // adds only new files. 0 on success, -1 on failure. Registered filters
  // stay loaded until the process ends.
  int refresh();
  // Makes `dir` the one search directory, for a program that names its own
  // (the next refresh() scans it); null leaves none. False, the path
  // unchanged, when `dir` cannot be opened or is too long.
  bool set_search_dir(const char *dir);
  Filter *pick(const char *name);  // case-insensitive, null if none
  // A filter for a name users give: "frei0r.NAME[:SETTINGS]" makes a
  // frei0r filter for this one use (frei0r_host.h), kept by the registry
  // while it lives; any other name is pick()ed and must not be in use.
  // Null with one line in `err`.
  Filter *pick(const char *asked, std::string &err);
  Frei0rLibrary frei0r;  // where frei0r plug-ins are looked for
  Filter *operator[](int i);     // null when empty or in use
  int close() { return _delete(); }

  int _delete();
  int _add_plug(Filter *f);      // 1 stored, 0 when every slot is taken
  // Adds an existing directory; one that would make the search path longer
  // than 1023 characters is refused with an error.
  void _addsearchdir(const char *dir);
  bool _dircheck(const char *dir);
  bool _filecheck(const char *path);
  bool _registered(const char *path);  // a slot holds a filter from `path`
  char *_getsearchpath() { return search_path; }

  Filter *slots[MAX_PLUGINS];
  char *search_path;

 private:
  std::vector<std::unique_ptr<Filter>> made_;  // frei0r filters picked
  Plugger(const Plugger &) = delete;
  Plugger &operator=(const Plugger &) = delete;
};

#endif
