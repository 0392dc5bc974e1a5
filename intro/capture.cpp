#include "capture.h"

#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "intro.h"

namespace capture {

// ---------------------------------------------------------------------------
// Colour conversion
// ---------------------------------------------------------------------------
// BT.601 studio range, 8-bit fixed point. The offsets keep every
// intermediate positive, so the shifts are plain divisions. Luma and chroma
// are separate straight loops so that the compiler can vectorise both.
static inline uint8_t luma(int r, int g, int b) {
  return (uint8_t)(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
}

void bgrx_to_yuv420(const uint8_t *bgrx, int pitch, int w, int h, uint8_t *y, uint8_t *u,
                    uint8_t *v) {
  for (int row = 0; row < h; row++) {
    const uint8_t *s = bgrx + (long)row * pitch;
    uint8_t *yo = y + (long)row * w;
    for (int x = 0; x < w; x++) yo[x] = luma(s[4 * x + 2], s[4 * x + 1], s[4 * x]);
  }
  const int cw = w / 2;
  for (int row = 0; row < h; row += 2) {
    const uint8_t *l0 = bgrx + (long)row * pitch;
    const uint8_t *l1 = l0 + pitch;
    uint8_t *uo = u + (long)(row / 2) * cw;
    uint8_t *vo = v + (long)(row / 2) * cw;
    for (int x = 0; x < cw; x++) {
      const uint8_t *a = l0 + 8 * x, *b = l1 + 8 * x;
      const int bl = (a[0] + a[4] + b[0] + b[4] + 2) >> 2;
      const int gr = (a[1] + a[5] + b[1] + b[5] + 2) >> 2;
      const int rd = (a[2] + a[6] + b[2] + b[6] + 2) >> 2;
      uo[x] = (uint8_t)((112 * bl - 38 * rd - 74 * gr + 128 + (128 << 8)) >> 8);
      vo[x] = (uint8_t)((112 * rd - 94 * gr - 18 * bl + 128 + (128 << 8)) >> 8);
    }
  }
}

namespace {

struct FileCloser {
  void operator()(FILE *f) const {
    if (f) fclose(f);
  }
};
typedef std::unique_ptr<FILE, FileCloser> File;

// ---------------------------------------------------------------------------
// YUV4MPEG2: a text header, then "FRAME\n" and three planes per frame
// ---------------------------------------------------------------------------
class Y4mWriter : public FrameWriter {
 public:
  Y4mWriter(FILE *f, const std::string &path)
      : file_(f), path_(path), y_(kWidth * kHeight), u_(kWidth * kHeight / 4),
        v_(kWidth * kHeight / 4) {
    setvbuf(file_.get(), nullptr, _IOFBF, 1 << 20);
    fprintf(file_.get(), "YUV4MPEG2 W%d H%d F%d:1 Ip A1:1 C420jpeg\n", kWidth, kHeight, kRate);
  }
  bool write(const uint8_t *bgrx, int pitch) override {
    bgrx_to_yuv420(bgrx, pitch, kWidth, kHeight, y_.data(), u_.data(), v_.data());
    FILE *f = file_.get();
    return fputs("FRAME\n", f) >= 0 && fwrite(y_.data(), 1, y_.size(), f) == y_.size() &&
           fwrite(u_.data(), 1, u_.size(), f) == u_.size() &&
           fwrite(v_.data(), 1, v_.size(), f) == v_.size();
  }
  bool close() override {
    if (!file_) return true;
    bool ok = fflush(file_.get()) == 0 && !ferror(file_.get());
    ok = fclose(file_.release()) == 0 && ok;
    return ok;
  }
  std::string describe() const override { return path_; }

 private:
  File file_;
  std::string path_;
  std::vector<uint8_t> y_, u_, v_;
};

// ---------------------------------------------------------------------------
// Numbered PNG files, fast compression: they are an intermediate format
// ---------------------------------------------------------------------------
struct PngWrite {
  png_structp png = nullptr;
  png_infop info = nullptr;
  PngWrite() {
    png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png) info = png_create_info_struct(png);
  }
  ~PngWrite() { png_destroy_write_struct(&png, info ? &info : nullptr); }
};

class PngSequenceWriter : public FrameWriter {
 public:
  explicit PngSequenceWriter(const std::string &dir) : dir_(dir), row_(kWidth * 3) {}
  bool write(const uint8_t *bgrx, int pitch) override {
    char name[64];
    snprintf(name, sizeof name, "/frame_%06d.png", ++count_);
    File f(fopen((dir_ + name).c_str(), "wb"));
    if (!f) return false;
    PngWrite w;
    if (!w.png || !w.info) return false;
    if (setjmp(png_jmpbuf(w.png))) return false;
    png_init_io(w.png, f.get());
    png_set_compression_level(w.png, 1);
    png_set_filter(w.png, 0, PNG_FILTER_SUB);
    png_set_IHDR(w.png, w.info, kWidth, kHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(w.png, w.info);
    for (int y = 0; y < kHeight; y++) {
      const uint8_t *s = bgrx + (long)y * pitch;
      for (int x = 0; x < kWidth; x++) {
        row_[x * 3] = s[x * 4 + 2];
        row_[x * 3 + 1] = s[x * 4 + 1];
        row_[x * 3 + 2] = s[x * 4];
      }
      png_write_row(w.png, row_.data());
    }
    png_write_end(w.png, nullptr);
    return fclose(f.release()) == 0;
  }
  bool close() override { return true; }
  std::string describe() const override { return dir_ + "/frame_NNNNNN.png"; }

 private:
  std::string dir_;
  std::vector<uint8_t> row_;
  int count_ = 0;
};

}  // namespace

FrameWriter *open_frame_writer(const std::string &format, const std::string &dir,
                               std::string &err) {
  if (format == "y4m") {
    std::string path = dir + "/orvanta.y4m";
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) {
      err = "can't write " + path + ": " + strerror(errno);
      return nullptr;
    }
    return new Y4mWriter(f, path);
  }
  if (format == "png") return new PngSequenceWriter(dir);
  err = "unknown format " + format + " (y4m or png)";
  return nullptr;
}

// ---------------------------------------------------------------------------
// WAV
// ---------------------------------------------------------------------------
namespace {

void put_le(uint8_t *p, uint32_t v, int n) {
  for (int i = 0; i < n; i++) p[i] = (uint8_t)(v >> (8 * i));
}

void wav_header(uint8_t h[44], int rate, int channels, uint32_t data_bytes) {
  memcpy(h, "RIFF", 4);
  put_le(h + 4, 36 + data_bytes, 4);
  memcpy(h + 8, "WAVEfmt ", 8);
  put_le(h + 16, 16, 4);
  put_le(h + 20, 1, 2);  // PCM
  put_le(h + 22, (uint32_t)channels, 2);
  put_le(h + 24, (uint32_t)rate, 4);
  put_le(h + 28, (uint32_t)(rate * channels * 2), 4);
  put_le(h + 32, (uint32_t)(channels * 2), 2);
  put_le(h + 34, 16, 2);
  memcpy(h + 36, "data", 4);
  put_le(h + 40, data_bytes, 4);
}

}  // namespace

bool WavWriter::open(const std::string &path, int rate, int channels) {
  close();
  file_ = fopen(path.c_str(), "wb");
  if (!file_) return false;
  rate_ = rate;
  channels_ = channels;
  data_bytes_ = 0;
  uint8_t h[44];
  wav_header(h, rate, channels, 0);
  return fwrite(h, 1, sizeof h, file_) == sizeof h;
}

bool WavWriter::write(const void *pcm, size_t bytes) {
  if (!file_) return false;
  data_bytes_ += bytes;
  return fwrite(pcm, 1, bytes, file_) == bytes;
}

bool WavWriter::silence(size_t bytes) {
  static const uint8_t zeros[4096] = {0};
  while (bytes) {
    size_t n = bytes < sizeof zeros ? bytes : sizeof zeros;
    if (!write(zeros, n)) return false;
    bytes -= n;
  }
  return true;
}

bool WavWriter::close() {
  if (!file_) return true;
  uint8_t h[44];
  // A WAV file counts its data in 32 bits; four hours of stereo fit.
  wav_header(h, rate_, channels_, (uint32_t)data_bytes_);
  bool ok = fseek(file_, 0, SEEK_SET) == 0 && fwrite(h, 1, sizeof h, file_) == sizeof h;
  ok = fclose(file_) == 0 && ok;
  file_ = nullptr;
  return ok;
}

// ---------------------------------------------------------------------------
// The session
// ---------------------------------------------------------------------------
namespace {

Options options;
std::unique_ptr<FrameWriter> frames_out;
WavWriter wav;
int64_t video_frames = 0;  // frames written = frames of virtual time passed
int64_t audio_frames = 0;
bool write_failed = false;
std::vector<int16_t> mix;
std::chrono::steady_clock::time_point started;

// About the frames of the whole programme, for the time-left estimate.
constexpr int64_t kProgrammeFrames = 5460;

int64_t planned_frames() {
  return options.seconds > 0 ? (int64_t)options.seconds * kRate : kProgrammeFrames;
}

void progress() {
  if (!options.progress || video_frames % kRate) return;
  double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  double speed = wall > 0 ? (video_frames / (double)kRate) / wall : 0;
  int64_t left = planned_frames() - video_frames;
  double eta = speed > 0 && left > 0 ? (left / (double)kRate) / speed : 0;
  fprintf(stdout, "\rframe %lld/%lld  %.1fx real time  %.0f s left   ",
          (long long)video_frames, (long long)planned_frames(), speed, eta);
  fflush(stdout);
}

// --- the virtual clock ------------------------------------------------------
// Time is the seed (seconds) plus the frames written so far; the frame
// limiter's one sleep per frame is where a finished frame is taken.
void virtual_gettime(struct timeval *tv) {
  // Every frame the same on every run: layers in lockstep with the loop.
  if (kolvex) kolvex->lockstep = true;
  const int64_t us = usec_at(video_frames);
  tv->tv_sec = (time_t)(options.seed + us / 1000000);
  tv->tv_usec = (suseconds_t)(us % 1000000);
}

void virtual_sleep(const struct timespec *) {
  if (kolvex && kolvex->screen) {
    if (!frames_out->write((const uint8_t *)kolvex->screen->get_surface(),
                           kolvex->screen->pitch))
      write_failed = true;
  }
  video_frames++;
  progress();
  if (options.seconds > 0 && video_frames >= (int64_t)options.seconds * kRate) {
    bool ok = finish();
    fprintf(stdout, "\n");
    // The programme stops here, in the middle of a scene: leave at once.
    _exit(ok ? 0 : 1);
  }
}

const KolvexClock virtual_clock = {virtual_gettime, virtual_sleep};

// --- the audio driver ---------------------------------------------------------
// The frame loop calls MikMod_Update once per frame, right after the frame
// was taken: mix exactly that frame's samples. Frames before the output
// started (or missed updates) get silence, so sound and pictures stay in
// step to the sample.
void write_audio_frame(bool mixed) {
  const size_t bytes = (size_t)samples_in(audio_frames) * 4;  // 16-bit stereo
  if (mixed) {
    mix.resize(bytes / 2);
    VC_WriteBytes((SBYTE *)mix.data(), (ULONG)bytes);
    if (!wav.write(mix.data(), bytes)) write_failed = true;
  } else if (!wav.silence(bytes)) {
    write_failed = true;
  }
  audio_frames++;
}

void driver_update() {
  while (audio_frames < video_frames) write_audio_frame(audio_frames == video_frames - 1);
}

BOOL driver_present() { return 1; }
void driver_command_line(const CHAR *) {}

int driver_init() {
  // The mixer makes what the intro asks for; the file must say the same.
  if (md_mixfreq != kMixFreq || !(md_mode & DMODE_16BITS) || !(md_mode & DMODE_STEREO)) {
    error("capture: the music must be mixed at %i Hz, 16-bit stereo", kMixFreq);
    return 1;
  }
  return VC_Init();
}

MDRIVER capture_driver() {
  MDRIVER d;
  memset(&d, 0, sizeof d);
  d.Name = "Frame-exact capture";
  d.Version = "Frame-exact capture driver v1.0";
  d.HardVoiceLimit = 0;
  d.SoftVoiceLimit = 255;
  d.Alias = "capture";
  d.CmdLineHelp = "";
  d.CommandLine = driver_command_line;
  d.IsPresent = driver_present;
  d.SampleLoad = VC_SampleLoad;
  d.SampleUnload = VC_SampleUnload;
  d.FreeSampleSpace = VC_SampleSpace;
  d.RealSampleLength = VC_SampleLength;
  d.Init = driver_init;
  d.Exit = VC_Exit;
  d.Reset = nullptr;
  d.SetNumVoices = VC_SetNumVoices;
  d.PlayStart = VC_PlayStart;
  d.PlayStop = VC_PlayStop;
  d.Update = driver_update;
  d.Pause = nullptr;
  d.VoiceSetVolume = VC_VoiceSetVolume;
  d.VoiceGetVolume = VC_VoiceGetVolume;
  d.VoiceSetFrequency = VC_VoiceSetFrequency;
  d.VoiceGetFrequency = VC_VoiceGetFrequency;
  d.VoiceSetPanning = VC_VoiceSetPanning;
  d.VoiceGetPanning = VC_VoiceGetPanning;
  d.VoicePlay = VC_VoicePlay;
  d.VoiceStop = VC_VoiceStop;
  d.VoiceStopped = VC_VoiceStopped;
  d.VoiceGetPosition = VC_VoiceGetPosition;
  d.VoiceRealVolume = VC_VoiceRealVolume;
  return d;
}

MDRIVER driver = capture_driver();

}  // namespace

bool begin(const Options &opt, std::string &err) {
  options = opt;
  mkdir(opt.out.c_str(), 0755);  // an existing one is fine
  frames_out.reset(open_frame_writer(opt.format, opt.out, err));
  if (!frames_out) return false;
  const std::string wav_path = opt.out + "/orvanta.wav";
  if (!wav.open(wav_path, kMixFreq, 2)) {
    err = "can't write " + wav_path + ": " + strerror(errno);
    return false;
  }
  // First in the list: the library's automatic choice takes it.
  MikMod_RegisterDriver(&driver);
  kolvex_set_clock(&virtual_clock);
  started = std::chrono::steady_clock::now();
  return true;
}

bool finish() {
  while (audio_frames < video_frames) write_audio_frame(false);
  bool ok = !write_failed;
  if (frames_out) ok = frames_out->close() && ok;
  ok = wav.close() && ok;
  return ok;
}

int64_t frames_written() { return video_frames; }
int64_t audio_frames_written() { return audio_frames; }

}  // namespace capture
