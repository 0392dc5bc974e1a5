#include "show_inputs.h"

#include <sys/stat.h>

ShowInputs::ShowInputs() = default;
ShowInputs::~ShowInputs() = default;

bool ShowInputs::open(const PlayerOptions &opt, std::string &err) {
  fps_ = opt.fps;
  if (!opt.audio_file.empty()) {
    track_.reset(new AudioTrack());
    if (!track_->load(opt.audio_file, kRate, err)) return false;
    file_.reset(new FileAudio(*track_));
    source_ = file_.get();
  } else if (!opt.audio_in.empty()) {
    jack_.reset(new JackInput());
    if (!jack_->open(opt.audio_in, err)) return false;
    source_ = jack_.get();
  }
  if (source_) analyser_.reset(new AudioAnalyser(source_->rate(), opt.fps));
  if (!opt.midi_port.empty()) {
    midi_.reset(new MidiInput());
    if (!midi_->open(opt.midi_port, err)) return false;
  }
  return true;
}

bool ShowInputs::start(bool live, const std::string &wav, std::string &err) {
  if (jack_) {
    // The show starts now: what came while it was being set up is not its.
    std::vector<float> before;
    jack_->take(0, fps_, before);
    if (!wav.empty() && !jack_->record(wav, err)) return false;
  }
  if (track_ && live) {
    playback_.reset(new AudioPlayback());
    std::string why;
    if (playback_->open(*track_, why))
      playback_->start();
    else
      fprintf(stderr, "kolvex: no sound out (%s); the show goes on silent\n", why.c_str());
  }
  return true;
}

void ShowInputs::fill(int16_t *stereo, int frames) {
  if (track_) track_->mix(filled_, frames, stereo);
  filled_ += frames;
}

AudioFrame ShowInputs::analyse(int64_t frame) {
  samples_.clear();
  source_->take(frame, fps_, samples_);
  return analyser_->analyse(samples_.data(), samples_.size());
}

std::string ShowInputs::news() { return source_ ? source_->news() : ""; }

std::string show_audio_path(const std::string &show_file, const std::string &audio) {
  struct stat st;
  if (audio.empty() || audio[0] == '/' || stat(audio.c_str(), &st) == 0) return audio;
  const size_t slash = show_file.rfind('/');
  if (slash == std::string::npos) return audio;
  const std::string beside = show_file.substr(0, slash + 1) + audio;
  return stat(beside.c_str(), &st) == 0 ? beside : audio;
}
