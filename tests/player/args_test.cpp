// The player's command line as one table: what a line plays, or the one
// line and the status that refuse it. Refusals that need the engine (the
// factory, the decoder, the plug-in registry) come before any window.
#include <gtest/gtest.h>

#include <sstream>

#include "player.h"
#include "test_support.h"

namespace {

// DATA, SUITE and FX stand for the repository's data, the PngSuite copy
// and the directory holding the vertigo plug-in.
std::vector<std::string> words(std::string line) {
  const std::pair<std::string, std::string> dirs[] = {
      {"DATA", PLAYER_DATA_DIR}, {"SUITE", PLAYER_PNGSUITE}, {"FX", PLAYER_PLUGIN_DIR}};
  for (const auto &d : dirs)
    for (size_t at; (at = line.find(d.first)) != std::string::npos;)
      line.replace(at, d.first.size(), d.second);
  std::vector<std::string> out{"kolvex"};
  std::istringstream in(line);
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

std::string describe(const PlayerOptions &o) {
  if (o.help) return "help";
  std::ostringstream s;
  s << o.width << "x" << o.height << " " << o.fps << "fps " << o.seconds << "s x" << o.magnify
    << (o.fullscreen ? " full" : "") << (o.has_seed ? " seed " + std::to_string(o.seed) : "");
  if (!o.capture_dir.empty()) s << " capture " << o.capture_dir << " " << o.format;
  for (const LayerSpec &l : o.layers) {
    s << " | " << l.source.substr(l.source.rfind('/') + 1) << " " << blit_name(l.blit) << " "
      << l.alpha;
    for (const std::string &e : l.effects) s << " +" << e;
    if (l.has_pos) s << " @" << l.x << "," << l.y;
  }
  return s.str();
}

// Parses and, for a line that plays, builds the stack: the status, and the
// description or the line that tells what is wrong.
int run(const std::string &line, std::string &out) {
  std::vector<std::string> w = words(line);
  std::vector<char *> argv;
  for (std::string &s : w) argv.push_back(&s[0]);
  PlayerOptions opt;
  if (!parse_args((int)argv.size(), argv.data(), opt, out)) return 2;
  Player player(opt);
  kt::StderrCapture log;
  if (opt.help || player.prepare(out)) {
    out = describe(opt);
    return 0;
  }
  if (out.empty()) out = log.text().substr(0, log.text().find('\n'));  // the factory's
  return 2;
}

struct Row {
  const char *line;
  int status;
  const char *expect;
};

const Row kRows[] = {
    {"layer_gen", 0, "640x480 24fps 0s x1 | layer_gen RGB 255"},
    {"--size 320x200 --fps 30 --seconds 5 --magnify 2 --fullscreen --seed 7 --plugin-dir FX "
     "layer_gen --blit add DATA/ant.png --alpha 128 --effect vertigo --pos -10,20",
     0, "320x200 30fps 5s x2 full seed 7 | layer_gen ADD 255 | ant.png ALPHA 128 +vertigo @-10,20"},
    {"layer_gen --blit 8 --alpha 9 DATA/code.png --blit Sub", 0,
     "640x480 24fps 0s x1 | layer_gen OR 9 | code.png SUB 255"},
    {"--capture out --format png --seconds 2 layer_gen -q -- DATA/ant.png", 0,
     "640x480 24fps 2s x1 capture out png | layer_gen RGB 255 | ant.png RGB 255"},
    {"layer_gen --help", 0, "help"},
    {"", 2, "no LAYER given (kolvex --help tells how)"},
    {"--foo layer_gen", 2, "unknown option --foo"},
    {"-x layer_gen", 2, "unknown option -x"},
    {"--se 3 layer_gen", 2, "ambiguous option --se"},
    {"--quiet=1 layer_gen", 2, "--quiet takes no value"},
    {"layer_gen --effect", 2, "--effect needs a value"},
    {"--blit add layer_gen", 2, "--blit add: no LAYER before it (layer options follow their layer)"},
    {"layer_gen --blit mix", 2,
     "--blit wants RGB, BLU, GRE, RED, ADD, SUB, AND, OR, ALPHA or 1-9, not mix"},
    {"layer_gen --alpha 256", 2, "--alpha wants 0 to 255, not 256"},
    {"layer_gen --pos 3", 2, "--pos wants X,Y, not 3"},
    {"--size 640 layer_gen", 2, "--size wants WxH from 16x16 to 4096x4096, not 640"},
    {"--fps 0 layer_gen", 2, "--fps wants 1 to 200, not 0"},
    {"--magnify 4 layer_gen", 2, "--magnify wants 1, 2 or 3, not 4"},
    {"--seed -1 layer_gen", 2, "--seed wants a number from 0 to 4294967295, not -1"},
    {"layer_gen --capture out", 2, "--capture out needs --seconds"},
    {"--format png layer_gen", 2, "--format png needs --capture DIR"},
    {"--format gif layer_gen", 2, "--format wants y4m, png, mp4 or webm, not gif"},
    {"nosuch.png", 2, "[!] can't open nosuch.png to create a Layer: No such file or directory"},
    {"DATA/dio.c", 2, "[!] can't create a layer with " PLAYER_DATA_DIR "/dio.c"},
    {"SUITE/xhdn0g08.png", 2, PLAYER_PNGSUITE "/xhdn0g08.png: the picture does not decode"},
    {"--plugin-dir FX layer_gen --effect nosuch", 2,
     "no effect named nosuch; --list-effects lists them"},
    {"--plugin-dir FX layer_gen --effect vertigo DATA/ant.png --effect VERTIGO", 2,
     "--effect VERTIGO: already on another layer"},
    {"--plugin-dir /nonexistent layer_gen", 2,
     "--plugin-dir /nonexistent: not a directory that can be read"},
};

TEST(PlayerArgs, EachLineGivesItsStackOrOneLineAndStatus) {
  set_debug(0);
  for (const Row &row : kRows) {
    std::string out;
    EXPECT_EQ(run(row.line, out), row.status) << row.line;
    EXPECT_EQ(out, row.expect) << row.line;
  }
}

}  // namespace
