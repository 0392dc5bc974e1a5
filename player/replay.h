/*  kolvex - a show recorded and played again
 *
 *  A show file is text, one thing a line, for people to read and edit:
 *
 *    # comments and blank lines are skipped
 *    size 640x480                  its canvas: the screen it was played on
 *    fps 24
 *    seed 2004
 *    plugin-dir build/stage        where its effects came from (if named)
 *    bank clips                    what it may load as it plays (--bank)
 *    audio set.mp3                 its sound (--audio, or the live input
 *                                  recorded beside it: show.txt.wav)
 *    layer layer_gen               a layer and its options, bottom first
 *    layer data/ant.png --alpha 160 --pos 40,30
 *    lfo wobble sine 0.5hz         an LFO the maps may read (--lfo)
 *    0 /layer/2/alpha 0.5          FRAME PATH VALUE...: a change of the
 *    96 /osd/top "hello, world"    control tree (controls.h) that first
 *    240 end                       shows in frame FRAME (from 0); the end
 *
 *  Frames are those of the programme as it went out, held ones while
 *  paused included: a pause lasts as long in a render as it was held.
 *  Values are numbers, or text in double quotes (\" \\ \n \xNN inside);
 *  a bare word that is not a number is text too. Frames never go back.
 *  Paths are numbers, never files: a change loads only what the show's
 *  bank holds (/layer/add NAME, /layer/L/source NAME), and the layer joins
 *  at the change's frame: a render waits for it.
 */
#ifndef KOLVEX_PLAYER_REPLAY_H
#define KOLVEX_PLAYER_REPLAY_H

#include <cstdint>
#include <cstdio>
#include <sys/types.h>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "args.h"
#include "controls.h"
#include "player.h"

struct ShowChange {
  int64_t frame;
  std::string path;
  ControlArgs args;
  int line;  // in the file, for what is told
};

struct Show {
  int width = 640, height = 480, fps = 24;
  uint32_t seed = 2004;
  std::string plugin_dir;
  std::vector<std::string> banks;
  std::string audio;  // its sound, as the file names it
  std::vector<std::vector<std::string>> layers;  // source, then its options
  std::vector<std::string> lfos;                 // 'NAME SHAPE RATE'
  std::vector<ShowChange> changes;               // by frame
  int64_t end = 0;                               // 0: not recorded
};

// Reads a show; false with one line "NAME:LINE: what is wrong" in `err`.
bool parse_show(const std::string &text, const std::string &name, Show &out, std::string &err);
bool read_show(const std::string &file, Show &out, std::string &err);

// The options to play `show` with: its layers, rate, seed and canvas (its
// size); the screen's size, --fill, --seconds, the capture and the plug-in
// directory of `command` where it names them. False with `err`.
bool show_options(const Show &show, const PlayerOptions &command, PlayerOptions &out,
                  std::string &err);

// The live input recorded with a show (--audio-in with --record): the
// file, and its name as the show's `audio` line gives it (beside it).
std::string input_wav(const std::string &show_file);
std::string input_wav_name(const std::string &show_file);

// A value as the file writes it: numbers bare, text quoted.
std::string show_token(const ControlArg &arg);

// Writes the stack as it starts, then every change the tree makes with the
// frame it shows in, each line whole and in the file as it is made: a
// player killed leaves a show that replays up to its last change. A write
// that fails (a full disk) is told once on stderr and ends the record; the
// file keeps every line before it, none torn.
class ShowRecorder {
 public:
  ShowRecorder() = default;
  ~ShowRecorder();
  // `opt` as played (its seed set). False with `err` when FILE cannot be
  // written.
  bool open(const std::string &file, const PlayerOptions &opt, uint32_t seed, std::string &err);
  void change(int64_t frame, const std::string &path, const ControlArgs &applied);
  void end(int64_t frame);  // the last line; then closed
  bool recording() const { return fd_ >= 0; }

 private:
  bool put(const std::string &line);
  void fail(int64_t frame);

  std::string file_;
  int fd_ = -1;
  off_t kept_ = 0;  // bytes of whole lines in the file

  ShowRecorder(const ShowRecorder &) = delete;
  ShowRecorder &operator=(const ShowRecorder &) = delete;
};

// Plays a show's changes at their frames: each is set() before its frame
// is composed. A change that cannot be applied (a layer or effect that is
// not there) is told once for its path and skipped.
class ShowPlayer : public ControlSource {
 public:
  ShowPlayer(Show show, bool quiet) : show_(std::move(show)), quiet_(quiet) {}
  void poll(Controls &controls, int64_t frame) override;
  int refused() const { return refused_; }  // changes skipped

 private:
  Show show_;
  bool quiet_;
  size_t next_ = 0;
  int refused_ = 0;
  std::set<std::string> told_;
};

// What the command line asks of a player once it is open: the replay of
// `show` (when opt.replay_file was given; `opt` is then show_options'),
// the OSC server, the record into `recorder`, then the --map given, as
// changes at frame 0 (a record has them). False with `err`.
bool attach_controls(Player &player, const PlayerOptions &opt, const Show &show,
                     ShowRecorder &recorder, std::string &err);

#endif
