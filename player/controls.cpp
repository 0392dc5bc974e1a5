#include "controls.h"

#include <strings.h>

#include <cstdlib>

#include "factory.h"
#include "frei0r_host.h"
#include "modulator.h"
#include "stack_editor.h"

namespace {

std::vector<std::string> split_path(const std::string &path) {
  std::vector<std::string> parts;
  if (path.empty() || path[0] != '/') return parts;
  size_t at = 1;
  while (true) {
    const size_t slash = path.find('/', at);
    parts.push_back(path.substr(at, slash == std::string::npos ? std::string::npos : slash - at));
    if (slash == std::string::npos) break;
    at = slash + 1;
  }
  return parts;
}

std::string join(const std::vector<std::string> &parts, size_t from) {
  std::string out;
  for (size_t i = from; i < parts.size(); i++) out += (i > from ? "/" : "") + parts[i];
  return out;
}

// A whole number from 1, or 0.
long ordinal(const std::string &token) {
  if (token.empty() || token.size() > 6 || token.find_first_not_of("0123456789") != std::string::npos)
    return 0;
  return strtol(token.c_str(), nullptr, 10);
}

SDLKey key_by_name(const std::string &name) {
  for (int k = SDLK_FIRST; k < SDLK_LAST; k++) {
    const char *n = SDL_GetKeyName((SDLKey)k);
    if (n && strcmp(n, "unknown key") != 0 && strcasecmp(n, name.c_str()) == 0) return (SDLKey)k;
  }
  return SDLK_UNKNOWN;
}

// The tree's own paths on a layer, beside its parameters.
const Param kSelect = {"select", ParamType::trigger, 0, 0, 0, "", "the layer the keys act on"};
const Param kKey = {"key", ParamType::text, 0, 32, 0, "",
                    "a key for the layer and its effects, by SDL's name (up, x, [)"};

// The stack's own changes (stack_editor.h).
const Param kAdd = {"add", ParamType::text, 0, 255, 0, "",
                    "a layer from the bank (--bank) on top, once it has loaded"};
const Param kSource = {"source", ParamType::text, 0, 255, 0, "",
                       "the layer shows another from the bank, its settings kept"};
const Param kRemove = {"remove", ParamType::trigger, 0, 0, 0, "", "the layer out of the stack"};
const Param kMove = {"move", ParamType::integer, 1, 9999, 1, "",
                     "the layer to that place, 1 at the bottom"};

}  // namespace

std::string layer_label(size_t place, const Layer &l) {
  return "layer " + std::to_string(place) + " " + (l.filename[0] ? l.filename : l.name);
}

std::string layer_name(const std::string &source) {
  std::string key, settings;
  if (split_frei0r_name(source.c_str(), key, settings)) return "frei0r." + key;  // not its settings
  const size_t slash = source.rfind('/');
  return slash == std::string::npos ? source : source.substr(slash + 1);
}

struct Controls::Target {
  Parametric *obj = nullptr;
  const Param *param = nullptr;
  std::string path;   // by number: what a replay names
  std::string label;  // what the status line tells it as
  Layer *layer = nullptr;
};

Controls::Controls(Context &ctx) : ctx_(ctx) {}
Controls::~Controls() = default;

// ---------------------------------------------------------------------------
// The stack
// ---------------------------------------------------------------------------
std::vector<Layer *> Controls::stack() const {
  if (prepared) return *prepared;
  std::vector<Layer *> out;
  ctx_.layers.lock();
  for (Entry *e = ctx_.layers.end(); e; e = e->prev) out.push_back(static_cast<Layer *>(e));
  ctx_.layers.unlock();
  return out;
}

Layer *Controls::layer(size_t i) const {
  const std::vector<Layer *> s = stack();
  return i < s.size() ? s[i] : nullptr;
}

size_t Controls::selected() const {
  const std::vector<Layer *> s = stack();
  for (size_t i = 0; i < s.size(); i++)
    if (s[i] == sel_) return i;
  return s.empty() ? 0 : s.size() - 1;  // the top one
}

int Controls::find_layer(const std::vector<Layer *> &stack, const std::string &token) const {
  if (const long n = ordinal(token)) return (size_t)n <= stack.size() ? (int)n - 1 : -1;
  for (size_t i = 0; i < stack.size(); i++)
    if (layer_name(stack[i]->source) == token) return (int)i;
  return -1;
}

// ---------------------------------------------------------------------------
// Paths
// ---------------------------------------------------------------------------
bool Controls::resolve(const std::string &path, Target &t, std::string &why) const {
  const std::vector<std::string> parts = split_path(path);
  if (parts.empty()) {
    why = "no such control";
    return false;
  }
  std::string rest;
  if (parts.size() == 2 && parts[0] == "layer" && parts[1] == "add") {
    t.obj = const_cast<Controls *>(this);
    t.param = &kAdd;
    t.path = "/layer/add";
    return true;
  }
  if (parts[0] == "layer" && parts.size() >= 3) {
    const std::vector<Layer *> s = stack();
    const int i = find_layer(s, parts[1]);
    if (i < 0) {
      why = "no layer " + parts[1];
      return false;
    }
    t.layer = s[(size_t)i];
    t.label = layer_label((size_t)i + 1, *t.layer);
    t.path = "/layer/" + std::to_string(i + 1) + "/";
    t.obj = t.layer;
    rest = join(parts, 2);
    if (parts[2] == "select" && parts.size() == 3) {
      t.param = &kSelect;
      t.path += "select";
      return true;
    }
    if (parts[2] == "key" && parts.size() == 3) {
      t.param = &kKey;
      t.path += "key";
      return true;
    }
    for (const Param *own : {&kSource, &kRemove, &kMove})
      if (parts[2] == own->name && parts.size() == 3) {
        t.param = own;
        t.path += own->name;
        return true;
      }
    if (parts[2] == "blend") {
      t.obj = t.layer->get_blend();
      if (!t.obj) {
        why = t.label + " has no blend of its own";
        return false;
      }
      t.path += "blend/";
      rest = join(parts, 3);
    } else if (parts[2] == "effect" && parts.size() >= 5) {
      const long wanted = ordinal(parts[3]);
      Filter *f = nullptr;
      long n = 1;
      t.layer->filters.lock();
      for (Entry *e = t.layer->filters.begin(); e && !f; e = e->next, n++) {
        Filter *g = static_cast<Filter *>(e);
        if (wanted ? wanted == n : g->name && strcasecmp(g->name, parts[3].c_str()) == 0) f = g;
      }
      t.layer->filters.unlock();
      if (!f) {
        why = "no effect " + parts[3] + " on layer " + std::to_string(i + 1);
        return false;
      }
      t.obj = f;
      t.label += std::string(" ") + (f->name ? f->name : "effect");
      t.path += "effect/" + std::to_string(n - 1) + "/";
      rest = join(parts, 4);
    }
  } else if (parts[0] == "osd") {
    t.obj = &ctx_.osd;
    t.path = "/osd/";
    t.label = "osd";
    rest = join(parts, 1);
  } else if (modulator && (parts[0] == "map" || parts[0] == "learn" || parts[0] == "tempo" ||
                           parts[0] == "midi")) {
    t.obj = modulator;
    t.path = "/";
    rest = join(parts, 0);
  } else {
    t.obj = const_cast<Controls *>(this);
    t.path = "/";
    rest = join(parts, 0);
  }
  t.param = t.obj->param(rest);
  if (!t.param) {
    why = "no control " + rest + (t.label.empty() ? "" : " on " + t.label);
    return false;
  }
  t.path += t.param->name;
  return true;
}

// ---------------------------------------------------------------------------
// Setting and reading
// ---------------------------------------------------------------------------
ControlStatus Controls::set(const std::string &path, const ControlArgs &args, std::string &said,
                            std::string &why) {
  said.clear();
  why.clear();
  Target t;
  if (!resolve(path, t, why)) return ControlStatus::unknown;
  // A copy: a setter may change the table it comes from (a new blend).
  const Param p = *t.param;
  if (!p.live) {
    why = "set before the show starts (a layer's option), not while it plays";
    return ControlStatus::bad_value;
  }
  ParamValue v;
  const ParamParse parsed = parse_param(p, args, v, why);
  if (parsed == ParamParse::bad) return ControlStatus::bad_value;
  if (t.param == &kKey && key_by_name(v.text) == SDLK_UNKNOWN) {
    why = "wants a key's name";
    return ControlStatus::bad_value;
  }
  if (modulator && t.obj == modulator && !modulator->accepts(p, v, *this, why))
    return ControlStatus::bad_value;
  if (parsed == ParamParse::clamped && clamped_told_.insert(t.path).second)
    fprintf(stderr, "kolvex: %s: out of range (%s), clamped\n", t.path.c_str(),
            param_range(p).c_str());

  if (t.param == &kSelect) {
    sel_ = t.layer;
    const Param *blit = t.layer->param("blit");  // its mode as the blit row tells it
    said = t.label + ": " + blit->tell(*t.layer) + (t.layer->active ? "" : ", hidden");
    changed(t.path, {});
    return ControlStatus::done;
  }
  if (t.param == &kKey) {
    said = pass_key(t.layer, t.label, v.text);
    if (!said.empty()) changed(t.path, args);  // a key nothing takes changes nothing
    return ControlStatus::done;
  }
  if (t.param == &kAdd || t.param == &kSource || t.param == &kRemove || t.param == &kMove)
    return stack_set(t, v, said, why);
  const std::string before = t.layer ? t.layer->said() : "";
  p.set(*t.obj, v);
  const std::string word = p.name.substr(p.name.rfind('/') + 1);  // "color" of "param/color"
  const ParamValue now = p.get ? p.get(*t.obj) : v;  // as applied: clamped, rounded
  if (t.layer && t.obj == t.layer && t.layer->said() != before && !t.layer->said().empty())
    said = t.label + ": " + t.layer->said();  // a kind's own words ("speed 1.25x")
  else if (p.tell)
    said = (t.label.empty() ? "" : t.label + ": ") + p.tell(*t.obj);
  else if (p.type == ParamType::trigger)
    said = t.label.empty() ? "" : t.label + ": " + word;
  else
    said = (t.label.empty() ? "" : t.label + ": ") + word + " " + format_param(p, now);
  changed(t.path, param_args(p, now));
  return ControlStatus::done;
}

const Param *Controls::param_at(const std::string &path, std::string &why) const {
  Target t;
  return resolve(path, t, why) ? t.param : nullptr;
}

bool Controls::get(const std::string &path, ControlArgs &out, std::string &why) const {
  Target t;
  if (!resolve(path, t, why)) return false;
  if (!t.param->get) {
    why = t.path + " has no value to read";
    return false;
  }
  out = param_args(*t.param, t.param->get(*t.obj));
  return true;
}

// An add or a source is done once asked and told to the hooks when the
// layer joins (the player's editor hook): a record has it at the frame it
// first shows in.
ControlStatus Controls::stack_set(const Target &t, const ParamValue &v, std::string &said,
                                  std::string &why) {
  if (!editor) {
    why = "no stack changes here";
    return ControlStatus::unknown;
  }
  if (t.param == &kAdd) {
    if (!editor->add(v.text, why)) return ControlStatus::bad_value;
    said = v.text + ": loading";
    return ControlStatus::done;
  }
  const std::vector<Layer *> s = stack();
  size_t place = 1;
  while (place <= s.size() && s[place - 1] != t.layer) place++;
  if (t.param == &kSource) {
    if (!editor->source(place, v.text, why)) return ControlStatus::bad_value;
    said = t.label + ": loading " + v.text;
    return ControlStatus::done;
  }
  if (t.param == &kRemove) {
    if (!editor->remove(place, said, why)) return ControlStatus::unknown;
    changed(t.path, {});
    return ControlStatus::done;
  }
  size_t to = (size_t)v.num[0];
  if (!editor->move(place, to, why)) return ControlStatus::unknown;
  said = t.label + ": to place " + std::to_string(to);
  changed(t.path, {ControlArg::number((double)to)});
  return ControlStatus::done;
}

void Controls::changed(const std::string &path, const ControlArgs &applied) {
  changes++;
  for (const ChangeHook &h : hooks_) h(path, applied);
}

// The layer first (the generator's arrows), then its blend and its
// filters (vertigo's x, frei0r's [ ] , .).
std::string Controls::pass_key(Layer *l, const std::string &label, const std::string &name) {
  SDL_keysym k{};
  k.sym = key_by_name(name);
  const bool layer_used = l->keypress(&k);
  bool used = layer_used;
  std::string said = layer_used ? l->said() : "";
  if (l->get_blend()) {
    const std::string s = l->get_blend()->key(k);
    if (!s.empty()) said = s;
  }
  l->filters.lock();
  for (Entry *e = l->filters.begin(); e; e = e->next) {
    Filter *f = static_cast<Filter *>(e);
    std::string s;
    if (f->active && f->key(&k, s)) used = true;
    if (!s.empty()) said = s;
  }
  l->filters.unlock();
  if (!said.empty()) return label + ": " + said;
  return used ? label + ": key " + SDL_GetKeyName(k.sym) : "";
}

// ---------------------------------------------------------------------------
// The player's rows
// ---------------------------------------------------------------------------
const ParamTable &Controls::table() {
  static const ParamTable t = {
      row<Controls>({"pause", ParamType::boolean, 0, 1, 0, "", "the layers stand still"},
                    [](const Controls &c) { return ParamValue::of(c.paused ? 1 : 0); },
                    [](Controls &c, const ParamValue &v) { c.paused = v.num[0] != 0; },
                    [](const Controls &c) { return std::string(c.paused ? "paused" : "playing"); }),
      row<Controls>({"magnify", ParamType::integer, 1, 3, 1, "x", "window magnification"},
                    [](const Controls &c) { return ParamValue::of(c.magnification() + 1); },
                    [](Controls &c, const ParamValue &v) { c.ctx_.magnify((int)v.num[0] - 1); },
                    [](const Controls &c) {
                      return "magnification " + std::to_string(c.magnification() + 1) + "x";
                    }),
      row<Controls>({"screenshot", ParamType::trigger, 0, 0, 0, "",
                     "a PNG of the next frame, kolvex-NNNN.png in the working directory"},
                    nullptr, [](Controls &c, const ParamValue &) { c.screenshot = true; }),
      row<Controls>({"quit", ParamType::trigger, 0, 0, 0, "", "ends the show"}, nullptr,
                    [](Controls &c, const ParamValue &) { c.quit = true; }),
  };
  return t;
}

const ParamTable &Controls::params() const { return table(); }

void Controls::list(FILE *out) {
  fprintf(out, "L: a layer's number from 1 at the bottom, or its name; E: an effect's\n"
               "number on the layer from 1, or its name; P: a parameter's name or its\n"
               "number from 0\n\n");
  print_params(out, "/layer/L/", Layer::base_params());
  print_params(out, "/layer/L/", {kSelect, kKey, kSource, kRemove, kMove});
  print_params(out, "/layer/", {kAdd});
  for (const LayerKind &k : layer_kinds()) {
    if (k.params().empty()) continue;
    fprintf(out, "\n%s (%s):\n", k.name.c_str(), k.names.c_str());
    print_params(out, "/layer/L/", k.params());
  }
  fprintf(out, "\nfrei0r sources, effects and blends: their plug-in's parameters (--list-effects)\n");
  Param any = {"param/P", ParamType::number, 0, 1, 0, "", "numbers 0..1, booleans, colours, positions, texts"};
  print_params(out, "/layer/L/", {any});
  print_params(out, "/layer/L/effect/E/", Filter::base_params());
  print_params(out, "/layer/L/effect/E/", {any});
  print_params(out, "/layer/L/blend/", {any});
  fprintf(out, "\nthe show:\n");
  print_params(out, "/osd/", Osd::table());
  print_params(out, "/", table());
  Modulator::list(out);
}
