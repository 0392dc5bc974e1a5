/*  Kolvex - layer factory
 *
 *  Turns a name, as given on a command line, into a new layer of the kind
 *  it stands for: a ".png" file gives a PngLayer (already opened), a name
 *  starting with "layer_gen" a GenLayer. Every other source the naming
 *  scheme knows (video devices and files, text files, screensavers) is
 *  recognised and refused with its own message, since this engine has no
 *  such layer kinds. Letter case is ignored in prefixes and suffixes.
 *
 *  The caller owns the returned layer (LayerPtr: its thread stopped before
 *  it is deleted) and calls its init(); the factory neither initialises it
 *  nor puts it into the engine's list.
 */
#ifndef KOLVEX_FACTORY_H
#define KOLVEX_FACTORY_H

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "layer.h"

// A new layer for `name`, or null after the reason has been logged.
LayerPtr create_layer(const char *name);

// The entry point for programs that take layer names from their users: the
// kinds create_layer makes, told apart before anything is logged, and the
// kinds the engine gained since (each adds its test here): a frei0r source,
// "frei0r.NAME[:SETTINGS]" (frei0r_host.h); built with FFmpeg, video files by
// their suffix (.mp4, .webm, .mkv, .mov, .avi, .y4m, .gif, ...) and
// /dev/video* cameras, as a VideoLayer already opened (without FFmpeg those
// names go to create_layer). Null with one line
// in `err`, "NAME: reason", and nothing logged; a name no kind claims falls
// back to create_layer, whose own lines then say why it is refused. The
// layer's `source` is `name`.
LayerPtr make_layer(const char *name, std::string &err);

// A kind of layer: what it is called, how its sources are named, and its
// parameters (the rows its layers add to the base's), so that lists and
// checks know them before any layer exists. A kind registered by a
// program claims the sources it makes (`claims`) and makes them (`make`,
// null with `err`); make_layer asks registered kinds first. The built-in
// kinds are listed without either.
struct LayerKind {
  std::string name;   // "video"
  std::string names;  // "FILE.mp4, ..."
  const ParamTable &(*params)();
  std::function<bool(const char *source)> claims;
  std::function<LayerPtr(const char *source, std::string &err)> make;
};
void register_layer_kind(LayerKind kind);
const std::vector<LayerKind> &layer_kinds();

// Whether make_layer makes a layer of the file `name` by its name alone:
// a ".png" picture, or (built with FFmpeg) a clip by its suffix. Nothing
// is opened: a program that lists loadable files asks this first.
bool is_layer_file(const char *name);

// A blend for a layer (Layer::set_blend) by the name users give: "OVER"
// (any case) or a frei0r mixer, "frei0r.NAME[:SETTINGS]". Null with one
// line in `err`.
std::unique_ptr<LayerBlend> make_blend(const char *name, std::string &err);

// Help text for a front end: one line per layer kind the factory makes.
extern const char *const layers_description;

#endif
