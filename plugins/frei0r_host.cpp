#include "frei0r_host.h"

#include <dirent.h>
#include <dlfcn.h>
#include <frei0r.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

#include "blit.h"
#include "jutils.h"

static_assert(sizeof(f0r_param_color_t) == 3 * sizeof(float), "colour");
static_assert(sizeof(f0r_param_position_t) == 2 * sizeof(double), "position");

namespace {

const int kMaxSide = 2048;    // frei0r's largest frame side
const size_t kAlign = 64;     // frei0r asks 16; a cache line suits SIMD too

std::string lower(std::string s) {
  for (char &c : s) c = (char)tolower((unsigned char)c);
  return s;
}

// Lower case, every run of other characters than letters and digits "-"
// (apostrophes dropped).
std::string param_key(const char *name) {
  std::string key;
  bool gap = false;
  for (const char *c = name ? name : ""; *c; c++) {
    if (*c == '\'') continue;  // "Don't" is "dont"
    if (isalnum((unsigned char)*c)) {
      if (gap && !key.empty()) key += '-';
      key += (char)tolower((unsigned char)*c);
      gap = false;
    } else {
      gap = true;
    }
  }
  return key;
}

std::string text_or_empty(const char *s) { return s ? s : ""; }

// Each frei0r file is loaded once for the whole process: the dynamic
// loader's handles are process-wide, and f0r_init may run once per load.
// The table is never destroyed, so no plug-in code goes away under an
// instance that a late layer still holds.
struct LoadedTable {
  std::mutex mutex;
  std::map<std::string, Frei0rPlugin *> plugins;  // by real path
  std::map<std::string, std::string> refused;     // by real path: why
};
LoadedTable &loaded() {
  static LoadedTable *table = new LoadedTable();
  return *table;
}

template <class Fn>
bool symbol(void *handle, const char *name, Fn &out, std::string &missing) {
  out = (Fn)dlsym(handle, name);
  if (!out) missing += missing.empty() ? name : std::string(", ") + name;
  return out != nullptr;
}

void *aligned_frame(int w, int h) {
  const size_t bytes = ((size_t)w * h * 4 + kAlign - 1) / kAlign * kAlign;
  return aligned_alloc(kAlign, bytes ? bytes : kAlign);
}

int pad8(int n) { return (n + 7) / 8 * 8; }

bool parse_double(const std::string &s, double &out) {
  if (s.empty()) return false;
  char *end = nullptr;
  errno = 0;
  out = strtod(s.c_str(), &end);
  return !*end && !errno && std::isfinite(out);
}

bool parse_value(int type, const std::string &s, Frei0rValue &v) {
  v.type = type;
  switch (type) {
    case F0R_PARAM_BOOL: {
      static const char *const yes[] = {"true", "yes", "on", "1"}, *const no[] = {"false", "no", "off", "0"};
      for (const char *w : yes)
        if (strcasecmp(s.c_str(), w) == 0) return v.number = 1, true;
      for (const char *w : no)
        if (strcasecmp(s.c_str(), w) == 0) return v.number = 0, true;
      return false;
    }
    case F0R_PARAM_DOUBLE: return parse_double(s, v.number);
    case F0R_PARAM_COLOR: {
      if (s.size() == 7 && s[0] == '#' && strspn(s.c_str() + 1, "0123456789abcdefABCDEF") == 6) {
        const unsigned long rgb = strtoul(s.c_str() + 1, nullptr, 16);
        for (int i = 0; i < 3; i++) v.rgb[i] = (float)((rgb >> (16 - 8 * i)) & 0xFF) / 255.0f;
        return true;
      }
      const size_t a = s.find('/'), b = a == std::string::npos ? a : s.find('/', a + 1);
      double r, g, bl;
      if (b == std::string::npos || !parse_double(s.substr(0, a), r) ||
          !parse_double(s.substr(a + 1, b - a - 1), g) || !parse_double(s.substr(b + 1), bl))
        return false;
      v.rgb[0] = (float)r, v.rgb[1] = (float)g, v.rgb[2] = (float)bl;
      return true;
    }
    case F0R_PARAM_POSITION: {
      const size_t a = s.find('/');
      return a != std::string::npos && parse_double(s.substr(0, a), v.xy[0]) &&
             parse_double(s.substr(a + 1), v.xy[1]);
    }
    case F0R_PARAM_STRING: v.text = s; return true;
  }
  return false;
}

const char *const kWanted[] = {"true or false", "a number", "#RRGGBB or R/G/B", "X/Y", "text"};

// "a=1,b=x\,y" split at the commas no backslash escapes, escapes undone.
std::vector<std::string> split_settings(const std::string &text) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      parts.back() += text[++i];
    } else if (text[i] == ',') {
      parts.emplace_back();
    } else {
      parts.back() += text[i];
    }
  }
  return parts;
}

}  // namespace

// ---------------------------------------------------------------------------
// Names, types, values
// ---------------------------------------------------------------------------
bool split_frei0r_name(const char *asked, std::string &key, std::string &settings) {
  const size_t n = strlen(KOLVEX_FREI0R_PREFIX);
  if (!asked || strncasecmp(asked, KOLVEX_FREI0R_PREFIX, n) != 0) return false;
  const char *colon = strchr(asked + n, ':');
  key = lower(colon ? std::string(asked + n, colon) : std::string(asked + n));
  settings = colon ? colon + 1 : "";
  return true;
}

const char *frei0r_type_name(int type) {
  static const char *const names[] = {"boolean", "number", "colour", "position", "string"};
  return type >= 0 && type <= F0R_PARAM_STRING ? names[type] : "?";
}

const char *frei0r_kind_name(Frei0rKind kind) {
  return kind == Frei0rKind::filter ? "filter" : kind == Frei0rKind::source ? "source" : "mixer";
}

std::string format_frei0r_value(const Frei0rValue &v) {
  char buf[96];
  switch (v.type) {
    case F0R_PARAM_BOOL: return v.number >= 0.5 ? "true" : "false";
    case F0R_PARAM_DOUBLE: snprintf(buf, sizeof buf, "%g", v.number); return buf;
    case F0R_PARAM_COLOR: {
      int c[3];
      for (int i = 0; i < 3; i++) c[i] = (int)lrintf(std::min(1.0f, std::max(0.0f, v.rgb[i])) * 255);
      snprintf(buf, sizeof buf, "#%02x%02x%02x", c[0], c[1], c[2]);
      return buf;
    }
    case F0R_PARAM_POSITION: snprintf(buf, sizeof buf, "%g/%g", v.xy[0], v.xy[1]); return buf;
    case F0R_PARAM_STRING: return v.text;
  }
  return "?";
}

bool parse_frei0r_settings(const Frei0rPlugin &p, const std::string &text,
                           std::vector<Frei0rSetting> &out, std::string &why) {
  out.clear();
  if (text.empty()) return true;
  for (const std::string &part : split_settings(text)) {
    const size_t eq = part.find('=');
    if (eq == std::string::npos || eq == 0) {
      why = p.use_name() + ": \"" + part + "\" is not PARAM=VALUE";
      return false;
    }
    const std::string name = part.substr(0, eq), value = part.substr(eq + 1);
    const int i = p.param_index(name);
    if (i < 0) {
      why = p.use_name() + " has no parameter " + name + " (--list-effects lists them)";
      return false;
    }
    Frei0rSetting s{i, Frei0rValue()};
    if (!parse_value(p.params[i].type, value, s.value)) {
      why = p.use_name() + ": " + p.params[i].key + " wants " + kWanted[p.params[i].type] +
            ", not \"" + value + "\"";
      return false;
    }
    // A parameter given twice: the last one counts.
    out.erase(std::remove_if(out.begin(), out.end(),
                             [i](const Frei0rSetting &o) { return o.index == i; }),
              out.end());
    out.push_back(s);
  }
  return true;
}

// ---------------------------------------------------------------------------
// Frei0rPlugin
// ---------------------------------------------------------------------------
const Frei0rPlugin *Frei0rPlugin::load(const std::string &file, std::string &why) {
  char real[PATH_MAX];
  if (!realpath(file.c_str(), real)) {
    why = file + ": " + strerror(errno);
    return nullptr;
  }
  LoadedTable &t = loaded();
  std::lock_guard<std::mutex> hold(t.mutex);
  auto have = t.plugins.find(real);
  if (have != t.plugins.end()) return have->second;
  auto bad = t.refused.find(real);
  if (bad != t.refused.end()) {
    why = bad->second;
    return nullptr;
  }

  auto refuse = [&](void *handle, const std::string &reason) -> const Frei0rPlugin * {
    if (handle) dlclose(handle);
    why = file + ": " + reason;
    t.refused[real] = why;
    return nullptr;
  };
  // RTLD_LOCAL: two plug-ins' helpers of the same name must not meet.
  void *handle = dlopen(real, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char *e = dlerror();
    return refuse(nullptr, std::string("not loadable (") + (e ? e : "?") + ")");
  }
  std::unique_ptr<Frei0rPlugin> p(new Frei0rPlugin());
  int (*init)() = nullptr;
  void (*info)(f0r_plugin_info_t *) = nullptr;
  void (*param_info)(f0r_param_info_t *, int) = nullptr;
  std::string missing;
  symbol(handle, "f0r_init", init, missing);
  symbol(handle, "f0r_get_plugin_info", info, missing);
  symbol(handle, "f0r_get_param_info", param_info, missing);
  symbol(handle, "f0r_construct", p->construct, missing);
  symbol(handle, "f0r_destruct", p->destruct, missing);
  symbol(handle, "f0r_set_param_value", p->set_param, missing);
  symbol(handle, "f0r_get_param_value", p->get_param, missing);
  symbol(handle, "f0r_update", p->update, missing);
  p->update2 = (decltype(p->update2))dlsym(handle, "f0r_update2");
  if (!missing.empty()) return refuse(handle, "not a frei0r plug-in, it lacks " + missing);

  f0r_plugin_info_t fi;
  memset(&fi, 0, sizeof fi);
  info(&fi);
  char ver[64];
  snprintf(ver, sizeof ver, "made for frei0r %d, this host knows %d", fi.frei0r_version,
           FREI0R_MAJOR_VERSION);
  if (fi.frei0r_version > FREI0R_MAJOR_VERSION) return refuse(handle, ver);
  if (fi.plugin_type == F0R_PLUGIN_TYPE_MIXER3)
    return refuse(handle, "a mixer of three inputs, which nothing here feeds");
  if (fi.plugin_type < F0R_PLUGIN_TYPE_FILTER || fi.plugin_type > F0R_PLUGIN_TYPE_MIXER2)
    return refuse(handle, "unknown plug-in type " + std::to_string(fi.plugin_type));
  if (fi.color_model < F0R_COLOR_MODEL_BGRA8888 || fi.color_model > F0R_COLOR_MODEL_PACKED32)
    return refuse(handle, "unknown colour model " + std::to_string(fi.color_model));
  if (fi.plugin_type == F0R_PLUGIN_TYPE_MIXER2 && !p->update2)
    return refuse(handle, "a mixer without f0r_update2");
  if (fi.num_params < 0 || fi.num_params > 256)
    return refuse(handle, "claims " + std::to_string(fi.num_params) + " parameters");
  if (init() == 0) return refuse(handle, "its f0r_init failed");

  const char *slash = strrchr(real, '/');
  std::string stem = slash ? slash + 1 : real;
  if (stem.size() > 3 && stem.compare(stem.size() - 3, 3, ".so") == 0) stem.resize(stem.size() - 3);
  p->path = real;
  p->key = lower(stem);
  p->name = text_or_empty(fi.name);
  p->author = text_or_empty(fi.author);
  p->explanation = text_or_empty(fi.explanation);
  p->kind = fi.plugin_type == F0R_PLUGIN_TYPE_FILTER   ? Frei0rKind::filter
            : fi.plugin_type == F0R_PLUGIN_TYPE_SOURCE ? Frei0rKind::source
                                                       : Frei0rKind::mixer;
  // A source may not be PACKED32 (frei0r.h); one that is gives our order.
  p->model = fi.color_model == F0R_COLOR_MODEL_RGBA8888 ? Frei0rModel::rgba
             : fi.color_model == F0R_COLOR_MODEL_BGRA8888 || p->kind == Frei0rKind::source
                 ? Frei0rModel::bgra
                 : Frei0rModel::packed;
  p->version_major = fi.major_version;
  p->version_minor = fi.minor_version;
  for (int i = 0; i < fi.num_params; i++) {
    f0r_param_info_t pi;
    memset(&pi, 0, sizeof pi);
    param_info(&pi, i);
    std::string key = param_key(pi.name);
    if (key.empty()) key = std::to_string(i);
    p->params.push_back({text_or_empty(pi.name), key, pi.type, text_or_empty(pi.explanation)});
    if (pi.type < F0R_PARAM_BOOL || pi.type > F0R_PARAM_STRING) {
      // f0r_deinit: f0r_init succeeded above.
      void (*deinit)() = (void (*)())dlsym(handle, "f0r_deinit");
      if (deinit) deinit();
      return refuse(handle, "parameter " + key + " of unknown type " + std::to_string(pi.type));
    }
  }
  p->handle_ = handle;
  Frei0rPlugin *kept = p.release();
  t.plugins[real] = kept;
  func("frei0r plug-in %s (%s) from %s", kept->use_name().c_str(), kept->name.c_str(), real);
  return kept;
}

int Frei0rPlugin::param_index(const std::string &given) const {
  const std::string want = param_key(given.c_str());
  for (size_t i = 0; i < params.size(); i++)
    if (params[i].key == want) return (int)i;
  char *end = nullptr;
  const long i = strtol(given.c_str(), &end, 10);
  if (!given.empty() && !*end && i >= 0 && (size_t)i < params.size()) return (int)i;
  return -1;
}

// What instance `inst` holds for parameter `index`.
static void read_param(const Frei0rPlugin &p, void *inst, int index, Frei0rValue &out) {
  out = Frei0rValue();
  out.type = p.params[index].type;
  switch (out.type) {
    case F0R_PARAM_BOOL:
    case F0R_PARAM_DOUBLE: p.get_param(inst, &out.number, index); break;
    case F0R_PARAM_COLOR: {
      f0r_param_color_t c = {0, 0, 0};
      p.get_param(inst, &c, index);
      out.rgb[0] = c.r, out.rgb[1] = c.g, out.rgb[2] = c.b;
      break;
    }
    case F0R_PARAM_POSITION: {
      f0r_param_position_t xy = {0, 0};
      p.get_param(inst, &xy, index);
      out.xy[0] = xy.x, out.xy[1] = xy.y;
      break;
    }
    case F0R_PARAM_STRING: {
      char *text = nullptr;
      p.get_param(inst, &text, index);
      out.text = text_or_empty(text);
      break;
    }
  }
}

bool Frei0rPlugin::default_value(int index, Frei0rValue &out) const {
  if (index < 0 || (size_t)index >= params.size()) return false;
  void *inst = construct(8, 8);
  if (!inst) return false;
  read_param(*this, inst, index, out);
  destruct(inst);
  return true;
}

// ---------------------------------------------------------------------------
// Frei0rLibrary
// ---------------------------------------------------------------------------
Frei0rLibrary::Frei0rLibrary() {
  const char *env = getenv("FREI0R_PATH");
  if (env) {
    std::string part;
    for (const char *c = env;; c++) {
      if (*c == ':' || !*c) {
        if (!part.empty()) dirs_.push_back(part);
        part.clear();
        if (!*c) break;
      } else {
        part += *c;
      }
    }
    return;
  }
  if (const char *home = getenv("HOME")) dirs_.push_back(std::string(home) + "/.frei0r-1/lib");
  dirs_.push_back("/usr/local/lib/frei0r-1");
#ifdef KOLVEX_MULTIARCH
  dirs_.push_back("/usr/lib/" KOLVEX_MULTIARCH "/frei0r-1");
#endif
  dirs_.push_back("/usr/lib/frei0r-1");
}

Frei0rLibrary::Frei0rLibrary(std::vector<std::string> dirs) : dirs_(std::move(dirs)) {}

std::vector<std::string> Frei0rLibrary::files() const {
  std::vector<std::string> out;
  auto list = [](const std::string &dir, bool files) {
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
      while (struct dirent *e = readdir(d)) {
        const std::string n = e->d_name;
        if (n == "." || n == "..") continue;
        const std::string full = dir + "/" + n;
        DIR *sub = files ? nullptr : opendir(full.c_str());
        if (sub) closedir(sub);
        const bool so = n.size() > 3 && n.compare(n.size() - 3, 3, ".so") == 0;
        if (files ? so : sub != nullptr) names.push_back(full);
      }
      closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
  };
  for (const std::string &dir : dirs_) {
    for (const std::string &f : list(dir, true)) out.push_back(f);
    for (const std::string &vendor : list(dir, false))
      for (const std::string &f : list(vendor, true)) out.push_back(f);
  }
  return out;
}

static std::string stem_of(const std::string &file) {
  const size_t slash = file.rfind('/');
  std::string stem = file.substr(slash == std::string::npos ? 0 : slash + 1);
  return lower(stem.substr(0, stem.size() - 3));
}

const Frei0rPlugin *Frei0rLibrary::find(const std::string &key, std::string &why) const {
  const std::string want = lower(key);
  for (const std::string &f : files()) {
    if (stem_of(f) != want) continue;
    return Frei0rPlugin::load(f, why);  // the first place wins, hostable or not
  }
  why = KOLVEX_FREI0R_PREFIX + key + ": no such frei0r plug-in (--list-effects lists them)";
  return nullptr;
}

const Frei0rPlugin *Frei0rLibrary::resolve(const char *asked, Frei0rKind kind,
                                           std::vector<Frei0rSetting> &settings,
                                           std::string &why) const {
  std::string key, text;
  if (!split_frei0r_name(asked, key, text)) {
    why = std::string(asked ? asked : "") + ": not a frei0r name (" KOLVEX_FREI0R_PREFIX "NAME)";
    return nullptr;
  }
  const Frei0rPlugin *p = find(key, why);
  if (!p) return nullptr;
  if (p->kind != kind) {
    why = p->use_name() + " is a frei0r " + frei0r_kind_name(p->kind) + ", not a " +
          frei0r_kind_name(kind);
    return nullptr;
  }
  // One that makes no instance is refused now, not at its first frame.
  void *trial = p->construct(8, 8);
  if (!trial) {
    why = p->use_name() + ": its f0r_construct gives no instance";
    return nullptr;
  }
  p->destruct(trial);
  return parse_frei0r_settings(*p, text, settings, why) ? p : nullptr;
}

std::vector<const Frei0rPlugin *> Frei0rLibrary::all() const {
  std::vector<const Frei0rPlugin *> out;
  std::vector<std::string> seen;
  for (const std::string &f : files()) {
    const std::string key = stem_of(f);
    if (std::find(seen.begin(), seen.end(), key) != seen.end()) {
      func("frei0r: %s hidden by one found before it", f.c_str());
      continue;
    }
    seen.push_back(key);
    std::string why;
    if (const Frei0rPlugin *p = Frei0rPlugin::load(f, why)) out.push_back(p);
    else func("frei0r: skipped %s", why.c_str());
  }
  std::sort(out.begin(), out.end(),
            [](const Frei0rPlugin *a, const Frei0rPlugin *b) { return a->key < b->key; });
  return out;
}

// ---------------------------------------------------------------------------
// Frei0rInstance
// ---------------------------------------------------------------------------
Frei0rInstance::Frei0rInstance(const Frei0rPlugin &plugin, std::vector<Frei0rSetting> settings)
    : plugin_(plugin), settings_(std::move(settings)) {}

Frei0rInstance::~Frei0rInstance() {
  if (instance_) plugin_.destruct(instance_);
}

void Frei0rInstance::apply(const Frei0rSetting &s) {
  if (!instance_) return;
  const Frei0rValue &v = s.value;
  switch (v.type) {
    case F0R_PARAM_BOOL:
    case F0R_PARAM_DOUBLE: {
      double d = v.number;
      plugin_.set_param(instance_, &d, s.index);
      break;
    }
    case F0R_PARAM_COLOR: {
      f0r_param_color_t c = {v.rgb[0], v.rgb[1], v.rgb[2]};
      plugin_.set_param(instance_, &c, s.index);
      break;
    }
    case F0R_PARAM_POSITION: {
      f0r_param_position_t xy = {v.xy[0], v.xy[1]};
      plugin_.set_param(instance_, &xy, s.index);
      break;
    }
    case F0R_PARAM_STRING: {
      std::string copy = v.text;  // the plug-in copies it during the call
      char *text = &copy[0];
      plugin_.set_param(instance_, &text, s.index);
      break;
    }
  }
}

bool Frei0rInstance::ready(int w, int h) {
  if (instance_ && w == w_ && h == h_) return true;
  if (refused_ && w == w_ && h == h_) return false;
  if (instance_) plugin_.destruct(instance_);
  instance_ = nullptr;
  in_[0].reset();
  in_[1].reset();
  out_.reset();
  w_ = w, h_ = h, pw_ = pad8(w), ph_ = pad8(h);
  refused_ = true;  // until made
  if (w <= 0 || h <= 0 || pw_ > kMaxSide || ph_ > kMaxSide) {
    error("%s: frames of %ix%i are beyond frei0r's %i a side: passed through", plugin_.use_name().c_str(),
          w, h, kMaxSide);
    return false;
  }
  instance_ = plugin_.construct((unsigned)pw_, (unsigned)ph_);
  if (!instance_) {
    error("%s: no instance for %ix%i frames: passed through", plugin_.use_name().c_str(), pw_, ph_);
    return false;
  }
  out_.reset((uint8_t *)aligned_frame(pw_, ph_));
  if (!out_) {
    error("%s: cannot allocate a %ix%i frame", plugin_.use_name().c_str(), pw_, ph_);
    plugin_.destruct(instance_);
    instance_ = nullptr;
    return false;
  }
  for (const Frei0rSetting &s : settings_) apply(s);
  refused_ = false;
  func("%s: instance for %ix%i frames (%ix%i)", plugin_.use_name().c_str(), w, h, pw_, ph_);
  return true;
}

// The frame as the plug-in reads it: ours where it lies when it can be
// (our byte order, no padding, aligned), else a copy turned to RGBA where
// the plug-in asks, padded by repeating the last column and line.
const uint8_t *Frei0rInstance::stage(int slot, const uint8_t *in, int pitch) {
  const bool rgba = plugin_.model == Frei0rModel::rgba;
  if (!rgba && pw_ == w_ && ph_ == h_ && pitch == w_ * 4 && (uintptr_t)in % 16 == 0) return in;
  if (!in_[slot]) {
    in_[slot].reset((uint8_t *)aligned_frame(pw_, ph_));
    if (!in_[slot]) return nullptr;
  }
  uint8_t *s = in_[slot].get();
  const int line = pw_ * 4;
  if (rgba) blit_swap_rb(in, pitch, s, line, w_, h_);
  else
    for (int y = 0; y < h_; y++) memcpy(s + (long)y * line, in + (long)y * pitch, (size_t)w_ * 4);
  for (int y = 0; y < h_ && pw_ > w_; y++) {
    uint8_t *row = s + (long)y * line;
    for (int x = w_; x < pw_; x++) memcpy(row + 4 * x, row + 4 * (w_ - 1), 4);
  }
  for (int y = h_; y < ph_; y++) memcpy(s + (long)y * line, s + (long)(h_ - 1) * line, line);
  return s;
}

// The plug-in's picture as ours: RGBA turned back, lines closed up where
// the width was padded, both in place.
const uint8_t *Frei0rInstance::finish() {
  uint8_t *o = out_.get();
  if (plugin_.model == Frei0rModel::rgba) blit_swap_rb(o, pw_ * 4, o, pw_ * 4, w_, h_);
  if (pw_ != w_)
    for (int y = 1; y < h_; y++) memmove(o + (long)y * w_ * 4, o + (long)y * pw_ * 4, (size_t)w_ * 4);
  return o;
}

const uint8_t *Frei0rInstance::filter(double time, int w, int h, const uint8_t *in, int pitch) {
  return mix(time, w, h, in, pitch, nullptr, 0);
}

const uint8_t *Frei0rInstance::mix(double time, int w, int h, const uint8_t *in1, int pitch1,
                                   const uint8_t *in2, int pitch2) {
  if (!in1 || !ready(w, h)) return nullptr;
  const uint8_t *a = stage(0, in1, pitch1);
  const uint8_t *b = in2 ? stage(1, in2, pitch2) : nullptr;
  if (!a || (in2 && !b)) return nullptr;
  uint32_t *out = (uint32_t *)out_.get();
  if (plugin_.kind == Frei0rKind::mixer)
    plugin_.update2(instance_, time, (const uint32_t *)a, (const uint32_t *)b, nullptr, out);
  else
    plugin_.update(instance_, time, (const uint32_t *)a, out);
  return finish();
}

const uint8_t *Frei0rInstance::generate(double time, int w, int h) {
  if (!ready(w, h)) return nullptr;
  plugin_.update(instance_, time, nullptr, (uint32_t *)out_.get());
  return finish();
}

void Frei0rInstance::set(const Frei0rSetting &s) {
  bool replaced = false;
  for (Frei0rSetting &have : settings_)
    if (have.index == s.index) have = s, replaced = true;
  if (!replaced) settings_.push_back(s);
  apply(s);
}

Frei0rValue Frei0rInstance::value(int index) const {
  for (const Frei0rSetting &s : settings_)
    if (s.index == index) return s.value;
  Frei0rValue v;
  plugin_.default_value(index, v);
  return v;
}

std::string Frei0rInstance::step(int index, int dir) {
  if (index < 0 || (size_t)index >= plugin_.params.size()) return "";
  // What was set, as it was given (plug-ins may keep values rounded),
  // else what the instance holds.
  Frei0rSetting s{index, Frei0rValue()};
  auto given = std::find_if(settings_.begin(), settings_.end(),
                            [index](const Frei0rSetting &o) { return o.index == index; });
  if (given != settings_.end()) s.value = given->value;
  else if (instance_) read_param(plugin_, instance_, index, s.value);
  else if (!plugin_.default_value(index, s.value)) return "";
  Frei0rValue &v = s.value;
  if (dir == 0) return plugin_.params[index].key + " " + format_frei0r_value(v);
  const double d = dir * 0.05;
  auto clamp = [](double x) { return std::min(1.0, std::max(0.0, x)); };
  switch (v.type) {
    case F0R_PARAM_BOOL: v.number = v.number >= 0.5 ? 0 : 1; break;
    case F0R_PARAM_DOUBLE: v.number = clamp(v.number + d); break;
    case F0R_PARAM_COLOR:
      for (float &c : v.rgb) c = (float)clamp(c + d);
      break;
    case F0R_PARAM_POSITION:
      for (double &c : v.xy) c = clamp(c + d);
      break;
    default: break;  // a string has no step
  }
  set(s);
  return plugin_.params[index].key + " " + format_frei0r_value(v);
}
