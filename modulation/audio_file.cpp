#include "audio_file.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}
#include <SDL.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "ffmpeg_process.h"
#include "virtual_clock.h"

namespace {

// One file's sound, decoded and converted to interleaved stereo s16.
class Decoder {
 public:
  Decoder(const std::string &file, int rate) : file_(file), rate_(rate) {}

  bool run(std::vector<int16_t> &pcm, std::string &err) {
    if (access(file_.c_str(), R_OK) != 0) return fail(err, strerror(errno));
    AVFormatContext *f = nullptr;
    if (avformat_open_input(&f, file_.c_str(), nullptr, nullptr) < 0)  // frees f
      return fail(err, "not a sound file FFmpeg can read");
    input_.reset(f);
    if (avformat_find_stream_info(f, nullptr) < 0) return fail(err, "damaged, no stream read");
    const AVCodec *dec = nullptr;
    stream_ = av_find_best_stream(f, AVMEDIA_TYPE_AUDIO, -1, -1, &dec, 0);
    if (stream_ == AVERROR_STREAM_NOT_FOUND) return fail(err, "no sound in it");
    if (stream_ < 0 || !dec) return fail(err, "no decoder for its sound in this FFmpeg");
    codec_.reset(avcodec_alloc_context3(dec));
    packet_.reset(av_packet_alloc());
    frame_.reset(av_frame_alloc());
    if (!codec_ || !packet_ || !frame_ ||
        avcodec_parameters_to_context(codec_.get(), f->streams[stream_]->codecpar) < 0)
      return fail(err, "out of memory");
    if (avcodec_open2(codec_.get(), dec, nullptr) < 0)
      return fail(err, "its sound's decoder does not open");
    for (unsigned i = 0; i < f->nb_streams; i++)
      if ((int)i != stream_) f->streams[i]->discard = AVDISCARD_ALL;

    pcm.clear();
    while (av_read_frame(f, packet_.get()) >= 0) {
      const bool ours = packet_->stream_index == stream_;
      // A damaged packet loses its own sound, not the file's.
      if (ours && avcodec_send_packet(codec_.get(), packet_.get()) >= 0 && !drain(pcm, err))
        return false;
      av_packet_unref(packet_.get());
    }
    avcodec_send_packet(codec_.get(), nullptr);
    if (!drain(pcm, err) || !flush(pcm, err)) return false;
    if (pcm.empty()) return fail(err, "no sound in it");
    return true;
  }

 private:
  bool fail(std::string &err, const std::string &why) {
    err = file_ + ": " + why;
    return false;
  }

  bool drain(std::vector<int16_t> &pcm, std::string &err) {
    while (avcodec_receive_frame(codec_.get(), frame_.get()) >= 0) {
      const bool ok = convert(pcm, frame_.get(), err);
      av_frame_unref(frame_.get());
      if (!ok) return false;
    }
    return true;
  }

  // The resampler set for the first frame's layout, format and rate.
  bool set_up(const AVFrame *in, std::string &err) {
    AVChannelLayout layout{};
    if (in->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || in->ch_layout.nb_channels == 0)
      av_channel_layout_default(&layout, std::max(in->ch_layout.nb_channels, 1));
    else if (av_channel_layout_copy(&layout, &in->ch_layout) < 0)
      return fail(err, "out of memory");
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    SwrContext *s = nullptr;
    int r = swr_alloc_set_opts2(&s, &stereo, AV_SAMPLE_FMT_S16, rate_, &layout,
                                (AVSampleFormat)in->format, in->sample_rate, 0, nullptr);
    // A mono file plays as loud on both sides as it is, not 3 dB down.
    const double both[2] = {1.0, 1.0};
    if (r >= 0 && layout.nb_channels == 1) r = swr_set_matrix(s, both, 1);
    av_channel_layout_uninit(&layout);
    swr_.reset(s);
    if (r < 0 || swr_init(s) < 0) return fail(err, "its sound cannot be converted");
    return true;
  }

  // `in` converted and appended; null flushes the resampler.
  bool convert(std::vector<int16_t> &pcm, const AVFrame *in, std::string &err) {
    if (in && !swr_ && !set_up(in, err)) return false;
    if (!swr_) return true;
    const int room = swr_get_out_samples(swr_.get(), in ? in->nb_samples : 0);
    if (room <= 0) return true;
    const size_t at = pcm.size();
    pcm.resize(at + 2 * (size_t)room);
    uint8_t *out = reinterpret_cast<uint8_t *>(pcm.data() + at);
    const int got = swr_convert(swr_.get(), &out, room, in ? (const uint8_t **)in->extended_data : nullptr,
                                in ? in->nb_samples : 0);
    pcm.resize(at + 2 * (size_t)std::max(got, 0));
    return true;
  }

  bool flush(std::vector<int16_t> &pcm, std::string &err) { return convert(pcm, nullptr, err); }

  std::string file_;
  int rate_;
  int stream_ = -1;
  ffmpeg_process::Input input_;
  ffmpeg_process::Codec codec_;
  ffmpeg_process::Packet packet_;
  ffmpeg_process::Frame frame_;
  ffmpeg_process::Resampler swr_;
};

}  // namespace

bool AudioTrack::load(const std::string &file, int rate, std::string &err) {
  ffmpeg_process::set_up();  // FFmpeg's log off the terminal
  std::vector<int16_t> pcm;
  if (rate <= 0) {
    err = file + ": no sample rate asked";
    return false;
  }
  if (!Decoder(file, rate).run(pcm, err)) return false;
  pcm_.swap(pcm);
  rate_ = rate;
  return true;
}

void AudioTrack::mix(int64_t from, int n, int16_t *stereo) const {
  const int64_t total = frames();
  for (int i = 0; i < n; i++) {
    const int64_t at = from + i;
    const bool in = at >= 0 && at < total;
    stereo[2 * i] = in ? pcm_[2 * at] : 0;
    stereo[2 * i + 1] = in ? pcm_[2 * at + 1] : 0;
  }
}

void FileAudio::take(int64_t frame, int fps, std::vector<float> &mono) {
  const int rate = track_.rate();
  if (fps <= 0 || rate <= 0 || frame < 0) return;
  const int64_t from = capture::samples_before(frame, rate, fps);
  const int64_t to = capture::samples_before(frame + 1, rate, fps);
  const int64_t total = track_.frames();
  const int16_t *pcm = track_.data();
  for (int64_t i = from; i < to; i++)
    mono.push_back(i < total ? (pcm[2 * i] + pcm[2 * i + 1]) / 65536.0f : 0.0f);
}

// The device's thread reads the track and the position; the main thread
// only sets them while the device is paused, or through the atomics.
struct AudioPlayback::State {
  const AudioTrack *track = nullptr;
  std::atomic<int64_t> position{0};
  std::atomic<bool> playing{false};
  bool open = false, subsystem = false;

  static void fill(void *self, Uint8 *stream, int len) {
    State &s = *static_cast<State *>(self);
    const int pairs = len / 4;
    if (!s.playing.load()) {
      memset(stream, 0, (size_t)len);
      return;
    }
    s.track->mix(s.position.fetch_add(pairs), pairs, reinterpret_cast<int16_t *>(stream));
  }
};

AudioPlayback::AudioPlayback() : s_(std::make_unique<State>()) {}

AudioPlayback::~AudioPlayback() {
  if (s_->open) SDL_CloseAudio();  // waits for the device's thread
  if (s_->subsystem) SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

bool AudioPlayback::open(const AudioTrack &track, std::string &err) {
  if (s_->open) {
    err = "sound already playing";
    return false;
  }
  if (track.rate() <= 0) {
    err = "no sound loaded";
    return false;
  }
  if (!SDL_WasInit(SDL_INIT_AUDIO)) {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) < 0) {
      err = std::string("no sound device: ") + SDL_GetError();
      return false;
    }
    s_->subsystem = true;
  }
  s_->track = &track;
  SDL_AudioSpec want{};
  want.freq = track.rate();
  want.format = AUDIO_S16SYS;
  want.channels = 2;
  want.samples = 1024;  // ~21 ms at 48 kHz
  want.callback = &State::fill;
  want.userdata = s_.get();
  if (SDL_OpenAudio(&want, nullptr) < 0) {  // SDL converts to what the device takes
    err = std::string("no sound device: ") + SDL_GetError();
    if (s_->subsystem) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    s_->subsystem = false;
    return false;
  }
  s_->open = true;
  return true;
}

void AudioPlayback::start() {
  if (!s_->open) return;
  SDL_LockAudio();
  s_->position = 0;
  s_->playing = true;
  SDL_UnlockAudio();
  SDL_PauseAudio(0);
}

void AudioPlayback::stop() {
  if (!s_->open) return;
  SDL_PauseAudio(1);
  s_->playing = false;
}
