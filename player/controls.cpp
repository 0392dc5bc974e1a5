#include "controls.h"

#include <strings.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "args.h"
#include "factory.h"
#include "frei0r_effects.h"
#include "frei0r_layer.h"
#include "stack_editor.h"
#ifdef KOLVEX_HAVE_FFMPEG
#include "video_layer.h"
#endif

namespace {

// One row of --list-controls.
struct Row {
  const char *path, *type, *what;
};
const Row kTree[] = {
    {"/layer/L/alpha", "number 0..1", "opacity in the ALPHA mode; ends a fade"},
    {"/layer/L/blit", "mode", "RGB BLU GRE RED ADD SUB AND OR ALPHA, 1..9, OVER, or the blend the layer had"},
    {"/layer/L/pos", "int int", "top-left corner in canvas pixels, -32768..32767"},
    {"/layer/L/fade", "-", "fade out, or back in to the alpha and mode it had"},
    {"/layer/L/fade/out", "[number 0..1]", "fade down to the target (default 0), one step a frame"},
    {"/layer/L/fade/in", "[number 0..1]", "fade up to the target (default: the alpha it had)"},
    {"/layer/L/shown", "bool", "shown or hidden"},
    {"/layer/L/select", "-", "the layer the keys act on"},
    {"/layer/L/key", "string", "a key for the layer and its effects, by SDL's name (up, x, [)"},
    {"/layer/L/video/speed", "number 0.1..10", "a video layer's speed"},
    {"/layer/L/video/seek", "number", "a video layer to that second of its clip"},
    {"/layer/L/video/pause", "bool", "a video layer stands still, alone"},
    {"/layer/L/video/restart", "-", "a video layer back to its start"},
    {"/layer/L/effect/E/active", "bool", "the effect runs"},
    {"/layer/L/effect/E/param/P", "value", "a frei0r effect's parameter: number 0..1, bool, r g b, x y, text"},
    {"/layer/L/blend/param/P", "value", "the same for the layer's frei0r mixer"},
    {"/layer/L/param/P", "value", "the same for a frei0r source layer"},
    {"/layer/add", "string", "a layer from the bank (--bank) on top, once it has loaded"},
    {"/layer/L/source", "string", "the layer shows another from the bank, its settings kept"},
    {"/layer/L/remove", "-", "the layer out of the stack"},
    {"/layer/L/move", "int", "the layer to that place, 1 at the bottom"},
    {"/osd/top", "string", "the OSD's top line, up to 51 characters; empty hides it"},
    {"/osd/middle", "string", "its middle line"},
    {"/osd/low", "string", "its bottom line"},
    {"/pause", "bool", "the layers stand still"},
    {"/magnify", "int 1..3", "window magnification"},
    {"/screenshot", "-", "a PNG of the next frame, kolvex-NNNN.png in the working directory"},
    {"/quit", "-", "ends the show"},
};

const int kOsdChars = 51;

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

std::string fmt(double v) {
  char buf[32];
  snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

// A number from an argument: OSC's numbers, or text that is one. NaN and
// infinities are refused, the rest clamped to lo..hi.
bool number(const ControlArgs &args, size_t i, double lo, double hi, double &out) {
  if (i >= args.size()) return false;
  double v = args[i].num;
  if (args[i].is_text) {
    const char *s = args[i].text.c_str();
    char *end = nullptr;
    errno = 0;
    v = strtod(s, &end);
    if (!*s || *end || errno == ERANGE) return false;
  }
  if (!std::isfinite(v)) return false;
  out = v < lo ? lo : v > hi ? hi : v;
  return true;
}

bool boolean(const ControlArgs &args, size_t i, bool &out) {
  if (i >= args.size()) return false;
  if (!args[i].is_text) {
    if (std::isnan(args[i].num)) return false;
    out = args[i].num != 0;
    return true;
  }
  const char *s = args[i].text.c_str();
  for (const char *yes : {"true", "yes", "on", "1"})
    if (strcasecmp(s, yes) == 0) return out = true;
  for (const char *no : {"false", "no", "off", "0"})
    if (strcasecmp(s, no) == 0) return !(out = false);
  return false;
}

int to_alpha(double unit) { return (int)lround(unit * 255); }

// A number `what` wants, as the one line `why` says.
ControlStatus wants(const std::string &what, std::string &why) {
  why = "wants " + what;
  return ControlStatus::bad_value;
}

SDLKey key_by_name(const std::string &name) {
  for (int k = SDLK_FIRST; k < SDLK_LAST; k++) {
    const char *n = SDL_GetKeyName((SDLKey)k);
    if (n && strcmp(n, "unknown key") != 0 && strcasecmp(n, name.c_str()) == 0) return (SDLKey)k;
  }
  return SDLK_UNKNOWN;
}

// A frei0r value from OSC's arguments: numbers joined with '/' (one number,
// a colour's three, a position's two), or the text as settings write it.
bool frei0r_value(const Frei0rPlugin &p, const std::string &param, const ControlArgs &args,
                  Frei0rSetting &out, std::string &why) {
  const int index = p.param_index(param);
  if (index < 0) {
    why = "no parameter " + param;
    return false;
  }
  std::string text;
  for (size_t i = 0; i < args.size(); i++) {
    if (!args[i].is_text && !std::isfinite(args[i].num)) {
      why = "wants a finite number";
      return false;
    }
    std::string part = args[i].is_text ? args[i].text : fmt(args[i].num);
    if (i) text += "/";
    for (char c : part) {
      if (c == ',' || c == '\\') text += '\\';
      text += c;
    }
  }
  std::vector<Frei0rSetting> parsed;
  if (args.empty() || !parse_frei0r_settings(p, p.params[index].key + "=" + text, parsed, why) ||
      parsed.size() != 1) {
    if (why.empty()) why = "wants a value";
    return false;
  }
  out = parsed[0];
  auto unit = [](double x) { return x < 0 ? 0 : x > 1 ? 1 : x; };
  Frei0rValue &v = out.value;
  v.number = unit(v.number);
  for (float &c : v.rgb) c = (float)unit(c);
  for (double &c : v.xy) c = unit(c);
  return true;
}

// One frei0r parameter from `args`: checked against the plug-in, applied
// by `apply`, with the value as applied and what the status line tells
// after the layer's label.
bool set_frei0r_param(const Frei0rPlugin &p, const std::string &param, const ControlArgs &args,
                      const std::function<void(const Frei0rSetting &)> &apply,
                      ControlArgs &applied, std::string &told, std::string &why) {
  Frei0rSetting s;
  if (!frei0r_value(p, param, args, s, why)) return false;
  apply(s);
  const std::string value = format_frei0r_value(s.value);
  applied = {ControlArg::string(value)};
  told = p.params[s.index].key + " " + value;
  return true;
}

}  // namespace

std::string layer_name(const std::string &source) {
  std::string key, settings;
  if (split_frei0r_name(source.c_str(), key, settings)) return "frei0r." + key;  // not its settings
  const size_t slash = source.rfind('/');
  return slash == std::string::npos ? source : source.substr(slash + 1);
}

struct Controls::Target {
  size_t layer = 0;
  int effect = 0;  // from 1, when the path names one
};

Controls::Controls(Context &ctx, std::vector<Layer *> stack, const std::vector<std::string> &names)
    : ctx_(ctx), stack_(std::move(stack)) {
  for (size_t i = 0; i < stack_.size(); i++) names_.push_back(layer_name(i < names.size() ? names[i] : ""));
  if (!stack_.empty()) sel_ = stack_.size() - 1;  // the top layer
}

Controls::~Controls() = default;

void Controls::list(FILE *out) {
  fprintf(out, "L: a layer's number from 1 at the bottom, or its name; E: an effect's\n"
               "number on the layer from 1, or its name; P: a parameter's name or number\n\n");
  for (const Row &r : kTree) fprintf(out, "%-28s %-15s %s\n", r.path, r.type, r.what);
}

std::string Controls::label(size_t i) const {
  Layer *l = stack_[i];
  return "layer " + std::to_string(i + 1) + " " + (l->filename[0] ? l->filename : l->name);
}

std::string Controls::mode(size_t i) const {
  Layer *l = stack_[i];
  if (l->get_blend()) return l->get_blend()->name();
  std::string m = blit_name(l->blit);
  return l->blit == BLIT_ALPHA ? m + " " + std::to_string(l->alpha) : m;
}

std::string Controls::own_blend(size_t i) const {
  auto parked = parked_.find(stack_[i]);
  if (parked != parked_.end()) return parked->second->name();
  return stack_[i]->get_blend() ? stack_[i]->get_blend()->name() : "";
}

bool Controls::fading_out(size_t i) const {
  Layer *l = stack_[i];
  return !(l->fade_out_target == 0 && (l->fade_in_target != 0 || l->alpha > 1));
}

int Controls::find_layer(const std::string &token) const {
  char *end = nullptr;
  const long n = strtol(token.c_str(), &end, 10);
  if (!token.empty() && !*end) return n >= 1 && (size_t)n <= stack_.size() ? (int)n - 1 : -1;
  for (size_t i = 0; i < names_.size(); i++)
    if (names_[i] == token) return (int)i;
  return -1;
}

ControlStatus Controls::set(const std::string &path, const ControlArgs &args, std::string &said,
                            std::string &why) {
  said.clear();
  why.clear();
  unchanged_ = false;
  const std::vector<std::string> parts = split_path(path);
  ControlArgs applied;
  std::string canonical = path;
  ControlStatus st;
  const bool restacks = parts.size() >= 2 && parts[0] == "layer" &&
                        ((parts.size() == 2 && parts[1] == "add") ||
                         (parts.size() == 3 && (parts[2] == "source" || parts[2] == "remove" ||
                                                parts[2] == "move")));
  if (restacks) {
    st = stack_set(parts, args, said, applied, canonical, why);
  } else if (parts.size() >= 3 && parts[0] == "layer") {
    const int i = find_layer(parts[1]);
    if (i < 0) {
      why = "no layer " + parts[1];
      return ControlStatus::unknown;
    }
    Target t;
    t.layer = (size_t)i;
    std::string what = parts[2];
    for (size_t k = 3; k < parts.size() && what != "effect" && what != "blend"; k++)
      what += "/" + parts[k];
    if (what == "effect" || what == "blend")
      st = effect_set(parts, t, args, said, applied, why);
    else
      st = layer_set(what, t, args, said, applied, why);
    // Layers and effects by number: a replay names what the stack had.
    canonical = "/layer/" + std::to_string(i + 1);
    for (size_t k = 2; k < parts.size(); k++)
      canonical += "/" + (k == 3 && t.effect ? std::to_string(t.effect) : parts[k]);
  } else {
    st = global_set(parts, args, said, applied, why);
  }
  if (st != ControlStatus::done || unchanged_) return st;
  changes++;
  if (on_change) on_change(canonical, applied);
  return st;
}

ControlStatus Controls::layer_set(const std::string &what, Target &t, const ControlArgs &args,
                                  std::string &said, ControlArgs &applied, std::string &why) {
  const size_t i = t.layer;
  Layer *l = stack_[i];
  ControlStatus st = ControlStatus::done;
  double v = 0;
  if (what == "alpha") {
    st = set_alpha(i, args, applied, why);
    said = label(i) + ": ALPHA " + std::to_string(l->alpha);
  } else if (what == "blit") {
    st = set_blit(i, args, applied, why);
    said = label(i) + ": " + mode(i);
  } else if (what == "pos") {
    double x, y;
    if (!number(args, 0, -32768, 32767, x) || !number(args, 1, -32768, 32767, y))
      return wants("X Y", why);
    l->set_position((int)lround(x), (int)lround(y));
    applied = {ControlArg::number((double)lround(x)), ControlArg::number((double)lround(y))};
    said = label(i) + ": at " + std::to_string(lround(x)) + "," + std::to_string(lround(y));
  } else if (what == "fade" || what == "fade/out" || what == "fade/in") {
    int target = -1;
    if (what != "fade" && !args.empty()) {
      if (!number(args, 0, 0, 1, v)) return wants("a target from 0 to 1", why);
      target = to_alpha(v);
      applied = {ControlArg::number(v)};
    }
    const bool out = what == "fade" ? !fading_out(i) : what == "fade/out";
    if (out) fade_out(i, target < 0 ? 0 : target);
    else fade_in(i, target);
    said = label(i) + (out ? ": fading out" : ": fading in");
  } else if (what == "shown") {
    bool on;
    if (!boolean(args, 0, on)) return wants("true or false", why);
    l->active = on;
    applied = {ControlArg::number(on)};
    said = label(i) + (on ? ": shown" : ": hidden");
  } else if (what == "select") {
    sel_ = i;
    said = label(i) + ": " + mode(i) + (l->active ? "" : ", hidden");
  } else if (what.compare(0, 6, "param/") == 0) {
    Frei0rLayer *source = dynamic_cast<Frei0rLayer *>(l);
    if (!source) {
      why = label(i) + " is not a frei0r source";
      return ControlStatus::unknown;
    }
    std::string told;
    if (!set_frei0r_param(source->plugin(), what.substr(6), args,
                          [source](const Frei0rSetting &s) { source->set(s); }, applied, told, why))
      return ControlStatus::bad_value;
    said = label(i) + ": " + told;
  } else if (what.compare(0, 6, "video/") == 0) {
    return video_set(what.substr(6), i, args, said, applied, why);
  } else if (what == "key") {
    if (args.size() != 1 || !args[0].is_text || key_by_name(args[0].text) == SDLK_UNKNOWN)
      return wants("a key's name", why);
    applied = args;
    said = pass_key(i, args[0].text);
    unchanged_ = said.empty();  // nothing took it
  } else {
    why = "no control " + what;
    return ControlStatus::unknown;
  }
  return st;
}

ControlStatus Controls::set_alpha(size_t i, const ControlArgs &args, ControlArgs &applied,
                                  std::string &why) {
  double v;
  if (args.size() != 1 || !number(args, 0, 0, 1, v)) return wants("a number from 0 to 1", why);
  Layer *l = stack_[i];
  // An explicit alpha ends any fade.
  l->fade_in_target = l->fade_out_target = 0;
  fading_out_.erase(l);
  faded_.erase(l);
  if (!l->get_blend()) l->set_blit(BLIT_ALPHA);  // a blend shows its result with the alpha
  l->set_alpha(to_alpha(v));
  applied = {ControlArg::number(l->alpha / 255.0)};
  return ControlStatus::done;
}

ControlStatus Controls::set_blit(size_t i, const ControlArgs &args, ControlArgs &applied,
                                 std::string &why) {
  if (args.size() != 1) return wants("one mode", why);
  Layer *l = stack_[i];
  const std::string own = own_blend(i);
  std::string name = args[0].is_text ? args[0].text : fmt(args[0].num);
  const int code = parse_blit(name);
  if (code) {
    if (l->get_blend() && !parked_.count(l)) parked_[l].reset(l->take_blend());
    l->set_blend(nullptr);
    l->set_blit(code);
    applied = {ControlArg::string(blit_name(code))};
    return ControlStatus::done;
  }
  const bool over = strcasecmp(name.c_str(), "over") == 0;
  if (!over && (own.empty() || strcasecmp(name.c_str(), own.c_str()) != 0))
    return wants("RGB, BLU, GRE, RED, ADD, SUB, AND, OR, ALPHA, 1-9, OVER" +
                     (own.empty() ? std::string() : " or " + own), why);
  auto parked = parked_.find(l);
  if (parked != parked_.end() && strcasecmp(name.c_str(), parked->second->name()) == 0) {
    l->set_blend(parked->second.release());
    parked_.erase(parked);
  } else if (!l->get_blend() || strcasecmp(l->get_blend()->name(), name.c_str()) != 0) {
    // OVER anew: our own blend, nothing loaded.
    if (l->get_blend() && !parked_.count(l)) parked_[l].reset(l->take_blend());
    std::string err;
    l->set_blend(make_blend("OVER", err));
  }
  applied = {ControlArg::string(l->get_blend()->name())};
  return ControlStatus::done;
}

// The engine's fades: one alpha step a frame, in the ALPHA mode. `target`
// 0 ends at 0 (the engine stops at 1: settle() takes the last step).
void Controls::fade_out(size_t i, int target) {
  Layer *l = stack_[i];
  if (!faded_.count(l))
    faded_[l] = {l->blit, l->blit == BLIT_ALPHA || l->get_blend() ? l->alpha : 255};
  l->set_blit(BLIT_ALPHA);
  l->fade_in_target = 0;
  l->fade_out_target = (uint8_t)(target < 1 ? 1 : target);
  if (l->alpha <= l->fade_out_target && target > 0) l->set_alpha(target);
  fading_out_[l] = target == 0;
}

void Controls::fade_in(size_t i, int target) {
  Layer *l = stack_[i];
  const Look was = faded_.count(l) ? faded_[l] : Look{BLIT_ALPHA, 255};
  const int to = target < 0 ? was.alpha : target;
  l->set_blit(BLIT_ALPHA);
  l->fade_out_target = 0;
  // The fade steps while it is below its target: one already there is done.
  l->fade_in_target = (uint8_t)to;
  if (l->alpha >= to) l->set_alpha(to);
  if (to == was.alpha) {
    fading_out_[l] = false;
    faded_[l] = was;
  } else {
    fading_out_.erase(l);
  }
}

void Controls::settle() {
  for (auto it = fading_out_.begin(); it != fading_out_.end();) {
    Layer *l = it->first;
    const bool out = it->second;
    if (out ? l->fade_out_target != 0 : l->fade_in_target != 0 && l->alpha < faded_[l].alpha) {
      ++it;
      continue;
    }
    if (out) {
      if (l->alpha <= 1) l->set_alpha(0);
    } else {
      // Faded back in: the mode it had before the fade out.
      l->set_alpha(faded_[l].alpha);
      l->set_blit(faded_[l].blit);
      faded_.erase(l);
    }
    it = fading_out_.erase(it);
  }
}

// The layer first (the generator's arrows), then its filters (vertigo's x,
// frei0r's [ ] , .).
// /layer/L/video/speed|seek|pause|restart: a video layer's own clock.
ControlStatus Controls::video_set(const std::string &what, size_t i, const ControlArgs &args,
                                  std::string &said, ControlArgs &applied, std::string &why) {
#ifdef KOLVEX_HAVE_FFMPEG
  VideoLayer *video = dynamic_cast<VideoLayer *>(stack_[i]);
  if (!video) {
    why = label(i) + " is not a video layer";
    return ControlStatus::unknown;
  }
  double v = 0;
  bool on = false;
  if (what == "speed") {
    if (!number(args, 0, VideoClock::min_speed, VideoClock::max_speed, v))
      return wants("a speed from 0.1 to 10", why);
    video->set_speed(v);
    applied = {ControlArg::number(v)};
  } else if (what == "seek") {
    if (!number(args, 0, 0, 1e9, v)) return wants("a time in seconds", why);
    video->seek(v);
    applied = {ControlArg::number(v)};
  } else if (what == "pause") {
    if (!boolean(args, 0, on)) return wants("true or false", why);
    video->set_paused(on);
    applied = {ControlArg::number(on)};
  } else if (what == "restart") {
    video->restart();
  } else {
    why = "no control video/" + what;
    return ControlStatus::unknown;
  }
  said = label(i) + ": " + video->key_status();
  return ControlStatus::done;
#else
  (void)what, (void)args, (void)said, (void)applied;
  why = label(i) + " is not a video layer (built without FFmpeg)";
  return ControlStatus::unknown;
#endif
}

std::string Controls::pass_key(size_t i, const std::string &name) {
  Layer *l = stack_[i];
  SDL_keysym k{};
  k.sym = key_by_name(name);
  const bool layer_used = l->keypress(&k);
  bool used = layer_used;
  // frei0r parameters tell their new values (frei0r_effects.h), a video
  // layer what its key changed ("speed 1.25x").
  std::string said;
  if (Frei0rLayer *source = dynamic_cast<Frei0rLayer *>(l)) said = source->last_said();
#ifdef KOLVEX_HAVE_FFMPEG
  if (VideoLayer *video = dynamic_cast<VideoLayer *>(l); video && layer_used)
    said = video->key_status();
#endif
  if (Frei0rMixer *mixer = dynamic_cast<Frei0rMixer *>(l->get_blend())) {
    const std::string s = mixer->key(k);
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
  if (!said.empty()) return label(i) + ": " + said;
  return used ? label(i) + ": key " + SDL_GetKeyName(k.sym) : "";
}

// /layer/L/effect/E/active, /layer/L/effect/E/param/P, /layer/L/blend/param/P.
ControlStatus Controls::effect_set(const std::vector<std::string> &parts, Target &t,
                                   const ControlArgs &args, std::string &said, ControlArgs &applied,
                                   std::string &why) {
  Layer *l = stack_[t.layer];
  if (parts[2] == "blend") {
    Frei0rMixer *mixer = dynamic_cast<Frei0rMixer *>(l->get_blend());
    if (!mixer || parts.size() != 5 || parts[3] != "param") {
      why = "no frei0r blend control " + parts[2];
      return ControlStatus::unknown;
    }
    std::string told;
    if (!set_frei0r_param(mixer->instance().plugin(), parts[4], args,
                          [mixer](const Frei0rSetting &s) { mixer->instance().set(s); }, applied,
                          told, why))
      return ControlStatus::bad_value;
    said = label(t.layer) + ": " + told;
    return ControlStatus::done;
  }
  if (parts.size() < 5) {
    why = "an effect's control is /effect/E/active or /effect/E/param/P";
    return ControlStatus::unknown;
  }
  Filter *f = nullptr;
  int number = 0;
  char *end = nullptr;
  const long wanted = strtol(parts[3].c_str(), &end, 10);
  const bool by_number = !parts[3].empty() && !*end;
  l->filters.lock();
  int n = 1;
  for (Entry *e = l->filters.begin(); e && !f; e = e->next, n++) {
    Filter *g = static_cast<Filter *>(e);
    if (by_number ? wanted == n : g->name && strcasecmp(g->name, parts[3].c_str()) == 0)
      f = g, number = n;
  }
  l->filters.unlock();
  if (!f) {
    why = "no effect " + parts[3] + " on layer " + std::to_string(t.layer + 1);
    return ControlStatus::unknown;
  }
  t.effect = number;
  if (parts[4] == "active" && parts.size() == 5) {
    bool on;
    if (!boolean(args, 0, on)) return wants("true or false", why);
    f->active = on;
    applied = {ControlArg::number(on)};
    said = label(t.layer) + ": " + (f->name ? f->name : "effect") + (on ? " on" : " off");
    return ControlStatus::done;
  }
  Frei0rFilter *fx = dynamic_cast<Frei0rFilter *>(f);
  if (parts[4] != "param" || parts.size() != 6 || !fx) {
    why = "no control " + parts[4] + " on effect " + parts[3];
    return ControlStatus::unknown;
  }
  std::string told;
  if (!set_frei0r_param(fx->instance().plugin(), parts[5], args,
                        [fx](const Frei0rSetting &s) { fx->instance().set(s); }, applied, told,
                        why))
    return ControlStatus::bad_value;
  said = label(t.layer) + ": " + told;
  return ControlStatus::done;
}

// The stack's own changes, through the editor. An add or a source is a
// load: done once asked, told to on_change when it joins (the editor).
ControlStatus Controls::stack_set(const std::vector<std::string> &parts, const ControlArgs &args,
                                  std::string &said, ControlArgs &applied, std::string &canonical,
                                  std::string &why) {
  if (!editor) {
    why = "no stack changes here";
    return ControlStatus::unknown;
  }
  const bool add = parts[1] == "add";
  const bool load = add || parts[2] == "source";
  if (load && (args.size() != 1 || !args[0].is_text)) return wants("a name from the bank", why);
  if (add) {
    if (!editor->add(args[0].text, why)) return ControlStatus::bad_value;
    said = args[0].text + ": loading";
    unchanged_ = true;
    return ControlStatus::done;
  }
  const int i = find_layer(parts[1]);
  if (i < 0) {
    why = "no layer " + parts[1];
    return ControlStatus::unknown;
  }
  const std::string what = label((size_t)i);
  canonical = "/layer/" + std::to_string(i + 1) + "/" + parts[2];
  if (parts[2] == "source") {
    if (!editor->source((size_t)i + 1, args[0].text, why)) return ControlStatus::bad_value;
    said = what + ": loading " + args[0].text;
    unchanged_ = true;
  } else if (parts[2] == "remove") {
    if (!args.empty()) return wants("no value", why);
    if (!editor->remove((size_t)i + 1, said, why)) return ControlStatus::unknown;
  } else {
    double v;
    if (args.size() != 1 || !number(args, 0, 1, 1e6, v)) return wants("a place from 1", why);
    size_t place = (size_t)lround(v);
    if (!editor->move((size_t)i + 1, place, why)) return ControlStatus::unknown;
    applied = {ControlArg::number((double)place)};
    said = what + ": to place " + std::to_string(place);
  }
  return ControlStatus::done;
}

void Controls::restack(std::vector<Layer *> stack, const std::vector<std::string> &names,
                       Layer *was, Layer *now) {
  Layer *selected = sel_ < stack_.size() ? stack_[sel_] : nullptr;
  if (selected == was) selected = now;
  if (was && now) {
    if (faded_.count(was)) faded_[now] = faded_[was];
    if (fading_out_.count(was)) fading_out_[now] = fading_out_[was];
    if (parked_.count(was)) parked_[now] = std::move(parked_[was]);
  }
  faded_.erase(was);
  fading_out_.erase(was);
  parked_.erase(was);
  stack_ = std::move(stack);
  names_.clear();
  for (size_t i = 0; i < stack_.size(); i++) names_.push_back(layer_name(i < names.size() ? names[i] : ""));
  sel_ = stack_.empty() ? 0 : stack_.size() - 1;
  for (size_t i = 0; i < stack_.size(); i++)
    if (stack_[i] == selected) sel_ = i;
}

ControlStatus Controls::global_set(const std::vector<std::string> &parts, const ControlArgs &args,
                                   std::string &said, ControlArgs &applied, std::string &why) {
  const std::string p = parts.size() == 1 ? parts[0] : parts.size() == 2 ? parts[0] + "/" + parts[1] : "";
  double v;
  bool on;
  if (p == "osd/top" || p == "osd/middle" || p == "osd/low") {
    if (args.size() != 1 || !args[0].is_text) return wants("a text", why);
    const std::string text = args[0].text.substr(0, kOsdChars);
    Osd &osd = ctx_.osd;
    char *line = p == "osd/top" ? osd.top_text : p == "osd/middle" ? osd.mid_text : osd.low_text;
    int32_t &show = p == "osd/top" ? osd.show_top : p == "osd/middle" ? osd.show_mid : osd.show_low;
    snprintf(line, sizeof osd.top_text, "%s", text.c_str());
    show = !text.empty();
    applied = {ControlArg::string(text)};
  } else if (p == "pause") {
    if (!boolean(args, 0, on)) return wants("true or false", why);
    paused = on;
    applied = {ControlArg::number(on)};
    said = on ? "paused" : "playing";
  } else if (p == "magnify") {
    if (!number(args, 0, 1, 3, v)) return wants("1, 2 or 3", why);
    ctx_.magnify((int)lround(v) - 1);
    applied = {ControlArg::number((double)lround(v))};
    said = "magnification " + std::to_string(lround(v)) + "x";
  } else if (p == "screenshot") {
    screenshot = true;
  } else if (p == "quit") {
    quit = true;
  } else {
    why = "no such control";
    return ControlStatus::unknown;
  }
  return ControlStatus::done;
}
