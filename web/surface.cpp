#include "surface.h"

#include <chrono>
#include <cmath>
#include <deque>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>

#include "modulator.h"
#include "replay.h"
#include "thumbnails.h"
#include "web_server.h"

using nlohmann::json;

namespace {

typedef WebServer::Client Client;

const int kThumbW = 160, kThumbH = 120;  // a layer's thumbnail at most
const int kPreviewMaxW = 1280;
const double kPictureSeconds = 0.2;      // pictures a few times a second
const double kAckSeconds = 2;            // a page that never acks gets more after this

json args_json(const ControlArgs &args) {
  json out = json::array();
  for (const ControlArg &a : args) {
    if (a.is_text) out.push_back(a.text);
    else out.push_back(a.num);
  }
  return out;
}

// JSON as sent: a text that is not UTF-8 (a file's name, an OSD line sent
// over OSC) has its bad bytes replaced rather than refused.
std::string text_of(const json &j) { return j.dump(-1, ' ', false, json::error_handler_t::replace); }

// A member of a page's message, null when it has none.
const json &field(const json &m, const char *name) {
  static const json none;
  const auto at = m.find(name);
  return at == m.end() ? none : *at;
}

// A page's value: an array of numbers and strings, or one bare; none for
// a trigger. False with `why` for anything else.
bool json_args(const json &value, ControlArgs &out, std::string &why) {
  if (value.is_null()) return true;
  const json items = value.is_array() ? value : json::array({value});
  for (const json &v : items) {
    if (v.is_boolean()) out.push_back(ControlArg::number(v.get<bool>() ? 1 : 0));
    else if (v.is_number()) out.push_back(ControlArg::number(v.get<double>()));
    else if (v.is_string()) out.push_back(ControlArg::string(v.get<std::string>()));
    else {
      why = "a value is numbers and texts";
      return false;
    }
  }
  return true;
}

// One row as the page draws it: what params.h declares, and its value now.
json row_json(const Param &p, const std::string &path, const Parametric *obj) {
  json r = {{"path", path},       {"name", p.name}, {"type", param_type_name(p.type)},
            {"min", p.min},       {"max", p.max},   {"def", p.def},
            {"step", p.step},     {"unit", p.unit}, {"help", p.help},
            {"live", p.live}};
  if (!p.choices.empty()) r["choices"] = p.choices;
  if (!p.extras.empty()) {
    json extras = json::array();
    for (const ParamExtra &e : p.extras) extras.push_back({{"name", e.name}, {"min", e.min}, {"max", e.max}});
    r["extras"] = extras;
  }
  if (obj && p.get && p.type != ParamType::trigger) r["value"] = args_json(param_args(p, p.get(*obj)));
  return r;
}

json rows_json(const ParamTable &table, const std::string &prefix, const Parametric *obj) {
  json rows = json::array();
  for (const Param &p : table) rows.push_back(row_json(p, prefix + p.name, obj));
  return rows;
}

// A stream's address without its path: a stream key stays off the page.
std::string stream_host(const std::string &url) {
  const size_t scheme = url.find("://");
  if (scheme == std::string::npos) return url.substr(0, url.find('/'));
  const size_t path = url.find('/', scheme + 3);
  return path == std::string::npos ? url : url.substr(0, path) + "/...";
}

double seconds_now() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

std::string installed_page_dir() { return beside_program(KOLVEX_PAGE_DIR_FROM_BIN); }

// ---------------------------------------------------------------------------
// What the server's threads hand over, and what they read
// ---------------------------------------------------------------------------
struct Peer {
  int preview = 0;       // the preview's width; 0: none wanted
  bool thumbs = false;
  double waiting = 0;    // when its last batch went, until its ack; 0: none
};

struct Inbox {
  std::mutex mu;
  std::deque<std::pair<Client, std::string>> messages;
  std::vector<Client> opened;         // not sent a state yet
  std::map<Client, Peer> peers;       // open pages
  std::vector<std::string> notices;   // lines for the performer
  bool overflow = false;              // a full inbox told, until it empties
};

struct WebSurface::Impl {
  Impl(Player &p, const SurfaceOptions &o)
      : player(p), opt(o), thumbs([this](int slot, const std::string &jpeg) { picture(slot, jpeg); }) {}

  Player &player;
  SurfaceOptions opt;
  const ShowRecorder *recorder = nullptr;
  Inbox in;
  WebServer server;
  Thumbnails thumbs;
  HookHandle layer_hook;

  // Main thread.
  std::string shape;                        // the stack's, as last sent
  std::map<std::string, std::string> sent;  // each row's value as last sent
  std::map<const Layer *, int> places;      // for the layer hook
  int64_t live_frame = -1;
  double live_at = 0, rate = 0;  // when the last live message went, the rate since
  int64_t live_frames = 0;
  double last_picture = 0;
  bool sampling = false;  // this frame's layers are sampled for a batch
  // Encoder's thread.
  int batch = 0, batch_done = 0;

  void start_hooks();
  void take(Controls &controls);
  void message(Controls &controls, Client c, const std::string &text);
  // The frame's work reads the stack once (bottom first).
  typedef std::vector<Layer *> Stack;
  void frame_out(Context &ctx);
  json state(Controls &controls, const Stack &stack);
  static std::string stack_shape(const Stack &stack);
  void send_changes(Controls &controls, const Stack &stack, bool send = true);
  void send_live(Controls &controls);
  void pictures(Context &ctx, const Stack &stack);
  void picture(int slot, const std::string &jpeg);
  void reply(Client c, const json &id, json body) {
    if (!id.is_null()) body["id"] = id;
    server.send(c, text_of(body));
  }
};

// ---------------------------------------------------------------------------
// Pages to the tree (poll, between frames)
// ---------------------------------------------------------------------------
void WebSurface::Impl::take(Controls &controls) {
  std::deque<std::pair<Client, std::string>> now;
  std::vector<std::string> notices;
  {
    std::lock_guard<std::mutex> lock(in.mu);
    const size_t n = std::min(in.messages.size(), (size_t)kMaxSetsPerFrame);
    now.assign(in.messages.begin(), in.messages.begin() + n);
    in.messages.erase(in.messages.begin(), in.messages.begin() + n);
    if (in.messages.empty()) in.overflow = false;
    notices.swap(in.notices);
  }
  for (const std::string &line : notices) player.announce(line);
  for (const auto &m : now) message(controls, m.first, m.second);
}

void WebSurface::Impl::message(Controls &controls, Client c, const std::string &text) {
  const json m = json::parse(text, nullptr, false);
  if (m.is_discarded() || !m.is_object()) {
    reply(c, nullptr, {{"type", "error"}, {"error", "not a JSON object"}});
    return;
  }
  const json &id_field = field(m, "id");
  const json id = id_field.is_number() || id_field.is_string() ? id_field : json();
  const json &kind = field(m, "type");
  const std::string type = kind.is_string() ? kind.get<std::string>() : "";
  if (type == "ack") {
    std::lock_guard<std::mutex> lock(in.mu);
    if (in.peers.count(c)) in.peers[c].waiting = 0;
    return;
  }
  if (type == "view") {
    const json &w = field(m, "preview");
    const double width = w.is_number() ? w.get<double>() : 0;
    std::lock_guard<std::mutex> lock(in.mu);
    if (!in.peers.count(c)) return;
    Peer &p = in.peers[c];
    p.preview = width >= 1 ? (int)std::min<double>(kPreviewMaxW, width) : 0;
    p.thumbs = field(m, "thumbs") == true;
    return;
  }
  if (type != "set" && type != "get") {
    reply(c, id, {{"type", "error"}, {"error", "a message is a set, a get, a view or an ack"}});
    return;
  }
  const json &path_field = field(m, "path");
  if (!path_field.is_string()) {
    reply(c, id, {{"type", "error"}, {"error", "names no path"}});
    return;
  }
  const std::string path = path_field.get<std::string>();
  ControlArgs args;
  std::string said, why;
  if (type == "get") {
    if (controls.get(path, args, why))
      reply(c, id, {{"type", "value"}, {"path", path}, {"value", args_json(args)}});
    else
      reply(c, id, {{"type", "error"}, {"error", path + ": " + why}});
    return;
  }
  if (!json_args(field(m, "value"), args, why) ||
      controls.set(path, args, said, why) != ControlStatus::done)
    reply(c, id, {{"type", "error"}, {"error", path + ": " + why}});
  else
    reply(c, id, {{"type", "done"}, {"said", said}});
}

// ---------------------------------------------------------------------------
// The tree to pages (after each frame went out)
// ---------------------------------------------------------------------------
// What makes the page's strips: the layers, their effects and blends and
// the sizes of their tables. Anything else changes values only.
std::string WebSurface::Impl::stack_shape(const Stack &stack) {
  std::string s;
  for (Layer *l : stack) {
    s += l->source + "|" + std::to_string(l->params().size());
    if (const LayerBlend *b = l->get_blend()) s += std::string("|") + b->name();
    l->filters.lock();
    for (Entry *e = l->filters.begin(); e; e = e->next) {
      const Filter *f = static_cast<Filter *>(e);
      s += std::string("|") + (f->name ? f->name : "?") + std::to_string(f->params().size());
    }
    l->filters.unlock();
    s += "\n";
  }
  return s;
}

json WebSurface::Impl::state(Controls &controls, const Stack &stack) {
  Context &ctx = *player.context();
  json layers = json::array();
  const size_t selected = controls.selected();
  for (size_t i = 0; i < stack.size(); i++) {
    Layer *l = stack[i];
    const std::string prefix = "/layer/" + std::to_string(i + 1) + "/";
    json rows = rows_json(l->params(), prefix, l);
    for (const char *own : {"select", "key", "source", "remove", "move"}) {
      std::string why;
      if (const Param *p = controls.param_at(prefix + own, why))
        rows.push_back(row_json(*p, prefix + own, nullptr));
    }
    json effects = json::array();
    int n = 1;
    l->filters.lock();
    for (Entry *e = l->filters.begin(); e; e = e->next, n++) {
      const Filter *f = static_cast<Filter *>(e);
      const std::string at = prefix + "effect/" + std::to_string(n) + "/";
      effects.push_back({{"name", f->name ? f->name : "effect"}, {"path", at},
                         {"params", rows_json(f->params(), at, f)}});
    }
    l->filters.unlock();
    json blend = nullptr;
    if (const LayerBlend *b = l->get_blend())
      blend = {{"name", b->name()}, {"path", prefix + "blend/"},
               {"params", rows_json(b->params(), prefix + "blend/", b)}};
    layers.push_back({{"place", i + 1}, {"name", layer_name(l->source)},
                      {"label", layer_label(i + 1, *l)}, {"path", prefix},
                      {"selected", i == selected}, {"params", rows}, {"effects", effects},
                      {"blend", blend}});
  }
  json show = rows_json(controls.params(), "/", &controls);
  std::string why;
  if (const Param *add = controls.param_at("/layer/add", why)) show.push_back(row_json(*add, "/layer/add", nullptr));
  json groups = json::array({{{"name", "osd"}, {"path", "/osd/"}, {"params", rows_json(ctx.osd.params(), "/osd/", &ctx.osd)}},
                             {{"name", "show"}, {"path", "/"}, {"params", show}}});
  if (Modulator *m = player.modulator())
    groups.push_back({{"name", "modulation"}, {"path", "/"}, {"params", rows_json(m->params(), "/", m)}});
  json bank = json::array();
  std::set<std::string> names;
  for (const std::string &file : player.bank().files())
    if (names.insert(layer_name(file)).second) bank.push_back(layer_name(file));
  return {{"type", "state"}, {"width", ctx.screen->w}, {"height", ctx.screen->h},
          {"fps", player.options().fps}, {"layers", layers}, {"groups", groups},
          {"bank", bank}, {"token", !opt.token.empty()}};
}

// Every row's value against what pages were sent: whatever changed it (a
// page, keys, OSC, a map, a fade) shows in every page. Not sent: only
// taken as what they have.
void WebSurface::Impl::send_changes(Controls &controls, const Stack &stack, bool send) {
  json items = json::array();
  auto diff = [&](const ParamTable &table, const std::string &prefix, const Parametric &obj) {
    for (const Param &p : table) {
      if (!p.get || p.type == ParamType::trigger) continue;
      const json value = args_json(param_args(p, p.get(obj)));
      std::string &was = sent[prefix + p.name];
      std::string now = text_of(value);
      if (now == was) continue;
      was.swap(now);
      items.push_back({{"path", prefix + p.name}, {"value", value}});
    }
  };
  for (size_t i = 0; i < stack.size(); i++) {
    Layer *l = stack[i];
    const std::string prefix = "/layer/" + std::to_string(i + 1) + "/";
    diff(l->params(), prefix, *l);
    int n = 1;
    l->filters.lock();
    for (Entry *e = l->filters.begin(); e; e = e->next, n++) {
      const Filter *f = static_cast<Filter *>(e);
      diff(f->params(), prefix + "effect/" + std::to_string(n) + "/", *f);
    }
    l->filters.unlock();
    if (const LayerBlend *b = l->get_blend()) diff(b->params(), prefix + "blend/", *b);
  }
  diff(player.context()->osd.params(), "/osd/", player.context()->osd);
  diff(controls.params(), "/", controls);
  if (Modulator *m = player.modulator()) diff(m->params(), "/", *m);
  if (send && !items.empty()) server.broadcast(text_of(json{{"type", "changes"}, {"items", items}}));
}

void WebSurface::Impl::send_live(Controls &controls) {
  const PlayerOptions &o = player.options();
  // The rate the show keeps, from the frames since the last message.
  const double now = seconds_now();
  if (live_at > 0 && now > live_at) rate = (player.frame() - live_frames) / (now - live_at);
  live_at = now;
  live_frames = player.frame();
  json live = {{"type", "live"},        {"frame", player.frame()},
               {"fps", rate},           {"paused", controls.paused},
               {"selected", controls.selected() + 1},
               {"record", nullptr},     {"stream", nullptr},
               {"tempo", nullptr},      {"maps", nullptr}};
  if (!o.record_file.empty())
    live["record"] = {{"file", o.record_file}, {"on", recorder && recorder->recording()}};
  if (!o.stream_url.empty())
    live["stream"] = {{"url", stream_host(o.stream_url)}, {"dropped", player.session()->stream_dropped()}};
  if (Modulator *m = player.modulator()) {
    const double bpm = m->source("tempo/bpm") * 240;
    if (bpm > 0) live["tempo"] = {{"bpm", bpm}, {"phase", m->source("tempo/phase")}};
    live["maps"] = m->map_texts();
  }
  server.broadcast(text_of(live));
}

// A batch: the layers are sampled as the next frame draws them (the layer
// hook), the programme once that frame went out; then encoded off the loop.
void WebSurface::Impl::pictures(Context &ctx, const Stack &stack) {
  if (sampling) {
    sampling = false;
    int width = 0;
    {
      std::lock_guard<std::mutex> lock(in.mu);
      for (const auto &p : in.peers) width = std::max(width, p.second.preview);
    }
    ViewPort *s = ctx.screen.get();
    if (width > 0 && s->lock()) {
      thumbs.sample(0, (const uint8_t *)s->get_surface(), s->w, s->h, s->pitch, width,
                    (int)std::lround((double)width * s->h / s->w));
      s->unlock();
      batch++;
    }
    thumbs.encode();
    return;
  }
  const double now = seconds_now();
  if (now - last_picture < kPictureSeconds || !thumbs.idle()) return;
  bool wanted = false;
  {
    std::lock_guard<std::mutex> lock(in.mu);
    for (auto &p : in.peers) {
      if (p.second.waiting && now - p.second.waiting > kAckSeconds) p.second.waiting = 0;
      wanted |= !p.second.waiting && (p.second.preview || p.second.thumbs);
    }
  }
  if (!wanted) return;
  last_picture = now;
  places.clear();  // what the layer hook reads while the next frame is drawn
  for (size_t i = 0; i < stack.size(); i++) places[stack[i]] = (int)i + 1;
  sampling = true;
  batch = 0;
  batch_done = 0;
}

// On the encoder's thread: to every page that wants it and is not behind.
void WebSurface::Impl::picture(int slot, const std::string &jpeg) {
  std::string bytes(4, '\0');
  bytes[2] = (char)(slot & 0xff);
  bytes[3] = (char)(slot >> 8);
  bytes[0] = slot ? 1 : 0;
  bytes[1] = ++batch_done == batch ? 1 : 0;  // the batch's last
  bytes += jpeg;
  std::lock_guard<std::mutex> lock(in.mu);
  for (auto &p : in.peers) {
    if (p.second.waiting) continue;
    if (slot ? !p.second.thumbs : !p.second.preview) continue;
    server.send_binary(p.first, bytes);
  }
  if (bytes[1])
    for (auto &p : in.peers)
      if (!p.second.waiting && (p.second.preview || p.second.thumbs)) p.second.waiting = seconds_now();
}

void WebSurface::Impl::frame_out(Context &ctx) {
  Controls &controls = *player.controls();
  std::vector<Client> opened;
  {
    std::lock_guard<std::mutex> lock(in.mu);
    opened.swap(in.opened);
    if (in.peers.empty()) return;
  }
  const Stack stack = controls.stack();
  const std::string now = stack_shape(stack);
  if (now != shape || !opened.empty()) {
    const bool all = now != shape;
    shape = now;
    const std::string text = text_of(state(controls, stack));
    if (all) server.broadcast(text);
    else
      for (Client c : opened) server.send(c, text);
    if (all) {
      sent.clear();  // the state holds every value now
      send_changes(controls, stack, false);
    }
  }
  send_changes(controls, stack);
  const int64_t every = std::max(1, player.options().fps / 4);
  if (player.frame() / every != live_frame) {
    live_frame = player.frame() / every;
    send_live(controls);
  }
  pictures(ctx, stack);
}

void WebSurface::Impl::start_hooks() {
  server.on_open = [this](Client c) {
    std::lock_guard<std::mutex> lock(in.mu);
    in.peers[c] = Peer();
    in.opened.push_back(c);
  };
  server.on_close = [this](Client c) {
    std::lock_guard<std::mutex> lock(in.mu);
    in.peers.erase(c);
  };
  server.on_message = [this](Client c, const std::string &text) {
    std::lock_guard<std::mutex> lock(in.mu);
    if (in.messages.size() < (size_t)kMaxQueued) {
      in.messages.emplace_back(c, text);
    } else if (!in.overflow) {
      in.overflow = true;
      in.notices.push_back("control surface: too many changes waiting; dropped until the show has taken them");
    }
  };
  server.on_notice = [this](const std::string &line) {
    std::lock_guard<std::mutex> lock(in.mu);
    in.notices.push_back(line);
  };
  Context &ctx = *player.context();
  layer_hook = ctx.on_layer_frame.set([this](const Layer &l, const void *frame) {
    if (!sampling || !frame) return false;
    const auto at = places.find(&l);
    if (at == places.end()) return false;
    thumbs.sample(at->second, (const uint8_t *)frame, l.geo.w, l.geo.h, l.geo.pitch, kThumbW, kThumbH);
    batch++;
    return true;
  });
  player.on_programme([this](Context &c) { frame_out(c); });
}

// ---------------------------------------------------------------------------
WebSurface::WebSurface(Player &player, const SurfaceOptions &opt) : impl_(new Impl(player, opt)) {}
WebSurface::~WebSurface() {
  impl_->server.stop();  // no callback into what goes next
}

bool WebSurface::start(std::string &err) {
  WebServerOptions so;
  so.addr = impl_->opt.addr;
  so.port = impl_->opt.port;
  so.token = impl_->opt.token;
  so.root = impl_->opt.root.empty() ? installed_page_dir() : impl_->opt.root;
  impl_->start_hooks();
  return impl_->server.start(so, err);
}

int WebSurface::port() const { return impl_->server.port(); }
void WebSurface::show_record(const ShowRecorder *recorder) { impl_->recorder = recorder; }

void WebSurface::poll(Controls &controls, int64_t) { impl_->take(controls); }

bool attach_surface(Player &player, const PlayerOptions &opt, const ShowRecorder *recorder,
                    std::string &err) {
  SurfaceOptions so;
  so.addr = opt.http_bind;
  so.port = opt.http_port;
  so.token = opt.http_token;
  so.root = opt.http_root;
  std::unique_ptr<WebSurface> surface(new WebSurface(player, so));
  surface->show_record(recorder);
  if (!surface->start(err)) {
    err = "--http: " + err;
    return false;
  }
  if (!opt.quiet)
    fprintf(stderr, "kolvex: control surface at http://%s:%d/\n", opt.http_bind.c_str(), surface->port());
  player.add_source(std::move(surface));
  return true;
}
