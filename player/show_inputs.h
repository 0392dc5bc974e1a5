/*  kolvex - the show's sound and MIDI
 *
 *  What the command line asks the show to listen to, opened before any
 *  window so that bad input is told in one line (status 2):
 *    --audio FILE           decoded whole, played through SDL's audio from
 *                           the first frame (a live run), read in lockstep
 *                           with the frames for the analysis, and each
 *                           frame's sound in a capture;
 *    --audio-in jack[:PORT] live sound through JACK, analysed as it
 *                           arrives; with --record written beside the show
 *                           (FILE.wav), which names it, so that a replay
 *                           has it;
 *    --midi PORT            a controller's port.
 *  A replay's sound is its show's `audio` line, played like --audio.
 *
 *  Main thread only.
 */
#ifndef KOLVEX_PLAYER_SHOW_INPUTS_H
#define KOLVEX_PLAYER_SHOW_INPUTS_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "args.h"
#include "audio_analysis.h"
#include "audio_file.h"
#include "jack_input.h"
#include "midi_input.h"

class ShowInputs {
 public:
  static const int kRate = 48000;  // a file's sound, analysed and captured

  ShowInputs();
  ~ShowInputs();
  // Opens what `opt` names. False with one line in `err`.
  bool open(const PlayerOptions &opt, std::string &err);

  // A capture's sound: 0 without a file, else its rate, and the filler the
  // render session calls with each frame's samples in turn.
  int capture_rate() const { return track_ ? kRate : 0; }
  void fill(int16_t *stereo, int frames);

  // Before the first frame: the live input's backlog dropped and its
  // recording begun (`wav`, or none), the file's playback started in a
  // live run. False with `err` when the WAV file cannot be written.
  bool start(bool live, const std::string &wav, std::string &err);

  bool has_audio() const { return source_ != nullptr; }
  // The analysis of frame `frame`'s sound (in order, one call a frame).
  AudioFrame analyse(int64_t frame);
  MidiSource *midi() { return midi_.get(); }  // its news are the modulator's
  std::string news();  // the sound input's (AudioSource::news)

 private:
  int fps_ = 24;
  std::unique_ptr<AudioTrack> track_;
  std::unique_ptr<JackInput> jack_;
  std::unique_ptr<AudioSource> file_;
  AudioSource *source_ = nullptr;  // the file's or the live input
  std::unique_ptr<AudioAnalyser> analyser_;
  std::unique_ptr<AudioPlayback> playback_;
  std::unique_ptr<MidiInput> midi_;
  std::vector<float> samples_;
  int64_t filled_ = 0;  // sample pairs handed to the capture
};

// The file a show's `audio` line names: as written when it is there, else
// beside the show file (a show and its sound moved together).
std::string show_audio_path(const std::string &show_file, const std::string &audio);

#endif
