/*  kolvex - the control tree
 *
 *  Every setting of a running stack under one path, with one setter that
 *  checks and clamps its value. The keys, the OSC server and a replay all
 *  change the stack through set(); nothing else does. Paths (`--list-controls`
 *  prints them with types and ranges):
 *
 *    /layer/L/alpha NUMBER        0..1, in the ALPHA mode (ends a fade)
 *    /layer/L/blit MODE           RGB..ALPHA, 1..9, OVER, or the blend the
 *                                 layer was started with (by its name)
 *    /layer/L/pos X Y             top-left corner, canvas pixels
 *    /layer/L/fade                out, or back in to the alpha and mode it had
 *    /layer/L/fade/out [TARGET]   down to TARGET (0..1, default 0)
 *    /layer/L/fade/in [TARGET]    up to TARGET (default: what it had)
 *    /layer/L/shown BOOL, /layer/L/select, /layer/L/key NAME
 *    /layer/L/video/speed NUMBER  a video layer's speed, 0.1..10
 *    /layer/L/video/seek SECONDS, /layer/L/video/pause BOOL,
 *    /layer/L/video/restart       its clock: where it plays, and whether
 *    /layer/L/effect/E/active BOOL
 *    /layer/L/effect/E/param/P VALUE   a frei0r effect's parameter
 *    /layer/L/blend/param/P VALUE      the layer's frei0r mixer's
 *    /layer/L/param/P VALUE            a frei0r source layer's
 *    /layer/add NAME              a layer from the bank on top (stack_editor.h)
 *    /layer/L/source NAME         the layer shows NAME, its settings kept
 *    /layer/L/remove, /layer/L/move N   out of the stack; to place N
 *    /osd/top|middle|low TEXT     a line of the OSD; "" hides it
 *    /pause BOOL, /magnify 1..3, /screenshot, /quit
 *
 *  L is a layer's number from 1 at the bottom or its name (layer_name: the
 *  file name without directories, "layer_gen", or a frei0r source's name
 *  without its settings); E an effect's number on the layer
 *  from 1 or its name; P a frei0r parameter's name or number from 0.
 *  Nothing is loaded or run because of a value but what the bank holds
 *  (bank.h): a blend can only come back if the layer had it, keys go to
 *  what is already there. An add or a source is done, and told to
 *  on_change, when the layer joins the stack, frames later in a live show.
 *
 *  Main thread only, between frames.
 */
#ifndef KOLVEX_PLAYER_CONTROLS_H
#define KOLVEX_PLAYER_CONTROLS_H

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "context.h"

class StackEditor;
// One argument: OSC's numbers (any width) are `num`, strings `text`.
struct ControlArg {
  bool is_text = false;
  double num = 0;
  std::string text;
  static ControlArg number(double v) { return {false, v, ""}; }
  static ControlArg string(const std::string &s) { return {true, 0, s}; }
};
typedef std::vector<ControlArg> ControlArgs;

enum class ControlStatus {
  done,       // applied (possibly clamped)
  unknown,    // no such path (or no such layer or effect)
  bad_value,  // wrong number or type of arguments, NaN, a name not known
};

// The name a layer started from `source` answers to: "ant.png" for
// "data/ant.png", "frei0r.onecol0r" for "frei0r.onecol0r:color=#ff0000".
std::string layer_name(const std::string &source);

class Controls {
 public:
  // `stack`: the layers bottom first; `names`: what each was named with
  // (the factory's source), for addressing by name.
  Controls(Context &ctx, std::vector<Layer *> stack, const std::vector<std::string> &names);
  ~Controls();

  // Applies one change. `said` gets the line the OSD tells (may be empty),
  // `why` what is wrong when not done.
  ControlStatus set(const std::string &path, const ControlArgs &args, std::string &said,
                    std::string &why);
  // Called after every change done, with the path by number and the value
  // as applied (clamped), which set() takes back (the recorder's hook). A
  // key that nothing takes is done but changes nothing: not called.
  std::function<void(const std::string &path, const ControlArgs &applied)> on_change;

  // Where /layer/add, /layer/L/source, /remove and /move go; none: refused.
  StackEditor *editor = nullptr;
  // The stack has changed: the layers bottom first, their sources. `was`
  // has left, or given its place to `now`: its fade and parked blend go
  // with it.
  void restack(std::vector<Layer *> stack, const std::vector<std::string> &names, Layer *was,
               Layer *now);

  // The tree as --list-controls prints it.
  static void list(FILE *out);

  // After every frame: a fade-out the engine has taken down to 1 (its
  // lowest target) is finished at 0; a fade back in gets its mode back.
  void settle();

  // What the keys read to choose their next value.
  size_t size() const { return stack_.size(); }
  Layer *layer(size_t i) const { return stack_[i]; }
  size_t selected() const { return sel_; }
  std::string mode(size_t i) const;       // "ALPHA 128", "ADD", "frei0r.multiply"
  std::string own_blend(size_t i) const;  // the blend it was started with, or ""
  bool fading_out(size_t i) const;
  std::string label(size_t i) const;      // "layer 2 ant.png"
  int magnification() const { return ctx_.magnification; }  // 0..2

  bool paused = false;
  bool quit = false;
  bool screenshot = false;  // asked for, not taken yet
  uint64_t changes = 0;     // changes done so far (on_change's calls)

  struct Target;  // what a path names (controls.cpp)

 private:
  friend struct ControlTable;
  ControlStatus layer_set(const std::string &what, Target &t, const ControlArgs &args,
                          std::string &said, ControlArgs &applied, std::string &why);
  ControlStatus effect_set(const std::vector<std::string> &rest, Target &t, const ControlArgs &args,
                           std::string &said, ControlArgs &applied, std::string &why);
  ControlStatus stack_set(const std::vector<std::string> &parts, const ControlArgs &args,
                          std::string &said, ControlArgs &applied, std::string &canonical,
                          std::string &why);
  ControlStatus global_set(const std::vector<std::string> &parts, const ControlArgs &args,
                           std::string &said, ControlArgs &applied, std::string &why);
  ControlStatus set_blit(size_t i, const ControlArgs &args, ControlArgs &applied, std::string &why);
  ControlStatus set_alpha(size_t i, const ControlArgs &args, ControlArgs &applied, std::string &why);
  void fade_out(size_t i, int target);
  void fade_in(size_t i, int target);  // -1: what it had
  ControlStatus video_set(const std::string &what, size_t i, const ControlArgs &args,
                          std::string &said, ControlArgs &applied, std::string &why);
  std::string pass_key(size_t i, const std::string &name);
  int find_layer(const std::string &token) const;  // -1 when none

  Context &ctx_;
  std::vector<Layer *> stack_;
  std::vector<std::string> names_;
  size_t sel_ = 0;
  // A fade out turns the layer to ALPHA; what it was, for the fade back.
  struct Look {
    int blit, alpha;
  };
  std::map<Layer *, Look> faded_;
  std::map<Layer *, bool> fading_out_;  // true until the fade has reached 0
  // A layer's own blend (OVER, a frei0r mixer) while it shows one of the
  // nine modes: it can come back by its name.
  std::map<Layer *, std::unique_ptr<LayerBlend>> parked_;
  bool unchanged_ = false;  // set() done, but nothing took the key
};

#endif
