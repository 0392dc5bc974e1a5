/*  kolvex - the control tree
 *
 *  Every setting of a running show under one path. The tree knows no kind
 *  of layer, effect or blend: it finds the object a path names and the row
 *  of that object's parameter table (params.h) the rest of the path names,
 *  and calls the row's setter with the value parsed by the row's type. The
 *  keys, OSC, a replay and the command line's layer settings all go
 *  through set(); get() reads any value back. `--list-controls` prints the
 *  tables (list()).
 *
 *    /layer/L/NAME                a row of the layer's table: the base's
 *                                 (alpha, blit, pos, shown, fade...) and
 *                                 its kind's (video/speed, param/P...)
 *    /layer/L/effect/E/NAME       a row of an effect's table (active,
 *                                 param/P for a frei0r effect)
 *    /layer/L/blend/NAME          a row of the layer's own blend's table
 *    /layer/L/select, /layer/L/key NAME   the player's: the layer the keys
 *                                 act on; a key for the layer and its effects
 *    /layer/add NAME, /layer/L/source NAME, /layer/L/remove,
 *    /layer/L/move N              the stack's own changes (stack_editor.h):
 *                                 a layer from the bank on top; the layer
 *                                 shows another, its settings kept; out of
 *                                 the stack; to place N, 1 at the bottom
 *    /osd/top|middle|low TEXT     the OSD's lines
 *    /pause, /magnify, /screenshot, /quit   the player's own rows
 *    /map/..., /learn, /tempo/..., /midi/...   the modulator's (modulator.h)
 *
 *  L is a layer's number from 1 at the bottom or its name (layer_name of
 *  the source it was made from); E an effect's number on the layer from 1
 *  or its name; a row in a group ("param/amount") also by its number in
 *  the group ("param/0"). The stack is the engine's list as it is at each
 *  call. Values out of a row's range are clamped, told once per path.
 *  Nothing is loaded or run because of a value but what the bank (--bank)
 *  holds; an add or a source is a load, and is told to the hooks when the
 *  layer joins the stack (frames later in a live show), not when asked.
 *
 *  Main thread only, between frames.
 */
#ifndef KOLVEX_PLAYER_CONTROLS_H
#define KOLVEX_PLAYER_CONTROLS_H

#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "context.h"
#include "params.h"

class Modulator;
class StackEditor;

typedef ParamArg ControlArg;
typedef ParamArgs ControlArgs;

enum class ControlStatus {
  done,       // applied (possibly clamped)
  unknown,    // no such path (or no such layer or effect)
  bad_value,  // wrong number or type of arguments, NaN, a name not known
};

// The name a layer started from `source` answers to: "ant.png" for
// "data/ant.png", "frei0r.onecol0r" for "frei0r.onecol0r:color=#ff0000".
std::string layer_name(const std::string &source);
// How the status line calls the layer at `place` (from 1): "layer 2 ant.png".
std::string layer_label(size_t place, const Layer &l);

class Controls : public Parametric {
 public:
  explicit Controls(Context &ctx);
  ~Controls() override;

  // Applies one change. `said` gets the line the OSD tells (may be empty),
  // `why` what is wrong when not done.
  ControlStatus set(const std::string &path, const ControlArgs &args, std::string &said,
                    std::string &why);
  // The row `path` names, or null with `why`.
  const Param *param_at(const std::string &path, std::string &why) const;
  // The value at `path` as set() would take it back; false with `why` for
  // a path that names nothing or a row without a value (a trigger).
  bool get(const std::string &path, ControlArgs &out, std::string &why) const;
  // Called after every change done, with the path by number and the value
  // as applied (clamped), which set() takes back (the recorder's hook). A
  // key that nothing takes is done but changes nothing: not called. Each
  // hook added is called in turn.
  typedef std::function<void(const std::string &path, const ControlArgs &applied)> ChangeHook;
  void on_change(ChangeHook hook) { hooks_.push_back(std::move(hook)); }

  // A change done later than its set() (a load that has joined the
  // stack): counted and told to the hooks like any other.
  void changed(const std::string &path, const ControlArgs &applied);
  // Where the stack's own changes go; none: they are refused.
  StackEditor *editor = nullptr;
  // Where /map, /learn, /tempo and /midi go; none: they name nothing.
  Modulator *modulator = nullptr;
  // True while a map sets its parameter: the hooks see a change the
  // record leaves out (a replay's maps make it again).
  bool derived = false;
  // The layers before they join the engine's list (the player checks its
  // --map against them); null: the engine's list.
  const std::vector<Layer *> *prepared = nullptr;

  // Every path with its type, range and help, from the tables.
  static void list(FILE *out);

  // The player's own rows: pause, magnify, screenshot, quit.
  const ParamTable &params() const override;
  static const ParamTable &table();

  // What the keys read to choose their next value.
  std::vector<Layer *> stack() const;  // bottom first
  size_t size() const { return stack().size(); }
  Layer *layer(size_t i) const;        // null past the top
  size_t selected() const;
  int magnification() const { return ctx_.magnification; }  // 0..2

  bool paused = false;
  bool quit = false;
  bool screenshot = false;  // asked for, not taken yet
  uint64_t changes = 0;     // changes done so far

  struct Target;  // what a path names (controls.cpp)

 private:
  bool resolve(const std::string &path, Target &t, std::string &why) const;
  std::string pass_key(Layer *l, const std::string &label, const std::string &name);
  int find_layer(const std::vector<Layer *> &stack, const std::string &token) const;
  ControlStatus stack_set(const Target &t, const ParamValue &v, std::string &said,
                          std::string &why);

  Context &ctx_;
  Layer *sel_ = nullptr;  // null: the top one
  std::vector<ChangeHook> hooks_;
  std::set<std::string> clamped_told_;
};

#endif
