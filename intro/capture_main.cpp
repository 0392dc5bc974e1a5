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
          "  -f, --format FMT    mp4:  DIR/orvanta.mp4, H.264 + AAC, to play and share\n"
          "                      webm: DIR/orvanta.webm, VP9 + Opus, for the web\n"
          "                      y4m:  DIR/orvanta.y4m, uncompressed 4:2:0, to edit\n"
          "                      png:  DIR/frame_000001.png ..., lossless stills\n"
          "                      (y4m and png: the music in DIR/orvanta.wav)\n"
          "                      default: %s\n"
          "      --crf N         mp4/webm quality, lower is better: H.264 0-51\n"
          "                      (default 18), VP9 0-63 (default 32)\n"
          "      --preset NAME   mp4: x264's speed preset, ultrafast ... placebo\n"
          "                      (default superfast); webm: VP9's deadline,\n"
          "                      realtime (default), good or best\n"
          "  -s, --seed N        the generator's seed (default 2004): the same seed\n"
          "                      gives the same frames and sound\n"
          "  -t, --seconds N     only the first N seconds of the intro (N * 24 + 1 frames)\n"
          "  -q, --quiet         no progress line\n"
          "  -h, --help          this text\n"
          "\n"
          "Every frame is exactly 1/24 s of the intro and the sound is in step to the\n"
          "sample. Files are complete or absent: they are written under a temporary\n"
          "name and renamed at the end. Ctrl-C (SIGINT) or SIGTERM stops the capture\n"
          "after the frame being made, with the file complete up to there (status 1).\n",
          capture::frame_writer_supports("mp4")
              ? "mp4"
              : "y4m (built without FFmpeg's libraries: no mp4 or webm)");
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
  enum { kCrf = 1000, kPreset };
  static const struct option longopts[] = {
      {"out", required_argument, nullptr, 'o'},     {"format", required_argument, nullptr, 'f'},
      {"crf", required_argument, nullptr, kCrf},    {"preset", required_argument, nullptr, kPreset},
      {"seed", required_argument, nullptr, 's'},    {"seconds", required_argument, nullptr, 't'},
      {"quiet", no_argument, nullptr, 'q'},         {"help", no_argument, nullptr, 'h'},
      {nullptr, 0, nullptr, 0}};
  capture::Options opt;
  opt.progress = isatty(STDOUT_FILENO);
  int c;
  long n;
  while ((c = getopt_long(argc, argv, "o:f:s:t:qh", longopts, nullptr)) != -1) {
    switch (c) {
      case 'o':
        opt.out = optarg;
        break;
      case 'f':
        opt.format = optarg;
        if (opt.format != "mp4" && opt.format != "webm" && opt.format != "y4m" &&
            opt.format != "png") {
          fprintf(stderr, "orvanta-capture: --format is mp4, webm, y4m or png, not %s\n", optarg);
          return 2;
        }
        break;
      case kCrf:
        if (!parse_number(optarg, 0, 0x7FFFFFFF, n)) {
          fprintf(stderr, "orvanta-capture: --crf wants a number from 0, not %s\n", optarg);
          return 2;
        }
        opt.crf = (int)n;
        break;
      case kPreset:
        opt.preset = optarg;
        break;
      case 's':
        if (!parse_number(optarg, 0, 0x7FFFFFFF, n)) {
          fprintf(stderr, "orvanta-capture: --seed wants a number, not %s\n", optarg);
          return 2;
        }
        opt.seed = (uint32_t)n;
        break;
      case 't':
        if (!parse_number(optarg, 1, 3600, n)) {
          fprintf(stderr, "orvanta-capture: --seconds wants 1 to 3600, not %s\n", optarg);
          return 2;
        }
        opt.seconds = (int)n;
        break;
      case 'q':
        opt.progress = false;
        break;
      case 'h':
        usage(stdout);
        return 0;
      default:
        usage(stderr);
        return 2;
    }
  }
  if (optind < argc) {
    fprintf(stderr, "orvanta-capture: unexpected argument %s\n", argv[optind]);
    usage(stderr);
    return 2;
  }
  if (opt.format.empty()) opt.format = capture::frame_writer_supports("mp4") ? "mp4" : "y4m";
  if (!capture::frame_writer_supports(opt.format)) {
    fprintf(stderr,
            "orvanta-capture: built without FFmpeg's libraries: "
            "no %s (y4m and png are there)\n",
            opt.format.c_str());
    return 2;
  }
  const bool encoded = opt.format == "mp4" || opt.format == "webm";
  if (!encoded && (opt.crf >= 0 || !opt.preset.empty())) {
    fprintf(stderr, "orvanta-capture: --crf and --preset are for mp4 and webm, not %s\n",
            opt.format.c_str());
    return 2;
  }

  // No window and no sound card needed: pictures and sound go to files.
  setenv("SDL_VIDEODRIVER", "dummy", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);

  std::string err;
  if (!capture::begin(opt, err)) {
    fprintf(stderr, "orvanta-capture: %s\n", err.c_str());
    return 1;
  }
  orvanta_setup();
  orvanta_scenes();
  const bool ok = capture::finish();
  delete kolvex;
  music_teardown();
  if (ok) capture::report();
  return ok ? 0 : 1;
}
