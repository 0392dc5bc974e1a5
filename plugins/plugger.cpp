#include "plugger.h"

#include <dirent.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <type_traits>
#include <vector>

#include "frei0r_effects.h"
#include "jutils.h"
#include "plugin.h"

// The host calls the entry points through these pointers: they must have
// the types the plug-in interface declares.
static_assert(std::is_same<decltype(&::init), decltype(Plugin::init_f)>::value, "init");
static_assert(std::is_same<decltype(&::clean), decltype(Plugin::clean_f)>::value, "clean");
static_assert(std::is_same<decltype(&::process), decltype(Plugin::process_f)>::value, "process");
static_assert(std::is_same<decltype(&::kbd_input), decltype(Plugin::kbd_input_f)>::value,
              "kbd_input");

namespace {

const size_t kFilePathSize = 255;     // "dir/name" of one plug-in file
const size_t kSearchPathSize = 1024;  // directories joined with ':'

const char *or_null(const char *s) { return s ? s : "(null)"; }

// Registered filters are never unloaded: a layer may still hold one when
// the registry goes away. Keeping them here makes that lifetime explicit
// (and keeps them reachable for leak checkers).
std::vector<Filter *> &resident() {
  static std::vector<Filter *> *filters = new std::vector<Filter *>();
  return *filters;
}

int selector(const struct dirent *entry) {
  return strstr(entry->d_name, KOLVEX_PLUGIN_TAG) != nullptr;
}

}  // namespace

int dummy_kbd_input(SDL_keysym *) { return 0; }

// ---------------------------------------------------------------------------
// Plugin
// ---------------------------------------------------------------------------
Plugin::Plugin()
    : init_f(nullptr),
      clean_f(nullptr),
      process_f(nullptr),
      kbd_input_f(nullptr),
      handle(nullptr),
      name(nullptr),
      author(nullptr),
      info(nullptr),
      version(0),
      path(nullptr) {}

Plugin::~Plugin() { _delete(); }

void *Plugin::operator[](const char *symbol) {
  if (!handle) return nullptr;
  dlerror();  // a symbol may be null by value: only a fresh error counts
  void *sym = dlsym(handle, symbol);
  if (!sym) {
    const char *why = dlerror();
    warning("Plugin::%s[%s] %s", or_null(name), symbol, why ? why : "null symbol");
  }
  return sym;
}

int Plugin::open(const char *file) {
  if (handle) _delete();  // reopening must not leak the old handle
  handle = dlopen(file, RTLD_NOW);
  if (!handle) {
    warning("can't open plugin: %s", dlerror());
    return 0;
  }

  typedef const char *(*text_fn)();
  typedef uint32_t (*word_fn)();
  if (void *f = (*this)["getname"]) name = ((text_fn)f)();
  if (void *f = (*this)["getauthor"]) author = ((text_fn)f)();
  if (void *f = (*this)["getinfo"]) info = ((text_fn)f)();
  void *v = (*this)["getversion"];
  version = v ? ((word_fn)v)() : 0;

  func("Opened plugin %s from %s with handle %p", or_null(name), file, handle);

  init_f = (int (*)(ScreenGeometry *))(*this)["init"];
  clean_f = (int (*)())(*this)["clean"];
  process_f = (void *(*)(void *))(*this)["process"];
  kbd_input_f = (int (*)(SDL_keysym *))(*this)["kbd_input"];
  if (!kbd_input_f) kbd_input_f = dummy_kbd_input;

  if (init_f && clean_f && process_f) {
    path = strdup(file);
    return 1;
  }
  warning("invalid plugin %s", file);
  _delete();
  return 0;
}

int Plugin::init(ScreenGeometry *geo) {
  func("plugin %s::init", or_null(name));
  return init_f ? init_f(geo) : 0;
}

// Without a loaded plug-in there is no frame: the layer keeps its own.
void *Plugin::process(void *frame) { return process_f ? process_f(frame) : nullptr; }

int Plugin::kbd_input(SDL_keysym *key) { return kbd_input_f ? kbd_input_f(key) : 0; }

// The entry points and strings live in the shared object: forget them with
// the handle, so nothing can call into an unloaded file.
void Plugin::_delete() {
  if (handle) dlclose(handle);
  handle = nullptr;
  if (path) free(path);
  path = nullptr;
  init_f = nullptr;
  clean_f = nullptr;
  process_f = nullptr;
  kbd_input_f = nullptr;
  name = author = info = nullptr;
  version = 0;
}

// ---------------------------------------------------------------------------
// Filter
// ---------------------------------------------------------------------------
Filter::Filter() : reserved(0), active(1), in_use(0), warned_null(false) {}

// The Entry part goes first (leaving its list), then the Plugin part closes
// the handle: the bases' reverse declaration order.
Filter::~Filter() {}

void *Filter::run(void *frame, Layer &) { return process(frame); }

int Filter::key(SDL_keysym *k, std::string &) { return kbd_input(k); }

const ParamTable &Filter::kind_params() const {
  static const ParamTable none;
  return none;
}

const ParamTable &Filter::base_params() {
  static const ParamTable t = {
      row<Filter>({"active", ParamType::boolean, 0, 1, 1, "", "the effect runs"},
                  [](const Filter &f) { return ParamValue::of(f.active ? 1 : 0); },
                  [](Filter &f, const ParamValue &v) { f.active = v.num[0] != 0; })};
  return t;
}

const ParamTable &Filter::params() const {
  if (params_.empty()) {
    params_ = base_params();
    const ParamTable &kind = kind_params();
    params_.insert(params_.end(), kind.begin(), kind.end());
  }
  return params_;
}

// ---------------------------------------------------------------------------
// Plugger
// ---------------------------------------------------------------------------
Plugger::Plugger() : Plugger({KOLVEX_PLUGIN_DIR, "./"}) {}

Plugger::Plugger(std::initializer_list<const char *> dirs) : slots(), search_path(nullptr) {
  for (const char *dir : dirs) _addsearchdir(dir);
}

Plugger::~Plugger() {
  func("Plugger::~Plugger()");
  _delete();
  free(search_path);
}

int Plugger::_delete() {
  func("Plugger::_delete");
  return 0;
}

bool Plugger::_dircheck(const char *dir) {
  DIR *d = opendir(dir);
  if (!d) return false;
  closedir(d);
  return true;
}

bool Plugger::_filecheck(const char *file) {
  FILE *f = fopen(file, "r");
  if (!f) return false;
  fclose(f);
  return true;
}

void Plugger::_addsearchdir(const char *dir) {
  if (!_dircheck(dir)) return;
  // The path is kept to kSearchPathSize - 1 characters whatever its parts;
  // a directory that does not fit is left out whole, never cut.
  char joined[kSearchPathSize];
  int n = search_path ? snprintf(joined, sizeof joined, "%s:%s", search_path, dir)
                      : snprintf(joined, sizeof joined, "%s", dir);
  if (n < 0 || (size_t)n >= sizeof joined) {
    error("plugin search path too long, directory left out: %s", dir);
    return;
  }
  free(search_path);
  search_path = strdup(joined);
}

bool Plugger::set_search_dir(const char *dir) {
  if (!dir) {  // no directory at all: refresh() finds nothing
    free(search_path);
    search_path = nullptr;
    return true;
  }
  if (!_dircheck(dir)) return false;
  char *old = search_path;
  search_path = nullptr;
  _addsearchdir(dir);
  if (!search_path) {  // too long: keep the old path
    search_path = old;
    return false;
  }
  free(old);
  return true;
}

bool Plugger::_registered(const char *file) {
  for (int i = 0; i < MAX_PLUGINS && slots[i]; i++)
    if (slots[i]->path && strcmp(slots[i]->path, file) == 0) return true;
  return false;
}

int Plugger::_add_plug(Filter *f) {
  for (int i = 0; i < MAX_PLUGINS; i++) {
    if (slots[i]) continue;
    slots[i] = f;
    resident().push_back(f);
    return 1;
  }
  return 0;
}

int Plugger::refresh() {
  char *path = _getsearchpath();
  _delete();
  if (!path) {
    warning("can't find any valid plugin directory");
    return -1;
  }
  // Only the first directory counts; the cut stays in the stored path.
  if (char *colon = strchr(path, ':')) *colon = '\0';
  const char *dir = path;

  struct dirent **entries = nullptr;
  int found = scandir(dir, &entries, selector, alphasort);
  if (found < 0) {
    error("Plugger::scandir");
    return -1;
  }
  for (int i = found - 1; i >= 0; i--) {
    char file[kFilePathSize];
    int n = snprintf(file, sizeof file, "%s/%s", dir, entries[i]->d_name);
    if (n < 0 || (size_t)n >= sizeof file) {
      // A cut path could name another file: refuse it whole.
      // Name first: a long directory may not fit in one log line.
      error("plugin path too long, not opened: %s in %s", entries[i]->d_name, dir);
    } else if (!_registered(file)) {
      Filter *f = new Filter();
      if (!f->open(file) || !_add_plug(f)) delete f;
    }
    free(entries[i]);
  }
  free(entries);
  return 0;
}

Filter *Plugger::pick(const char *want) {
  if (!want) return nullptr;
  for (int i = 0; i < MAX_PLUGINS && slots[i]; i++) {
    const char *have = slots[i]->getname();
    if (have && strcasecmp(have, want) == 0) return slots[i];
  }
  return nullptr;
}

Filter *Plugger::pick(const char *asked, std::string &err) {
  err.clear();
  std::vector<Frei0rSetting> settings;
  std::string key, text;
  if (split_frei0r_name(asked, key, text)) {
    const Frei0rPlugin *p = frei0r.resolve(asked, Frei0rKind::filter, settings, err);
    if (!p) return nullptr;
    made_.emplace_back(new Frei0rFilter(*p, std::move(settings)));
    return made_.back().get();
  }
  if (asked && strchr(asked, ':')) {
    err = std::string(asked) + ": only frei0r effects take settings";
    return nullptr;
  }
  Filter *f = pick(asked);
  if (!f) err = std::string("no effect named ") + (asked ? asked : "") + "; --list-effects lists them";
  else if (f->in_use) err = std::string(asked) + ": already on another layer";
  return f && !f->in_use ? f : nullptr;
}

Filter *Plugger::operator[](int i) {
  if (i < 0 || i >= MAX_PLUGINS) return nullptr;
  Filter *f = slots[i];
  return f && !f->in_use ? f : nullptr;
}
