// The player's command line as one table: what a line plays, or the one
// line and the status that refuse it. Refusals that need the engine (the
// factory, the decoder, the plug-in registry) come before any window.
#include <gtest/gtest.h>

#include <sstream>

#include "player.h"
#include "test_support.h"

namespace {

// `threads`: those the engine was given, told when a count was asked for.
std::string describe(const PlayerOptions &o, int threads) {
  std::ostringstream s;
  s << o.width << "x" << o.height << " " << o.fps << "fps " << o.seconds << "s x" << o.magnify
    << (o.fullscreen ? " full" : "") << (o.has_seed ? " seed " + std::to_string(o.seed) : "")
    << (o.fill ? " canvas filled" : "") << (o.threads ? " threads " + std::to_string(threads) : "");
  if (!o.capture_dir.empty()) s << " capture " << o.capture_dir << " " << o.capture.format;
  for (const LayerSpec &l : o.layers) {
    s << " | " << l.source.substr(l.source.rfind('/') + 1) << " "
      << (l.blend.empty() ? blit_name(l.blit) : l.blend) << " " << l.alpha;
    for (const std::string &e : l.effects) s << " +" << e;
    if (l.has_pos) s << " @" << l.x << "," << l.y;
  }
  return o.help ? "help" : s.str();
}

// Parses and, for a line that plays, builds the stack: the status, and the
// description or the line that tells what is wrong (the factory's own).
int run(const std::string &line, std::string &out) {
  std::istringstream in(line);
  std::vector<std::string> words{"kolvex"};
  for (std::string w; in >> w;) words.push_back(w);
  std::vector<char *> argv;
  for (std::string &w : words) argv.push_back(&w[0]);
  PlayerOptions opt;
  if (!parse_args((int)argv.size(), argv.data(), opt, out)) return 2;
  Player player(opt);
  kt::StderrCapture log;
  const bool plays = opt.help || player.prepare(out);
  if (plays) out = describe(opt, player.context() ? player.context()->threads() : 0);
  if (out.empty()) out = log.text().substr(0, log.text().find('\n'));
  return plays ? 0 : 2;
}

#define DATA PLAYER_DATA_DIR "/"
#define FX "--plugin-dir " PLAYER_PLUGIN_DIR " "

const struct Row {
  const char *line;
  int status;
  const char *expect;
} kRows[] = {
    {"layer_gen", 0, "640x480 24fps 0s x1 | layer_gen RGB 255"},
    {"--size 320x200 --fps 30 --seconds 5 --magnify 2 --fullscreen --seed 7 " FX "layer_gen "
     "--blit add " DATA "ant.png --alpha 128 --effect vertigo --pos -10,20", 0,
     "320x200 30fps 5s x2 full seed 7 | layer_gen ADD 255 | ant.png ALPHA 128 +vertigo @-10,20"},
    {"--threads 3 layer_gen", 0, "640x480 24fps 0s x1 threads 3 | layer_gen RGB 255"},
    {"--threads 257 layer_gen", 2, "--threads wants 0 to 256 (0: one for each core), not 257"},
    {"--threads -1 layer_gen", 2, "--threads wants 0 to 256 (0: one for each core), not -1"},
    {"--threads all layer_gen", 2, "--threads wants 0 to 256 (0: one for each core), not all"},
    {"layer_gen --blit 8 --alpha 9 " DATA "code.png --blit Sub", 0,
     "640x480 24fps 0s x1 | layer_gen OR 9 | code.png SUB 255"},
    {"--capture out --format png --seconds 2 layer_gen -q -- " DATA "ant.png", 0,
     "640x480 24fps 2s x1 capture out png | layer_gen RGB 255 | ant.png RGB 255"},
    {"layer_gen --help", 0, "help"},
    {"", 2, "no LAYER given (kolvex --help tells how)"},
    {"--foo layer_gen", 2, "unknown option --foo"},
    {"--osc 70000 layer_gen", 2, "--osc wants a UDP port from 1 to 65535, not 70000"},
    {"--http 70000 layer_gen", 2, "--http wants a TCP port from 1 to 65535, or 0 for any free one, not 70000"},
    {"--http 0 --http-bind 0.0.0.0 layer_gen", 2,
     "--http-bind 0.0.0.0 opens the control surface to a network: give --http-token TOKEN too "
     "(the page asks for it once)"},
    {"--http-token s3cret layer_gen", 2, "--http-bind, --http-token and --http-root go with --http PORT"},
    {"--replay show.txt layer_gen", 2, "--replay show.txt brings its own layers: name none beside it"},
    {"--se 3 layer_gen", 2, "ambiguous option --se"},
    {"--quiet=1 layer_gen", 2, "--quiet takes no value"},
    {"layer_gen --effect", 2, "--effect needs a value"},
    {"--blit add layer_gen", 2, "--blit add: no LAYER before it (layer options follow their layer)"},
    {"layer_gen --blit mix", 2,
     "--blit wants RGB, BLU, GRE, RED, ADD, SUB, AND, OR, ALPHA, 1-9, OVER or frei0r.MIXER, not mix"},
    // frei0r: mixers and OVER as blends, sources as layers, settings on effects.
    {"layer_gen " DATA "code.png --blit frei0r.multiply --effect frei0r.brightness:brightness=0.7", 0,
     "640x480 24fps 0s x1 | layer_gen RGB 255 | code.png frei0r.multiply 255 +frei0r.brightness:brightness=0.7"},
    {"frei0r.nois0r --blit over --alpha 60", 0, "640x480 24fps 0s x1 | frei0r.nois0r over 60"},
    {"layer_gen --effect frei0r.invert0r:x=1", 2,
     "frei0r.invert0r has no parameter x (--list-effects lists them)"},
    {"layer_gen --effect frei0r.brightness:brightness=lots", 2,
     "frei0r.brightness: brightness wants a number, not \"lots\""},
    {"layer_gen --blit frei0r.invert0r", 2, "frei0r.invert0r is a frei0r filter, not a mixer"},
    {"frei0r.darken", 2, "frei0r.darken is a frei0r mixer, not a source"},
    {"layer_gen --alpha 256", 2, "--alpha wants 0 to 255, not 256"},
    {"layer_gen --speed 20", 2, "--speed wants a number from 0.1 to 10, not 20"},
    {"layer_gen --set scale=17", 2, "--set scale wants a number from 0.01 to 16, not 17"},
    {"layer_gen --set pos=1", 2, "--set pos wants X Y from -32768 to 32767, not 1"},
    {"layer_gen --set shade=1", 2, "--set shade: shade is no layer's setting (--list-controls lists them)"},
    {"layer_gen --set video/once=on", 2, "layer_gen: --set video/once is not a setting of this kind of layer"},
    {"--once layer_gen", 2, "--once: no LAYER before it (layer options follow their layer)"},
    // --fill before any layer is the canvas's (a replay names none).
    {"--fill layer_gen", 0, "640x480 24fps 0s x1 canvas filled | layer_gen RGB 255"},
    {"--fit layer_gen", 2, "--fit: no LAYER before it (layer options follow their layer)"},
    {DATA "ant.png --fit", 2, DATA "ant.png: --fit is not a setting of this kind of layer"},
    {"--size 640 layer_gen", 2, "--size wants WxH from 16x16 to 4096x4096, not 640"},
    {"layer_gen --capture out", 2, "--capture out needs --seconds"},
    {"--format png layer_gen", 2, "--format, --crf and --preset need --capture DIR"},
    {"--capture out --seconds 1 --format y4m --crf 20 layer_gen", 2,
     "--crf and --preset are for mp4 and webm, not y4m"},
#ifdef KOLVEX_HAVE_FFMPEG
    {"--capture out --seconds 1 --crf 99 layer_gen", 2, "libx264 refuses crf 99 (it takes 0 to 51)"},
#endif
    {"--capture out --seconds 1 --size 321x200 layer_gen", 2,
     "--capture needs an even width and height, not 321x200"},
    {"--stream udp://127.0.0.1:9 --capture out --seconds 1 layer_gen", 2,
     "--stream and --capture do not go together: a capture renders offline, a stream sends the "
     "show as it plays"},
    {"--stream udp://127.0.0.1:9 --format mp4 layer_gen", 2,
     "--format is the capture's; a stream's is --stream-format"},
    {"--stream-format flv layer_gen", 2, "--stream-format flv needs --stream URL"},
    {"--stream udp://127.0.0.1:9 --size 321x200 layer_gen", 2,
     "--stream needs an even width and height, not 321x200"},
    {"nosuch.png", 2, "nosuch.png: No such file or directory"},
    {PLAYER_PNGSUITE "/xhdn0g08.png", 2,
     PLAYER_PNGSUITE "/xhdn0g08.png: the picture does not decode (libpng error: IHDR: CRC error)"},
    // A picture cut short would show partly black: refused, not played.
    {"$CUT", 2, "$CUT: the picture does not decode (libpng error: Read Error)"},
    {FX "layer_gen --effect nosuch", 2, "no effect named nosuch; --list-effects lists them"},
    {FX "layer_gen --effect vertigo " DATA "ant.png --effect VERTIGO", 2,
     "--effect VERTIGO: already on layer 1 (an effect runs on one layer)"},
    {FX "layer_gen --effect vertigo --effect vertigo", 2,
     "--effect vertigo: already on this layer (an effect runs once a layer)"},
    {"--plugin-dir " PLAYER_FX_DIR " layer_gen --effect noinit", 2,
     "--effect noinit: the effect refuses a layer of 640x480"},
    {"--plugin-dir /nonexistent layer_gen", 2,
     "--plugin-dir /nonexistent: not a directory that can be read"},
};

std::string with_cut(std::string text, const std::string &cut) {
  for (size_t at; (at = text.find("$CUT")) != std::string::npos;) text.replace(at, 4, cut);
  return text;
}

TEST(PlayerArgs, EachLineGivesItsStackOrOneLineAndStatus) {
  set_debug(0);
  kt::TempDir dir;
  const std::string cut = dir.path + "/cut.png";
  const std::vector<uint8_t> ant = kt::read_file(DATA "ant.png");
  kt::write_file(cut, std::vector<uint8_t>(ant.begin(), ant.begin() + ant.size() / 2));
  for (const Row &row : kRows) {
    std::string out;
    const std::string line = with_cut(row.line, cut);
    EXPECT_EQ(run(line, out), row.status) << line;
    EXPECT_EQ(out, with_cut(row.expect, cut)) << line;
  }
}

}  // namespace
