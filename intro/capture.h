/*  Orvanta 2004 - frame-exact capture
 *
 *  The pieces of orvanta-capture, apart from its command line: a virtual
 *  clock on which every frame takes exactly 1/24 s and nothing sleeps,
 *  writers for the pictures (YUV4MPEG2 stream or numbered PNG files) and
 *  a libmikmod output driver that mixes exactly one frame's worth of
 *  music per frame into a WAV file.
 */
#ifndef ORVANTA_CAPTURE_H
#define ORVANTA_CAPTURE_H

#include <cstdint>
#include <cstdio>
#include <string>

namespace capture {

constexpr int kRate = 24;           // frames per second
constexpr int kMixFreq = 44100;     // the intro's mixing frequency
constexpr int kWidth = 640, kHeight = 480;

// Audio samples (per channel) from the start of frame n to its end.
inline int64_t samples_before(int64_t frame) { return frame * kMixFreq / kRate; }
inline int samples_in(int64_t frame) {
  return (int)(samples_before(frame + 1) - samples_before(frame));
}
// Microseconds of virtual time at the start of frame n.
inline int64_t usec_at(int64_t frame) { return frame * 1000000 / kRate; }

// ---------------------------------------------------------------------------
// Pictures. Frames come in the layer format: 32 bits per pixel, bytes blue,
// green, red, fourth, `pitch` bytes per line.
// ---------------------------------------------------------------------------
class FrameWriter {
 public:
  virtual ~FrameWriter() {}
  virtual bool write(const uint8_t *bgrx, int pitch) = 0;
  virtual bool close() = 0;
  virtual std::string describe() const = 0;
};

// "y4m": one 4:2:0 stream, BT.601 studio range. "png": frame_000001.png...
// Null (with the reason in `err`) when the output cannot be created.
FrameWriter *open_frame_writer(const std::string &format, const std::string &dir,
                               std::string &err);

// BT.601 studio-range 4:2:0 of one frame: y has w*h bytes, u and v
// (w/2)*(h/2) each; w and h even.
void bgrx_to_yuv420(const uint8_t *bgrx, int pitch, int w, int h, uint8_t *y, uint8_t *u,
                    uint8_t *v);

// ---------------------------------------------------------------------------
// Sound: 16-bit stereo PCM in a WAV file whose sizes are written on close.
// ---------------------------------------------------------------------------
class WavWriter {
 public:
  WavWriter() {}
  ~WavWriter() { close(); }
  bool open(const std::string &path, int rate, int channels);
  bool write(const void *pcm, size_t bytes);
  bool silence(size_t bytes);
  bool close();
  uint64_t bytes() const { return data_bytes_; }

 private:
  FILE *file_ = nullptr;
  uint64_t data_bytes_ = 0;
  int rate_ = 0, channels_ = 0;
  WavWriter(const WavWriter &) = delete;
  WavWriter &operator=(const WavWriter &) = delete;
};

// ---------------------------------------------------------------------------
// The session: virtual clock, frame and audio output, kept in step.
// ---------------------------------------------------------------------------
struct Options {
  std::string out = "capture";
  std::string format = "y4m";
  uint32_t seed = 2004;
  int seconds = 0;  // 0: the whole programme
  bool progress = true;
};

// Installs the virtual clock and the capture driver (before the music
// set-up registers the others, so the library picks it), opens the files.
bool begin(const Options &opt, std::string &err);
// Pads the audio to the frames written and closes the files. True when
// everything was written.
bool finish();
// Frames and audio frames written so far.
int64_t frames_written();
int64_t audio_frames_written();

}  // namespace capture

#endif
