#include "capture.h"

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "intro.h"

namespace capture {

namespace {

Options options;
std::unique_ptr<FrameWriter> writer;
int64_t video_frames = 0;  // frames written = frames of virtual time passed
int64_t audio_frames = 0;
bool interrupted = false;
std::vector<int16_t> mix;
std::chrono::steady_clock::time_point started;

int64_t planned_frames() {
  return options.seconds > 0 ? run_frames(options.seconds, kRate) : programme_frames();
}

void progress(int64_t frames) {
  if (!options.progress || frames % kRate) return;
  double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  double speed = wall > 0 ? (frames / (double)kRate) / wall : 0;
  int64_t left = planned_frames() - frames;
  double eta = speed > 0 && left > 0 ? (left / (double)kRate) / speed : 0;
  fprintf(stdout, "\rframe %lld/%lld  %.1fx real time  %.0f s left   ", (long long)frames,
          (long long)planned_frames(), speed, eta);
  fflush(stdout);
}

// A frame or its sound could not be written: say why, leave nothing
// under the final name, stop.
[[noreturn]] void write_failed() {
  if (options.progress) fputc('\n', stdout);
  fflush(stdout);
  fprintf(stderr, "orvanta-capture: %s\n", writer->error().c_str());
  writer.reset();
  _exit(1);
}

// The programme stops here, in the middle of a scene: leave at once.
[[noreturn]] void end_early() {
  const bool ok = finish();
  if (ok) report();
  fflush(stdout);
  _exit(ok && !interrupted ? 0 : 1);
}

// SIGINT and SIGTERM, held in every thread.
sigset_t stop_signals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

bool stop_pending() {
  const sigset_t set = stop_signals();
  const struct timespec now = {0, 0};
  return sigtimedwait(&set, nullptr, &now) > 0;
}

// --- the clock's hooks ----------------------------------------------------
// True when the frames go to a window someone may watch: not SDL's dummy.
bool window_watched() {
  char name[32] = "";
  return SDL_VideoDriverName(name, sizeof name) && strcmp(name, "dummy") != 0;
}

// Every frame the same on every run: layers in lockstep with the loop.
// On the dummy driver no one sees the window: the frames skip it.
void on_read() {
  if (!kolvex) return;
  kolvex->lockstep = true;
  kolvex->present = window_watched();
}

void on_frame(int64_t frame) {
  if (kolvex && kolvex->screen &&
      !writer->write((const uint8_t *)kolvex->screen->get_surface(), kolvex->screen->pitch))
    write_failed();
  video_frames = frame + 1;
  progress(video_frames);
  interrupted = stop_pending();
  if (interrupted || (options.seconds > 0 && video_frames >= planned_frames())) end_early();
}

// --- the audio driver ---------------------------------------------------------
// The frame loop calls MikMod_Update once per frame, right after the frame
// was taken: mix exactly that frame's samples. Frames before the output
// started (or missed updates) get silence, so sound and pictures stay in
// step to the sample.
void write_audio_frame(bool mixed) {
  const int samples = samples_in(audio_frames);
  mix.resize((size_t)samples * 2);
  if (mixed)
    VC_WriteBytes((SBYTE *)mix.data(), (ULONG)(mix.size() * sizeof(int16_t)));
  else
    std::fill(mix.begin(), mix.end(), 0);
  if (!writer->write_audio(mix.data(), samples)) write_failed();
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
  WriterOptions w;
  w.format = opt.format;
  w.dir = opt.out;
  w.name = "orvanta";
  w.width = kWidth;
  w.height = kHeight;
  w.fps = kRate;
  w.audio_rate = kMixFreq;
  w.crf = opt.crf;
  w.preset = opt.preset;
  // Held in every thread started from here on (the encoders' too), taken
  // at the end of a frame.
  const sigset_t held = stop_signals();
  pthread_sigmask(SIG_BLOCK, &held, nullptr);
  writer = open_frame_writer(w, err);
  if (!writer) return false;
  // First in the list: the library's automatic choice takes it.
  MikMod_RegisterDriver(&driver);
  VirtualClockHooks hooks;
  hooks.on_read = on_read;
  hooks.on_frame = on_frame;
  install_virtual_clock(kRate, opt.seed, hooks);
  started = std::chrono::steady_clock::now();
  return true;
}

bool finish() {
  while (audio_frames < video_frames) write_audio_frame(false);
  if (options.progress) fputc('\n', stdout);
  if (writer->close()) return true;
  fprintf(stderr, "orvanta-capture: %s\n", writer->error().c_str());
  writer.reset();
  return false;
}

void report() {
  fprintf(stdout, "orvanta-capture: %s%lld frames, %lld audio frames in %s\n",
          interrupted ? "interrupted, " : "", (long long)video_frames,
          (long long)audio_frames, writer->describe().c_str());
  fflush(stdout);
}

int64_t frames_written() { return video_frames; }
int64_t audio_frames_written() { return audio_frames; }

}  // namespace capture
