/*  kolvex - the player
 *
 *  Builds the stack a PlayerOptions describes on one engine and plays it:
 *    prepare()  every layer made by the factory, decoded and set up, every
 *               effect found and attached, the --stream URL connected, all
 *               before a window opens, so that bad input ends the program
 *               with nothing on screen;
 *    open()     the window (or, with --capture, the frame-exact capture);
 *    step()     the changes of the control sources (OSC, a replay), then
 *               the modulator's (modulator.h), one frame, then the keys
 *               pressed meanwhile (keys.h); all of them go through the
 *               control tree (controls.h).
 *  What goes out (the capture, the stream, a screenshot) is the programme:
 *  the layers and the OSD's lines the show sets. The window shows more: a
 *  status line at its bottom, drawn after the frame went out, tells for
 *  two seconds what a key changed, and how many frames the stream has
 *  dropped when it drops some. A render session (capture/render_session.h)
 *  is around it all: the capture's files, --seconds, the signals and what
 *  the log shows.
 *
 *  Main thread only.
 */
#ifndef KOLVEX_PLAYER_PLAYER_H
#define KOLVEX_PLAYER_PLAYER_H

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "args.h"
#include "bank.h"
#include "context.h"
#include "controls.h"
#include "keys.h"
#include "loader.h"
#include "render_session.h"
#include "show_inputs.h"
#include "stack_editor.h"
#include "virtual_clock.h"

// Something that changes the stack between frames through the control
// tree: the OSC server, a replay. polled before each frame is composed
// with that frame's number in the programme (the frames that went out,
// held ones while paused included: RenderSession::frames), so what it
// changes shows in that frame.
class ControlSource {
 public:
  virtual ~ControlSource() = default;
  virtual void poll(Controls &controls, int64_t frame) = 0;
};

class Modulator;

class Player {
 public:
  explicit Player(const PlayerOptions &opt);
  ~Player();

  // False on bad input, with one line in `err` (empty when the engine's
  // log has told already, as the layer factory does): status 2.
  bool prepare(std::string &err);
  // False when the window or the capture cannot be opened, or there is no
  // display to show a window on: status 1.
  bool open(std::string &err);
  // One frame and the events after it; false once it is over (a quit key,
  // the window closed, or --seconds played).
  bool step();
  // step() until over, then the capture closed; the exit status (the
  // session has told what went wrong).
  int run();

  Context *context() { return ctx_.get(); }
  capture::RenderSession *session() { return session_.get(); }
  KeyMap *keys() { return keys_.get(); }
  Controls *controls() { return controls_.get(); }  // once open
  StackEditor *editor() { return editor_.get(); }    // once open
  Loader *loader() { return loader_.get(); }         // once open
  void add_source(std::unique_ptr<ControlSource> source);
  // Just before the first frame: the sound starts (and the live input is
  // recorded into `wav`, when named). False with `err`: status 2.
  bool start_inputs(const std::string &wav, std::string &err);
  ShowInputs &inputs() { return inputs_; }
  // Polled after every added source; its --lfo declared and its --map
  // checked in prepare(). Audio and MIDI are given to it before prepare().
  Modulator *modulator() { return modulator_.get(); }
  const std::vector<Layer *> &stack() const { return stack_; }
  // The window's status line as it shows now; empty when none.
  const std::string &status() const { return status_; }
  // Programme frames so far (the next one's number): what a record counts.
  int64_t frame() const { return session_->frames(); }
  const PlayerOptions &options() const { return opt_; }
  const Bank &bank() const { return bank_; }
  // A line for the performer: on stderr (unless quiet) and the status line.
  void announce(const std::string &line);
  // Watchers of what the performer sees: every line the status line tells,
  // and every programme frame once it went out (before the status line is
  // drawn on the window), on the frame loop's thread.
  void on_told(std::function<void(const std::string &line)> fn) {
    told_watchers_.push_back(std::move(fn));
  }
  void on_programme(std::function<void(Context &)> fn) {
    programme_watchers_.push_back(std::move(fn));
  }

 private:
  bool make_layers(std::string &err);
  bool init_layer(Layer *layer, const std::string &source, std::string &err);
  void open_editor();
  bool apply_settings(Layer *layer, const LayerSpec &layer_spec, bool live, std::string &err);
  bool attach_effects(size_t index, const LayerSpec &layer_spec, std::string &err);
  bool check_modulation(std::string &err);
  void show_paused();
  void to_window();  // after the frame went out, before it is shown
  void take_screenshot();
  void draw_status();
  void tell(const std::string &line);
  void tell_stream_drops();
  void tell_news();
  uint32_t seed() const;

  PlayerOptions opt_;
  std::unique_ptr<capture::RenderSession> session_;
  std::unique_ptr<Context> ctx_;
  std::vector<LayerPtr> pending_;  // until the engine owns them
  std::vector<Layer *> stack_;                   // bottom first
  std::unique_ptr<Controls> controls_;
  Bank bank_;
  ShowInputs inputs_;  // before the session that reads it, so after it goes
  std::unique_ptr<Loader> loader_;       // before the editor: it outlives it
  std::unique_ptr<StackEditor> editor_;
  std::unique_ptr<KeyMap> keys_;
  std::vector<std::unique_ptr<ControlSource>> sources_;
  std::unique_ptr<Modulator> modulator_;
  std::map<Filter *, size_t> effect_on_;  // the layer (from 0) of each effect
  std::vector<uint8_t> frozen_;  // the picture while paused, OSD not drawn
  std::string status_;           // the window's line
  int status_frames_ = 0;        // left for it
  int64_t told_dropped_ = 0;     // stream frames dropped, as last told
  std::vector<std::function<void(const std::string &)>> told_watchers_;
  std::vector<std::function<void(Context &)>> programme_watchers_;
};

// A path relative to the program's own file's folder, wherever the
// installation was put (bin/kolvex -> bin/../share/...).
std::string beside_program(const std::string &relative);
// The installed plug-in directory (share/orvanta under the same prefix).
std::string installed_plugin_dir();

// Points `plugger` at the one directory the player scans: --plugin-dir,
// else $KOLVEX_PLUGIN_DIR, else the installed plug-in directory (none when
// that does not exist). Never the working directory unless it is named.
// False with `err` when a named directory cannot be used.
bool use_plugin_dir(Plugger &plugger, const PlayerOptions &opt, std::string &err);

// --list-effects: name, author and info of every plug-in found; the status.
int list_effects(const PlayerOptions &opt, FILE *out);

#endif
