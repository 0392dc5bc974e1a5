#include "factory.h"

#include <strings.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "frei0r_layer.h"
#include "genlayer.h"
#include "jutils.h"
#include "over_blend.h"
#include "png_layer.h"
#ifdef KOLVEX_HAVE_FFMPEG
#include "video_layer.h"
#endif

const char *const layers_description =
    " .  - PNG images (also with transparency)\n"
    " .  - particle generator ( add layer_gen on commandline)\n"
    "\n";

namespace {

bool has_prefix(const char *name, const char *prefix) {
  return strncasecmp(name, prefix, strlen(prefix)) == 0;
}

// A name shorter than the suffix never matches.
bool has_suffix(const char *name, const char *suffix) {
  size_t n = strlen(name), s = strlen(suffix);
  return n >= s && strcasecmp(name + n - s, suffix) == 0;
}

bool is_video_file(const char *name) {
  static const char *const suffixes[] = {".avi", ".asf", ".asx", ".wma",
                                         ".wmv", ".mov", ".mpeg", ".mpg"};
  for (const char *s : suffixes)
    if (has_suffix(name, s)) return true;
  return false;
}

#ifdef KOLVEX_HAVE_FFMPEG
// What make_layer hands to FFmpeg: containers by their usual suffixes (the
// content decides the rest) and V4L2 cameras.
bool is_clip(const char *name) {
  static const char *const suffixes[] = {
      ".mp4", ".m4v", ".mov", ".qt",  ".mkv", ".webm", ".avi", ".asf",  ".wmv",  ".flv",
      ".mpg", ".mpeg", ".m2v", ".vob", ".ts", ".m2ts", ".mts", ".ogv", ".ogg", ".3gp",
      ".y4m", ".gif", ".mxf", ".dv",  ".nut", ".ivf", ".h264", ".264", ".hevc", ".mjpeg"};
  for (const char *s : suffixes)
    if (has_suffix(name, s)) return true;
  return has_prefix(name, "/dev/video");
}

LayerPtr open_clip(const char *name, std::string &err) {
  std::unique_ptr<VideoLayer> layer(new VideoLayer());
  if (layer->open(name)) return LayerPtr(layer.release());
  err = layer->open_error();
  return nullptr;
}
#endif

// Devices, URLs and pseudo-names are not files: only the rest must exist.
bool can_open(const char *name) {
  if (has_prefix(name, "/dev/") || has_prefix(name, "http://") || has_prefix(name, "layer_"))
    return true;
  FILE *f = fopen(name, "r");
  if (!f) {
    error("can't open %s to create a Layer: %s", name, strerror(errno));
    return false;
  }
  fclose(f);
  return true;
}

LayerPtr refuse(const char *why, const char *name, bool final_line) {
  error("%s", why);
  act("can't load %s", name);
  if (final_line) error("can't create a layer with %s", name);
  return nullptr;
}

LayerPtr made(Layer *layer) {
  func("create_layer succesful, returns %p", (void *)layer);
  return LayerPtr(layer);
}

LayerPtr open_png(const char *name) {
  std::unique_ptr<PngLayer> png(new PngLayer());
  if (png->open(name)) return made(png.release());
  error("create_layer : PNG open failed");
  png.reset();
  error("can't create a layer with %s", name);
  return nullptr;
}

std::vector<LayerKind> &kinds() {
  static std::vector<LayerKind> k = {
#ifdef KOLVEX_HAVE_FFMPEG
      {"video", "FILE.mp4, .webm, .mkv, .mov, .avi, .y4m, .gif, /dev/videoN", VideoLayer::table,
       nullptr, nullptr},
#endif
      {"generator", "layer_gen", GenLayer::table, nullptr, nullptr},
  };
  return k;
}

LayerPtr make_builtin(const char *name, std::string &err) {
  if (has_prefix(name, "layer_gen")) return LayerPtr(new GenLayer());
  if (has_prefix(name, KOLVEX_FREI0R_PREFIX)) {
    std::vector<Frei0rSetting> settings;
    const Frei0rPlugin *p = Frei0rLibrary().resolve(name, Frei0rKind::source, settings, err);
    return p ? LayerPtr(new Frei0rLayer(*p, std::move(settings))) : nullptr;
  }
  if (has_suffix(name, ".png")) {
    FILE *f = fopen(name, "rb");
    if (!f) {
      err = std::string(name) + ": " + strerror(errno);
      return nullptr;
    }
    png_byte sig[8] = {};
    const bool png = fread(sig, 1, sizeof sig, f) == sizeof sig && png_sig_cmp(sig, 0, 8) == 0;
    fclose(f);
    if (!png) {
      err = std::string(name) + ": not a PNG file";
      return nullptr;
    }
    std::unique_ptr<PngLayer> layer(new PngLayer());
    if (layer->open(name)) return LayerPtr(layer.release());
    err = std::string(name) + ": can't be opened";
    return nullptr;
  }
#ifdef KOLVEX_HAVE_FFMPEG
  if (is_clip(name)) return open_clip(name, err);
#endif
  LayerPtr layer = create_layer(name);
  if (!layer) err = std::string(name) + ": not a layer this engine makes";
  return layer;
}

}  // namespace

void register_layer_kind(LayerKind kind) { kinds().insert(kinds().begin(), std::move(kind)); }

const std::vector<LayerKind> &layer_kinds() { return kinds(); }

LayerPtr make_layer(const char *name, std::string &err) {
  err.clear();
  if (!name || !*name) {
    err = "a layer needs a name";
    return nullptr;
  }
  LayerPtr layer;
  bool claimed = false;
  for (const LayerKind &k : kinds())
    if (k.claims && k.claims(name)) {
      layer = k.make(name, err);
      claimed = true;
      break;
    }
  if (!claimed) layer = make_builtin(name, err);
  if (layer) layer->source = name;
  return layer;
}

bool is_layer_file(const char *name) {
  if (!name || has_prefix(name, "/dev/")) return false;
  for (const LayerKind &k : kinds())
    if (k.claims && k.claims(name)) return true;
#ifdef KOLVEX_HAVE_FFMPEG
  if (is_clip(name)) return true;
#endif
  return has_suffix(name, ".png");
}

std::unique_ptr<LayerBlend> make_blend(const char *name, std::string &err) {
  err.clear();
  if (name && strcasecmp(name, "over") == 0) return std::make_unique<OverBlend>();
  std::vector<Frei0rSetting> settings;
  if (name && has_prefix(name, KOLVEX_FREI0R_PREFIX)) {
    const Frei0rPlugin *p = Frei0rLibrary().resolve(name, Frei0rKind::mixer, settings, err);
    return p ? std::make_unique<Frei0rMixer>(*p, std::move(settings)) : nullptr;
  }
  err = std::string(name ? name : "") + ": not a blend (OVER or " KOLVEX_FREI0R_PREFIX "NAME)";
  return nullptr;
}

LayerPtr create_layer(const char *name) {
  if (!name) {
    error("can't create a layer without a name");
    return nullptr;
  }
  if (!can_open(name)) return nullptr;

  if (has_prefix(name, "/dev/") && !has_prefix(name + 5, "ieee1394/"))
    return refuse("Video4Linux layer support not compiled", name, true);
  if (is_video_file(name) || has_prefix(name, "/dev/ieee1394/"))
    return refuse("VIDEO and AVI layer support not compiled", name, true);
  if (has_suffix(name, ".png")) return open_png(name);
  if (has_suffix(name, ".txt")) return refuse("TXT layer support not compiled", name, false);
  if (strstr(name, "xscreensaver"))  // this one test minds letter case
    return refuse("no xhacks layer support", name, false);
  if (has_prefix(name, "layer_gen")) return made(new GenLayer());

  error("can't create a layer with %s", name);
  return nullptr;
}
