#include "frame_writer.h"

#include "png_writer.h"
#include "wav_writer.h"
#include "y4m_writer.h"
#ifdef KOLVEX_HAVE_FFMPEG
#include "ffmpeg_writer.h"
#endif

namespace capture {

FrameWriter::~FrameWriter() {}

bool FrameWriter::write_audio(const int16_t *, int) { return true; }

bool FrameWriter::fail(const std::string &reason, int64_t frame) {
  error_ = reason;
  error_frame_ = frame;
  return false;
}

namespace {

// Pictures from one writer, the sound beside them in DIR/NAME.wav.
class WithWavTrack : public FrameWriter {
 public:
  explicit WithWavTrack(std::unique_ptr<FrameWriter> pictures) : pictures_(std::move(pictures)) {}

  bool open(const WriterOptions &o, std::string &err) {
    return wav_.open(o.dir + "/" + o.name + ".wav", o.audio_rate, 2, err);
  }
  bool write(const uint8_t *bgrx, int pitch) override {
    return pictures_->write(bgrx, pitch) || fail(pictures_->error(), pictures_->error_frame());
  }
  bool write_audio(const int16_t *stereo, int frames) override {
    std::string err;
    return wav_.write(stereo, frames, err) || fail(err);
  }
  bool close() override {
    std::string err;
    if (!pictures_->close()) return fail(pictures_->error(), pictures_->error_frame());
    return wav_.close(err) || fail(err);
  }
  std::string describe() const override { return pictures_->describe() + " and " + wav_.path(); }

 private:
  std::unique_ptr<FrameWriter> pictures_;
  WavWriter wav_;
};

bool is_encoded(const std::string &format) { return format == "mp4" || format == "webm"; }

}  // namespace

bool frame_writer_supports(const std::string &format) {
  if (format == "y4m" || format == "png") return true;
#ifdef KOLVEX_HAVE_FFMPEG
  return is_encoded(format);
#else
  return false;
#endif
}

std::unique_ptr<FrameWriter> open_frame_writer(const WriterOptions &o, std::string &err) {
  if (o.width <= 0 || o.height <= 0 || o.width % 2 || o.height % 2 || o.fps <= 0) {
    err = "frames of " + std::to_string(o.width) + "x" + std::to_string(o.height) + " at " +
          std::to_string(o.fps) + " fps cannot be written (even sizes, a positive rate)";
    return nullptr;
  }
  std::unique_ptr<FrameWriter> w;
  if (o.format == "y4m") {
    w = open_y4m_writer(o, err);
  } else if (o.format == "png") {
    w = open_png_writer(o, err);
  } else if (is_encoded(o.format)) {
#ifdef KOLVEX_HAVE_FFMPEG
    return open_ffmpeg_writer(o, err);
#else
    err = "built without FFmpeg's libraries: no " + o.format;
    return nullptr;
#endif
  } else {
    err = "unknown format " + o.format;
    return nullptr;
  }
  if (!w || o.audio_rate <= 0) return w;
  std::unique_ptr<WithWavTrack> both(new WithWavTrack(std::move(w)));
  if (!both->open(o, err)) return nullptr;
  return both;
}

}  // namespace capture
