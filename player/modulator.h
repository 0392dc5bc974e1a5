/*  kolvex - the modulator: sources mapped onto the control tree
 *
 *  Anything with a number driven by the music, MIDI controllers and LFOs.
 *  The sources, each 0..1:
 *    audio/level|low|mid|high|onset|beat|phase   the analysed sound
 *                                 (only once set_audio() gave one)
 *    tempo/bpm                    the tempo / 240 (120 bpm reads 0.5)
 *    tempo/phase                  through each beat (tempo.h)
 *    lfo/NAME                     an LFO declared with --lfo (lfo.h)
 *    midi/cc/CH/NUM, midi/note/CH/NUM, midi/bend/CH   MIDI's last values
 *  and its rows in the tree (controls.h routes /map, /learn, /tempo and
 *  /midi here):
 *    /map/add TEXT       SOURCE PATH [MIN MAX] [CURVE] [smooth SECONDS]
 *                        (map.h); the same SOURCE and PATH again replaces
 *    /map/remove TEXT    the map of that SOURCE and PATH
 *    /learn PATH         the next MIDI value maps its control onto PATH
 *    /tempo/tap, /tempo/bpm X (0: follow the audio again)
 *    /midi/...           the MIDI values, set through the tree whatever
 *                        sends them, so that a record holds them
 *  Each frame, after every other source (poll): MIDI's events set through
 *  the tree, a learn completed through /map/add; the audio, the tempo and
 *  the LFOs for the frame; then each map in the order added, set through
 *  the tree when its output changed. A record holds what goes in (maps,
 *  MIDI values, taps, tempos), not what the maps set (Controls::derived):
 *  a replay computes the same.
 *
 *  Main thread only.
 */
#ifndef KOLVEX_PLAYER_MODULATOR_H
#define KOLVEX_PLAYER_MODULATOR_H

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "audio_frame.h"
#include "controls.h"
#include "lfo.h"
#include "map.h"
#include "midi_input.h"
#include "player.h"
#include "tempo.h"

class Modulator : public ControlSource, public Parametric {
 public:
  explicit Modulator(int fps);
  ~Modulator() override;

  // --lfo 'NAME SHAPE RATE'; false with one line in `err` (a bad text, a
  // name already declared).
  bool add_lfo(const std::string &text, std::string &err);
  // The LFOs declared, as add_lfo() takes them (a show file's header).
  std::vector<std::string> lfo_texts() const;
  // The analysis of frame F, asked once a frame in order; null: no sound
  // and no audio/... sources.
  void set_audio(std::function<AudioFrame(int64_t frame)> analysed);
  // Where MIDI comes from (not owned; null: none). Its events are taken
  // each frame, its news() told.
  void set_midi(MidiSource *midi);

  bool has_source(const std::string &name) const;
  double source(const std::string &name) const;  // its value now; 0 when unknown
  // A map's text against the tree as it is: its form, its source, its
  // path and the parameter's type. False with one line in `err`.
  bool check_map(const std::string &text, const Controls &controls, std::string &err) const;
  // The tree asks before setting one of these rows: a map or a learn that
  // names nothing is refused with `why`.
  bool accepts(const Param &p, const ParamValue &v, const Controls &controls,
               std::string &why) const;
  // Lines to tell since the last call, oldest first: a learn done, a MIDI
  // port gone or back.
  std::vector<std::string> take_lines();
  size_t maps() const { return maps_.size(); }
  std::vector<std::string> map_texts() const;  // each as /map/add takes it, in order

  void poll(Controls &controls, int64_t frame) override;

  const ParamTable &params() const override;
  // The table's rows, and a MIDI value's row when the name is well formed.
  const Param *param(const std::string &name) const override;
  // The rows and the sources, for --list-controls.
  static void list(FILE *out);

 private:
  struct Mapping {
    Map map;
    MapRun run;
    bool told;  // its path names nothing now: told once
  };
  static const ParamTable &table();
  static Param midi_row(const std::string &name);
  int find_map(const Map &m) const;
  void add_map(const Map &m);

  int fps_;
  Tempo tempo_;
  std::vector<Lfo> lfos_;
  std::vector<Mapping> maps_;
  std::function<AudioFrame(int64_t)> analysed_;
  AudioFrame audio_;
  MidiSource *midi_ = nullptr;
  std::vector<MidiEvent> events_;
  std::map<std::string, double> midi_values_;
  mutable std::map<std::string, Param> midi_rows_;  // made on demand
  std::string learning_;  // the path a learn waits for, or empty
  std::string learned_;   // the MIDI source that answered it
  std::string last_map_;  // what the status line tells of a map row
  int64_t frame_ = 0;     // the frame being made, or the next one
  std::vector<std::string> lines_;
};

#endif
