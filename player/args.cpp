#include "args.h"

#include <getopt.h>
#include <strings.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "factory.h"
#include "frei0r_host.h"
#include "lfo.h"
#include "map.h"
#include "player.h"
#include "worker_pool.h"

namespace {

// Options without a one-letter form.
enum {
  OPT_BLIT = 256, OPT_ALPHA, OPT_EFFECT, OPT_POS, OPT_FIT, OPT_FILL, OPT_ONCE, OPT_SPEED,
  OPT_START, OPT_SET,
  OPT_SIZE, OPT_FPS, OPT_SECONDS, OPT_MAGNIFY, OPT_FULLSCREEN, OPT_CAPTURE, OPT_FORMAT,
  OPT_SEED, OPT_LIST_EFFECTS, OPT_PLUGIN_DIR, OPT_CRF, OPT_PRESET, OPT_STREAM, OPT_STREAM_FORMAT,
  OPT_OSC, OPT_OSC_BIND, OPT_OSC_FEEDBACK, OPT_RECORD, OPT_REPLAY, OPT_LIST_CONTROLS, OPT_BANK,
  OPT_LFO, OPT_MAP, OPT_AUDIO, OPT_AUDIO_IN, OPT_MIDI, OPT_LIST_MIDI,
  OPT_HTTP, OPT_HTTP_BIND, OPT_HTTP_TOKEN, OPT_HTTP_ROOT, OPT_THREADS,
};

const struct option kOptions[] = {
    {"blit", required_argument, nullptr, OPT_BLIT},
    {"alpha", required_argument, nullptr, OPT_ALPHA},
    {"effect", required_argument, nullptr, OPT_EFFECT},
    {"pos", required_argument, nullptr, OPT_POS},
    {"fit", no_argument, nullptr, OPT_FIT},
    {"fill", no_argument, nullptr, OPT_FILL},
    {"once", no_argument, nullptr, OPT_ONCE},
    {"speed", required_argument, nullptr, OPT_SPEED},
    {"start", required_argument, nullptr, OPT_START},
    {"set", required_argument, nullptr, OPT_SET},
    {"size", required_argument, nullptr, OPT_SIZE},
    {"fps", required_argument, nullptr, OPT_FPS},
    {"seconds", required_argument, nullptr, OPT_SECONDS},
    {"magnify", required_argument, nullptr, OPT_MAGNIFY},
    {"fullscreen", no_argument, nullptr, OPT_FULLSCREEN},
    {"threads", required_argument, nullptr, OPT_THREADS},
    {"capture", required_argument, nullptr, OPT_CAPTURE},
    {"format", required_argument, nullptr, OPT_FORMAT},
    {"crf", required_argument, nullptr, OPT_CRF},
    {"preset", required_argument, nullptr, OPT_PRESET},
    {"stream", required_argument, nullptr, OPT_STREAM},
    {"stream-format", required_argument, nullptr, OPT_STREAM_FORMAT},
    {"seed", required_argument, nullptr, OPT_SEED},
    {"list-effects", no_argument, nullptr, OPT_LIST_EFFECTS},
    {"plugin-dir", required_argument, nullptr, OPT_PLUGIN_DIR},
    {"osc", required_argument, nullptr, OPT_OSC},
    {"osc-bind", required_argument, nullptr, OPT_OSC_BIND},
    {"osc-feedback", required_argument, nullptr, OPT_OSC_FEEDBACK},
    {"record", required_argument, nullptr, OPT_RECORD},
    {"replay", required_argument, nullptr, OPT_REPLAY},
    {"list-controls", no_argument, nullptr, OPT_LIST_CONTROLS},
    {"bank", required_argument, nullptr, OPT_BANK},
    {"lfo", required_argument, nullptr, OPT_LFO},
    {"map", required_argument, nullptr, OPT_MAP},
    {"audio", required_argument, nullptr, OPT_AUDIO},
    {"audio-in", required_argument, nullptr, OPT_AUDIO_IN},
    {"midi", required_argument, nullptr, OPT_MIDI},
    {"list-midi", no_argument, nullptr, OPT_LIST_MIDI},
    {"http", required_argument, nullptr, OPT_HTTP},
    {"http-bind", required_argument, nullptr, OPT_HTTP_BIND},
    {"http-token", required_argument, nullptr, OPT_HTTP_TOKEN},
    {"http-root", required_argument, nullptr, OPT_HTTP_ROOT},
    {"quiet", no_argument, nullptr, 'q'},
    {"verbose", no_argument, nullptr, 'v'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0}};

// "-": non-options come back in place (as option 1); ":": a missing value
// is reported as ':' and getopt prints nothing itself.
const char kShort[] = "-:qvhV";

std::string option_name(int val) {
  for (const struct option *o = kOptions; o->name; o++)
    if (o->val == val) return std::string("--") + o->name;
  return std::string("-") + (char)val;
}

bool parse_long(const char *text, long min, long max, long &out) {
  char *end = nullptr;
  errno = 0;
  long v = strtol(text, &end, 10);
  if (!*text || *end || errno || v < min || v > max) return false;
  out = v;
  return true;
}

// "AxB" with the separator `sep`, each part within min..max.
bool parse_pair(const char *text, char sep, long min, long max, int &a, int &b) {
  const char *mid = strchr(text, sep);
  if (!mid) return false;
  long x, y;
  if (!parse_long(std::string(text, mid).c_str(), min, max, x) ||
      !parse_long(mid + 1, min, max, y))
    return false;
  a = (int)x;
  b = (int)y;
  return true;
}

bool known(int val) {
  for (const struct option *o = kOptions; o->name; o++)
    if (o->val == val) return true;
  return false;
}

// An option getopt did not take: unknown, ambiguous, or given a value it
// does not take. `arg` is the argument of an unknown long option.
std::string refused(const char *arg, int optopt) {
  if (known(optopt)) return option_name(optopt) + " takes no value";
  if (optopt) return std::string("unknown option -") + (char)optopt;
  std::string name(arg, strcspn(arg, "="));
  int matches = 0;
  for (const struct option *o = kOptions; o->name; o++)
    matches += name.size() > 2 && strncmp(o->name, name.c_str() + 2, name.size() - 2) == 0;
  return (matches > 1 ? "ambiguous option " : "unknown option ") + name;
}

// The options whose value is a number, its range, and how it is asked for.
struct NumberOption {
  int opt;
  long min, max;
  const char *wanted;
};
const NumberOption kNumbers[] = {
    {OPT_ALPHA, 0, 255, "0 to 255"},      {OPT_FPS, 1, 200, "1 to 200"},
    {OPT_SECONDS, 0, 86400, "0 to 86400"}, {OPT_MAGNIFY, 1, 3, "1, 2 or 3"},
    {OPT_SEED, 0, 0xFFFFFFFFL, "a number from 0 to 4294967295"},
    {OPT_OSC, 1, 65535, "a UDP port from 1 to 65535"},
    {OPT_HTTP, 0, 65535, "a TCP port from 1 to 65535, or 0 for any free one"},
    {OPT_THREADS, 0, WorkerPool::kMaxThreads, "0 to 256 (0: one for each core)"}};

std::string show_args(const ParamArgs &args) {
  std::string out;
  for (const ParamArg &a : args) out += (out.empty() ? "" : ",") + (a.is_text ? a.text : std::to_string(a.num));
  return out;
}

// A row of a layer kind's table (factory.h), checked by the row itself: in
// range, of its type. Whether the layer's kind has it is known once it is
// made.
bool kind_setting(LayerSpec &layer, const std::string &option, const std::string &row,
                  const ParamArgs &args, std::string &err) {
  std::vector<const ParamTable *> tables = {&Layer::base_params()};
  for (const LayerKind &k : layer_kinds()) tables.push_back(&k.params());
  for (const ParamTable *t : tables)
    for (const Param &p : *t) {
      if (p.name != row) continue;
      ParamValue v;
      std::string why;
      if (parse_param(p, args, v, why) != ParamParse::ok) {
        err = option + " " + param_wants(p) + ", not " + show_args(args);
        return false;
      }
      layer.settings.push_back({option, row, args});
      return true;
    }
  err = option + ": " + row + " is no layer's setting (--list-controls lists them)";
  return false;
}

// --set NAME=VALUE[,VALUE...]: any row of the layer's table.
bool set_option(LayerSpec &layer, const std::string &option, const std::string &text,
                std::string &err) {
  const size_t eq = text.find('=');
  if (eq == std::string::npos || eq == 0) {
    err = option + " wants NAME=VALUE, not " + text;
    return false;
  }
  ParamArgs args;
  for (size_t at = eq + 1;;) {
    const size_t comma = text.find(',', at);
    args.push_back(ParamArg::string(text.substr(at, comma == std::string::npos ? comma : comma - at)));
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  return kind_setting(layer, option + " " + text.substr(0, eq), text.substr(0, eq), args, err);
}

// Applies one option that takes a value; false with `err` set.
bool apply(int opt, const char *val, PlayerOptions &o, std::vector<bool> &blit_given,
           std::string &err) {
  const std::string name = option_name(opt);
  LayerSpec *layer = o.layers.empty() ? nullptr : &o.layers.back();
  if (!*val) {
    err = name + " needs a value";
    return false;
  }
  if (opt >= OPT_BLIT && opt <= OPT_SET && !layer) {
    err = name + " " + val + ": no LAYER before it (layer options follow their layer)";
    return false;
  }
  if (opt >= OPT_BLIT && opt <= OPT_SET) {  // kept for a record
    layer->args.push_back(name);
    layer->args.push_back(val);
  }
  long n = 0;
  for (const NumberOption &num : kNumbers) {
    if (num.opt == opt && !parse_long(val, num.min, num.max, n)) {
      err = name + " wants " + num.wanted + ", not " + val;
      return false;
    }
  }
  switch (opt) {
    case OPT_BLIT:
      // OVER and frei0r mixers are the layer's own blends, told apart here
      // and made with the layer (make_blend).
      layer->blend.clear();
      if (strcasecmp(val, "over") == 0 || strncasecmp(val, KOLVEX_FREI0R_PREFIX, 7) == 0) {
        layer->blend = val;
      } else if (!(layer->blit = parse_blit(val))) {
        err = name + " wants RGB, BLU, GRE, RED, ADD, SUB, AND, OR, ALPHA, 1-9, OVER or " +
              KOLVEX_FREI0R_PREFIX + "MIXER, not " + val;
        return false;
      }
      blit_given.back() = true;
      break;
    case OPT_ALPHA: layer->alpha = (int)n; break;
    case OPT_EFFECT: layer->effects.push_back(val); break;
    case OPT_POS:
      if (!parse_pair(val, ',', -32768, 32767, layer->x, layer->y)) {
        err = name + " wants X,Y, not " + val;
        return false;
      }
      layer->has_pos = true;
      break;
    case OPT_SET: return set_option(*layer, name, val, err);
    case OPT_SPEED:
    case OPT_START:
      return kind_setting(*layer, name, opt == OPT_SPEED ? "video/speed" : "video/start",
                          {ParamArg::string(val)}, err);
    case OPT_SIZE:
      if (!parse_pair(val, 'x', 16, 4096, o.width, o.height)) {
        err = name + " wants WxH from 16x16 to 4096x4096, not " + val;
        return false;
      }
      o.size_given = true;
      break;
    case OPT_FPS: o.fps = (int)n; break;
    case OPT_SECONDS: o.seconds = (int)n; break;
    case OPT_MAGNIFY: o.magnify = (int)n; break;
    case OPT_THREADS: o.threads = (int)n; break;
    case OPT_CAPTURE: o.capture_dir = val; break;
    case OPT_FORMAT:
    case OPT_CRF:
    case OPT_PRESET: return capture::parse_capture_option(name, val, o.capture, err);
    case OPT_SEED:
      o.has_seed = true;
      o.seed = (uint32_t)n;
      break;
    case OPT_PLUGIN_DIR: o.plugin_dir = val; break;
    case OPT_OSC: o.osc_port = (int)n; break;
    case OPT_OSC_BIND: o.osc_bind = val; break;
    case OPT_OSC_FEEDBACK: {
      const char *colon = strrchr(val, ':');
      long port = 0;
      if (!colon || colon == val || !parse_long(colon + 1, 1, 65535, port)) {
        err = name + " wants HOST:PORT, not " + val;
        return false;
      }
      o.osc_feedback = val;
      break;
    }
    case OPT_RECORD: o.record_file = val; break;
    case OPT_REPLAY: o.replay_file = val; break;
    case OPT_BANK: o.banks.push_back(val); break;
    case OPT_LFO: {
      Lfo lfo;
      if (!Lfo::parse(val, lfo, err)) return false;
      o.lfos.push_back(lfo.text());
      break;
    }
    case OPT_MAP: {
      Map map;
      if (!Map::parse(val, map, err)) {
        err = name + " '" + val + "': " + err;
        return false;
      }
      o.maps.push_back(map.text());
      break;
    }
    case OPT_STREAM: o.stream_url = val; break;
    case OPT_STREAM_FORMAT: o.stream_format = val; break;
    case OPT_AUDIO: o.audio_file = val; break;
    case OPT_AUDIO_IN:
      if (strcmp(val, "jack") != 0 && strncmp(val, "jack:", 5) != 0) {
        err = name + " wants jack or jack:PORT (a JACK port, as jack_lsp lists them), not " + val;
        return false;
      }
      o.audio_in = val;
      break;
    case OPT_MIDI: o.midi_port = val; break;
    case OPT_HTTP: o.http_port = (int)n; break;
    case OPT_HTTP_BIND: o.http_bind = val; break;
    case OPT_HTTP_TOKEN: o.http_token = val; break;
    case OPT_HTTP_ROOT: o.http_root = val; break;
  }
  return true;
}

// A live stream: not with a capture, --crf and --preset as for mp4.
bool check_stream(const PlayerOptions &o, bool format_given, std::string &err) {
  if (!o.capture_dir.empty()) {
    err = "--stream and --capture do not go together: a capture renders offline, a stream "
          "sends the show as it plays";
  } else if (format_given) {
    err = "--format is the capture's; a stream's is --stream-format";
  } else if (o.width % 2 || o.height % 2) {
    err = "--stream needs an even width and height, not " + std::to_string(o.width) + "x" +
          std::to_string(o.height);
  } else {
    capture::check_stream_settings(o.capture, err);
  }
  return err.empty();
}

// One sound at a time; a live input plays live only (a capture renders
// faster than it could arrive: record the show, then render it again).
bool check_sound(const PlayerOptions &o, std::string &err) {
  if (!o.audio_in.empty() && !o.audio_file.empty())
    err = "--audio and --audio-in do not go together: the show has one sound";
  else if (!o.audio_in.empty() && !o.capture_dir.empty())
    err = "--audio-in is live and a capture is not: --record the show, then --replay it "
          "with --capture (its sound comes along)";
  else if (!o.audio_in.empty() && !o.replay_file.empty())
    err = "--audio-in and --replay do not go together: a replay has its show's sound";
  return err.empty();
}

// The surface listens on loopback unless told; a network is not trusted,
// so another address needs a token.
bool check_http(const PlayerOptions &o, bool bind_given, std::string &err) {
  const bool loopback = o.http_bind.compare(0, 4, "127.") == 0 || o.http_bind == "localhost";
  if (o.http_port < 0 && (bind_given || !o.http_token.empty() || !o.http_root.empty()))
    err = "--http-bind, --http-token and --http-root go with --http PORT";
  else if (!loopback && o.http_token.empty())
    err = "--http-bind " + o.http_bind + " opens the control surface to a network: give "
          "--http-token TOKEN too (the page asks for it once)";
  return err.empty();
}

// --fit, --fill, --once: switches of the layer before them. --fill before
// any layer is the canvas's.
bool clip_switch(int opt, PlayerOptions &o, std::string &err) {
  const std::string name = option_name(opt);
  if (o.layers.empty() && opt == OPT_FILL) {
    o.fill = true;
    return true;
  }
  if (o.layers.empty()) {
    err = name + ": no LAYER before it (layer options follow their layer)";
    return false;
  }
  o.layers.back().args.push_back(name);  // kept for a record
  if (opt == OPT_ONCE) return kind_setting(o.layers.back(), name, "video/once", {ParamArg::number(1)}, err);
  return kind_setting(o.layers.back(), name, "video/size",
                      {ParamArg::string(opt == OPT_FIT ? "fit" : "fill")}, err);
  return true;
}

}  // namespace

bool parse_args(int argc, char *const argv[], PlayerOptions &out, std::string &err) {
  out = PlayerOptions();
  std::vector<bool> blit_given;  // per layer: --alpha alone means ALPHA
  bool capture_given = false;  // --format, --crf or --preset
  bool format_given = false;
  bool http_bind_given = false;
  optind = 0;  // a fresh scan, also on a second call
  opterr = 0;
  int opt;
  while ((opt = getopt_long(argc, argv, kShort, kOptions, nullptr)) != -1) {
    switch (opt) {
      case 1:  // a LAYER
        out.layers.push_back(LayerSpec());
        out.layers.back().source = optarg;
        blit_given.push_back(false);
        break;
      case 'q': out.quiet = true; break;
      case 'v': out.verbose++; break;
      case 'h': out.help = true; break;
      case 'V': out.version = true; break;
      case OPT_FULLSCREEN: out.fullscreen = true; break;
      case OPT_LIST_EFFECTS: out.list_effects = true; break;
      case OPT_LIST_CONTROLS: out.list_controls = true; break;
      case OPT_LIST_MIDI: out.list_midi = true; break;
      case OPT_FIT:
      case OPT_FILL:
      case OPT_ONCE:
        if (!clip_switch(opt, out, err)) return false;
        break;
      case ':':
        err = option_name(optopt) + " needs a value";
        return false;
      case '?':
        err = refused(argv[optind - 1], optopt);
        return false;
      default:
        if (!apply(opt, optarg, out, blit_given, err)) return false;
        capture_given |= opt == OPT_FORMAT || opt == OPT_CRF || opt == OPT_PRESET;
        format_given |= opt == OPT_FORMAT;
        http_bind_given |= opt == OPT_HTTP_BIND;
    }
  }
  for (int i = optind; i < argc; i++) {  // after "--": layers only
    out.layers.push_back(LayerSpec());
    out.layers.back().source = argv[i];
    blit_given.push_back(false);
  }
  for (size_t i = 0; i < out.layers.size(); i++) {
    LayerSpec &l = out.layers[i];
    if (!blit_given[i] && l.alpha != 255) l.blit = 9;
  }
  if (out.help || out.version || out.list_effects || out.list_controls || out.list_midi)
    return true;
  if (!check_sound(out, err)) return false;
  if (!check_http(out, http_bind_given, err)) return false;
  if (!out.replay_file.empty() && !out.layers.empty()) {
    err = "--replay " + out.replay_file + " brings its own layers: name none beside it";
    return false;
  }
  if (out.layers.empty() && out.replay_file.empty()) {
    err = "no LAYER given (kolvex --help tells how)";
    return false;
  }
  if (!out.stream_url.empty()) return check_stream(out, format_given, err);
  if (!out.stream_format.empty()) {
    err = "--stream-format " + out.stream_format + " needs --stream URL";
    return false;
  }
  if (capture_given && out.capture_dir.empty()) {
    err = "--format, --crf and --preset need --capture DIR";
    return false;
  }
  if (out.capture_dir.empty()) return true;
  if (out.seconds == 0 && out.replay_file.empty()) {
    err = "--capture " + out.capture_dir + " needs --seconds";
    return false;
  }
  if (out.width % 2 || out.height % 2) {
    err = "--capture needs an even width and height, not " + std::to_string(out.width) + "x" +
          std::to_string(out.height);
    return false;
  }
  return capture::check_capture_settings(out.capture, err);
}

void print_usage(FILE *out) {
  fprintf(out,
          "usage: kolvex [OPTIONS] LAYER [LAYER-OPTIONS] [LAYER [LAYER-OPTIONS]]...\n"
          "Plays a stack of layers live: the first LAYER at the bottom, the last on top.\n"
          "\n"
          "Layer options, after the LAYER they apply to:\n"
          "      --blit MODE       RGB, BLU, GRE, RED, ADD, SUB, AND, OR, ALPHA or 1-9;\n"
          "                        OVER (each pixel's alpha times the layer's), or a\n"
          "                        frei0r mixer, frei0r.NAME[:PARAM=VALUE,...]\n"
          "      --alpha N         opacity 0-255 (alone it means --blit ALPHA)\n"
          "      --effect NAME     an effect plug-in, ours or frei0r.NAME[:PARAM=VALUE,...];\n"
          "                        repeat to chain them in order\n"
          "      --pos X,Y         top-left corner on the canvas (default: centred)\n"
          "      --set NAME=VALUE  any of the layer's settings, as --list-controls names\n"
          "                        them below /layer/L/ (scale=2, rotation=30,\n"
          "                        fit=fill, video/speed=2; VALUE,VALUE for two)\n"
          "  for video layers (the same as --set video/...):\n"
          "      --fit             scaled to the canvas, aspect kept (default: its size)\n"
          "      --fill            scaled to cover the canvas, the rest cut off\n"
          "      --once            play once and hold the last frame (default: loop)\n"
          "      --speed X         0.1 to 10 times its speed (default 1)\n"
          "      --start SECONDS   begin that far into the clip\n"
          "Options:\n"
          "      --size WxH        screen size (default 640x480)\n"
          "      --fill            before any layer: a canvas of another aspect (a\n"
          "                        replay's) covers the screen, cut off, instead of\n"
          "                        being letterboxed\n"
          "      --fps N           frames per second (default 24)\n"
          "      --seconds S       play S seconds: S * fps + 1 frames, held ones\n"
          "                        while paused counted (default 0: until quit)\n"
          "      --magnify 1|2|3   enlarge the window 1, 2 or 3 times\n"
          "      --fullscreen      take the whole screen\n"
          "      --threads N       share each frame's work out on N threads (default 0:\n"
          "                        one for each core); any N makes the same frames\n"
          "      --capture DIR     write every frame into DIR/kolvex.FMT, frame-exact\n"
          "                        and faster than real time (needs --seconds)\n"
          "%s"
          "      --stream URL      also send the picture out live as it plays, H.264:\n"
          "                        udp://HOST:PORT, srt://HOST:PORT (MPEG-TS),\n"
          "                        rtmp://HOST/APP/KEY (FLV); or raw to a V4L2 output\n"
          "                        device, /dev/videoN (a v4l2loopback camera);\n"
          "                        --crf and --preset as for mp4. Frames the network\n"
          "                        cannot take are dropped and counted, never waited for\n"
          "      --stream-format FMT  the muxer, when the URL does not tell (mpegts,\n"
          "                        flv, v4l2, ...)\n"
          "      --seed N          the particle generator's seed (2004 in a capture)\n"
          "      --list-effects    list the effect plug-ins found, ours and frei0r's\n"
          "                        (with their parameters), then end\n"
          "      --plugin-dir DIR  look for effect plug-ins in DIR (else in\n"
          "                        $KOLVEX_PLUGIN_DIR, else in %s;\n"
          "                        never in the working directory unless it is named)\n"
          "      --osc PORT        take changes over OSC (UDP) on PORT, see --list-controls\n"
          "      --osc-bind ADDR   the address it listens on (default 127.0.0.1: this\n"
          "                        computer only; 0.0.0.0 opens it to the network)\n"
          "      --osc-feedback HOST:PORT  send every change, whatever made it, as OSC\n"
          "                        to HOST:PORT (a control surface stays in sync); OSC\n"
          "                        /get PATH answers the sender with PATH's value\n"
          "      --record FILE     write the stack and every change, frame by frame\n"
          "      --replay FILE     play a recorded show again (to its end, or --seconds);\n"
          "                        with --capture frame-exact, at any --size: the\n"
          "                        whole show scales with the screen, the canvas\n"
          "                        centred between black bars (or --fill)\n"
          "      --list-controls   list the paths of the control tree, then end\n"
          "      --bank PATH       a picture or clip, or a folder of them, that the show\n"
          "                        may load while it plays (/layer/add, /layer/L/source);\n"
          "                        repeat for more. Nothing else is ever loaded by name\n"
          "      --http PORT       a control surface in the browser at\n"
          "                        http://127.0.0.1:PORT/ (0: any free port, told)\n"
          "      --http-bind ADDR  the address it listens on; other than 127.x it opens\n"
          "                        the surface to a network and needs --http-token\n"
          "      --http-token TOKEN  what a page must give (asked once, kept)\n"
          "      --http-root DIR   serve the page from DIR (the source tree's web/page)\n"
          "Music and controllers:\n"
          "      --audio FILE      play FILE's sound (any format FFmpeg reads) with the\n"
          "                        show and analyse it: the audio/... sources; a\n"
          "                        capture or a recorded show carries it\n"
          "      --audio-in jack[:PORT]  analyse live sound from JACK (connected to\n"
          "                        PORT); with --record it is written to FILE.wav\n"
          "      --midi PORT       a MIDI controller, by its port's name or a part of\n"
          "                        it: the midi/... sources\n"
          "      --list-midi       list the MIDI ports there are, then end\n"
          "      --lfo 'NAME SHAPE RATE'  the source lfo/NAME: sine, triangle, saw, square\n"
          "                        or random, at NNhz or one cycle every NNbeats\n"
          "      --map 'SOURCE PATH [MIN MAX] [CURVE] [smooth SECONDS]'  a source\n"
          "                        (lfo/NAME, tempo/bpm|phase, midi/cc/CH/NUM, ...)\n"
          "                        drives the parameter at PATH; CURVE linear, exp,\n"
          "                        log or step; repeat both for more\n"
          "  -q, --quiet           errors only: no progress line, no closing line\n"
          "  -v, --verbose         the engine's notices and warnings; twice: traces\n"
          "  -h, --help            this text\n"
          "  -V, --version         the version and the pixel kernels in use\n"
          "\n"
          "A capture is written under a temporary name and renamed once complete; one\n"
          "that fails leaves nothing under the final name (status 1). Ctrl-C (SIGINT)\n"
          "or SIGTERM stops a capture or a show after the frame being made: the file\n"
          "is closed properly and plays up to there, \"interrupted after N frames\"\n"
          "(status 1).\n"
          "\n"
          "Keys: Tab or 1-9 select a layer; b/B next/previous blit mode; +/- alpha\n"
          "up/down by 16; f fade out, or back in to the mode it had; h hide or show;\n"
          "m magnification; s PNG screenshot; Space pause; Esc or q quit; t tap the\n"
          "tempo; L learn: the next MIDI control drives what a key last stepped.\n"
          "Other keys go to the selected layer and its effects: [ and ] choose a frei0r\n"
          "parameter, , and . step it down or up. On a video layer: r restart; j, l\n"
          "seek back, forth 5 s; d, u slower, faster; k pause it.\n"          "\n"
          "Layers:\n%s"
          " .  - frei0r sources ( frei0r.NAME[:PARAM=VALUE,...], see --list-effects)\n",
          capture::capture_options_help("kolvex", 24).c_str(), installed_plugin_dir().c_str(),
          layers_description);
}
