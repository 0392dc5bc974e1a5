/*  Kolvex modulation - a sound file
 *
 *  AudioTrack: a whole file FFmpeg decodes (any format), as stereo 16-bit
 *  samples at one rate, in memory: a capture takes each frame's sound from
 *  it and the analysis reads it in lockstep with the frames (FileAudio).
 *  AudioPlayback: a track played through SDL's audio from its start, for a
 *  live show.
 */
#ifndef KOLVEX_MODULATION_AUDIO_FILE_H
#define KOLVEX_MODULATION_AUDIO_FILE_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio_source.h"

class AudioTrack {
 public:
  // False with one line in `err` naming the file: not there, not a format
  // FFmpeg reads, or no sound in it ("FILE: no sound in it").
  bool load(const std::string &file, int rate, std::string &err);
  int rate() const { return rate_; }
  int64_t frames() const { return (int64_t)pcm_.size() / 2; }  // sample pairs
  const int16_t *data() const { return pcm_.data(); }
  // `n` sample pairs from pair `from` into `stereo`; silence past the end.
  void mix(int64_t from, int n, int16_t *stereo) const;

 private:
  std::vector<int16_t> pcm_;
  int rate_ = 0;
};

// A track read in lockstep with the frames.
class FileAudio : public AudioSource {
 public:
  explicit FileAudio(const AudioTrack &track) : track_(track) {}
  int rate() const override { return track_.rate(); }
  void take(int64_t frame, int fps, std::vector<float> &mono) override;

 private:
  const AudioTrack &track_;
};

class AudioPlayback {
 public:
  AudioPlayback();
  ~AudioPlayback();  // stops and closes the device
  // Opens SDL's audio for the track (SDL's video may or may not be up).
  // False with `err` when there is no device: the show goes on silent.
  bool open(const AudioTrack &track, std::string &err);
  void start();  // from the track's start, now
  void stop();

 private:
  struct State;
  std::unique_ptr<State> s_;
};

#endif
