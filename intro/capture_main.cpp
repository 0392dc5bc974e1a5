/*  orvanta-capture - the intro rendered frame-exact to files
 *
 *  Plays the very programme of the intro on a virtual clock: every frame
 *  is exactly 1/24 s of the intro's time, nothing waits for the wall
 *  clock, and each frame is written out, with the music mixed in step
 *  into a WAV file. Run it where the intro runs (its data are looked for
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
          "Renders the Orvanta 2004 intro frame by frame, far faster than real time.\n"
          "\n"
          "  -o, --out DIR       where to write (default: capture)\n"
          "  -f, --format FMT    y4m: DIR/orvanta.y4m, one 640x480 24 fps stream (default)\n"
          "                      png: DIR/frame_000001.png ...\n"
          "  -s, --seed N        the generator's seed (default 2004): the same seed\n"
          "                      gives the same frames and sound\n"
          "  -t, --seconds N     only the first N seconds of the intro\n"
          "  -q, --quiet         no progress line\n"
          "  -h, --help          this text\n"
          "\n"
          "The music goes to DIR/orvanta.wav (44100 Hz, 16-bit stereo), exactly as\n"
          "long as the pictures. To make a video:\n"
          "  ffmpeg -i DIR/orvanta.y4m -i DIR/orvanta.wav -c:v libx264 -crf 18 \\\n"
          "         -pix_fmt yuv420p -c:a aac -b:a 192k orvanta.mp4\n");
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
  static const struct option longopts[] = {
      {"out", required_argument, nullptr, 'o'},     {"format", required_argument, nullptr, 'f'},
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
        if (opt.format != "y4m" && opt.format != "png") {
          fprintf(stderr, "orvanta-capture: --format is y4m or png, not %s\n", optarg);
          return 2;
        }
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
  bool ok = capture::finish();
  if (opt.progress) fprintf(stdout, "\n");
  fprintf(stdout, "orvanta-capture: %lld frames, %lld audio frames in %s\n",
          (long long)capture::frames_written(), (long long)capture::audio_frames_written(),
          opt.out.c_str());
  delete kolvex;
  music_teardown();
  return ok ? 0 : 1;
}
