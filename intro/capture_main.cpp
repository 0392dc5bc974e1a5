/*  orvanta-capture - the intro rendered frame-exact to files
 *
 *  Plays the very programme of the intro on a virtual clock: every frame
 *  is exactly 1/24 s of the intro's time, nothing waits for the wall
 *  clock, and each frame is written out with the music mixed in step:
 *  into one MP4 or WebM file, or a y4m stream or PNG pictures with a WAV
 *  file beside them. Run it where the intro runs (its data are looked for
 *  the same way). Headless: no window, no sound card.
 */
#include <getopt.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "capture.h"
#include "intro.h"

namespace {

void usage(FILE *out) {
  fprintf(out,
          "usage: orvanta-capture [options]\n"
          "Renders the Orvanta 2004 intro frame by frame, far faster than real time,\n"
          "into one video file with its music.\n"
          "\n"
          "  -o, --out DIR       where to write (default: capture)\n"
          "%s"
          "  -s, --seed N        the generator's seed (default 2004): the same seed\n"
          "                      gives the same frames and sound\n"
          "  -t, --seconds N     only the first N seconds of the intro (N * 24 + 1 frames)\n"
          "      --threads N     share each frame's work out on N threads (default 0:\n"
          "                      one for each core); any N writes the same files\n"
          "  -q, --quiet         errors only: no progress line, no closing line\n"
          "  -v, --verbose       the engine's notices and warnings too; twice: its traces\n"
          "  -h, --help          this text\n"
          "\n"
          "Every frame is exactly 1/24 s of the intro and the sound is in step to the\n"
          "sample. Files are written under a temporary name and renamed once complete;\n"
          "a capture that fails leaves nothing under the final name (status 1).\n"
          "Ctrl-C (SIGINT) or SIGTERM stops it after the frame being made: the file is\n"
          "closed properly and plays up to there, \"interrupted after N frames\"\n"
          "(status 1). Run it where the intro's data are: without them it refuses to\n"
          "start, naming what is missing (status 2).\n",
          capture::capture_options_help("orvanta", 22).c_str());
}

bool parse_number(const char *text, long min, long max, long &out) {
  char *end = nullptr;
  long v = strtol(text, &end, 10);
  if (!*text || *end || v < min || v > max) return false;
  out = v;
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  enum { kCrf = 1000, kPreset, kThreads };
  static const struct option longopts[] = {
      {"out", required_argument, nullptr, 'o'},  {"format", required_argument, nullptr, 'f'},
      {"crf", required_argument, nullptr, kCrf}, {"preset", required_argument, nullptr, kPreset},
      {"seed", required_argument, nullptr, 's'}, {"seconds", required_argument, nullptr, 't'},
      {"quiet", no_argument, nullptr, 'q'},      {"verbose", no_argument, nullptr, 'v'},
      {"help", no_argument, nullptr, 'h'},       {"threads", required_argument, nullptr, kThreads},
      {nullptr, 0, nullptr, 0}};
  capture::SessionOptions opt;
  opt.program = "orvanta-capture";
  opt.dir = "capture";
  opt.name = "orvanta";
  opt.width = capture::kWidth;
  opt.height = capture::kHeight;
  opt.fps = capture::kRate;
  opt.audio_rate = capture::kMixFreq;
  opt.sound = capture::mix_music;
  opt.planned = capture::programme_frames();
  opt.origin = 2004;
  opt.progress = isatty(STDOUT_FILENO);
  bool quiet = false;
  int verbose = 0;
  int threads = 0;
  int c;
  long n;
  std::string err;
  while ((c = getopt_long(argc, argv, "o:f:s:t:qvh", longopts, nullptr)) != -1) {
    switch (c) {
      case 'o': opt.dir = optarg; break;
      case 'f':
      case kCrf:
      case kPreset: {
        const std::string name = c == 'f' ? "--format" : c == kCrf ? "--crf" : "--preset";
        if (!capture::parse_capture_option(name, optarg, opt.settings, err)) {
          fprintf(stderr, "orvanta-capture: %s\n", err.c_str());
          return 2;
        }
        break;
      }
      case 's':
        if (!parse_number(optarg, 0, 0x7FFFFFFF, n)) {
          fprintf(stderr, "orvanta-capture: --seed wants a number, not %s\n", optarg);
          return 2;
        }
        opt.origin = n;
        break;
      case 't':
        if (!parse_number(optarg, 1, 3600, n)) {
          fprintf(stderr, "orvanta-capture: --seconds wants 1 to 3600, not %s\n", optarg);
          return 2;
        }
        opt.frames = capture::run_frames(n, capture::kRate);
        break;
      case kThreads:
        if (!parse_number(optarg, 0, WorkerPool::kMaxThreads, n)) {
          fprintf(stderr, "orvanta-capture: --threads wants 0 to 256, not %s\n", optarg);
          return 2;
        }
        threads = (int)n;
        break;
      case 'q': quiet = true; break;
      case 'v': verbose++; break;
      case 'h': usage(stdout); return 0;
      default: usage(stderr); return 2;
    }
  }
  if (optind < argc) {
    fprintf(stderr, "orvanta-capture: unexpected argument %s\n", argv[optind]);
    usage(stderr);
    return 2;
  }
  if (!capture::check_capture_settings(opt.settings, err)) {
    fprintf(stderr, "orvanta-capture: %s\n", err.c_str());
    return 2;
  }
  opt.progress = opt.progress && !quiet;
  opt.summary = !quiet;
  opt.sink_level = quiet ? LOG_ERROR : verbose >= 2 ? LOG_DEBUG : verbose ? LOG_WARNING : LOG_ERROR;

  // No window and no sound card needed: pictures and sound go to files.
  setenv("SDL_VIDEODRIVER", "dummy", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);

  // A capture without its pictures or its effect is worse than none.
  const std::vector<std::string> missing = capture::missing_data();
  for (const std::string &m : missing) fprintf(stderr, "orvanta-capture: missing %s\n", m.c_str());
  if (!missing.empty()) return 2;

  capture::RenderSession session(opt);
  session.begin();
  capture::register_music_driver();
  orvanta_open();
  kolvex->set_threads(threads);  // before anything runs on them
  if (!session.attach(*kolvex, err)) {
    fprintf(stderr, "orvanta-capture: %s\n", err.c_str());
    delete kolvex;
    return 1;
  }
  orvanta_setup();
  orvanta_scenes();
  const int status = session.finish();
  delete kolvex;
  music_teardown();
  return status;
}
