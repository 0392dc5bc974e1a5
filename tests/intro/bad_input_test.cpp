// The intro fed bad input: its data files broken the ways files break,
// plug-in directories it cannot use, signals and Escape at each phase.
// Every case checks the lines the intro prints and the status it ends
// with. Set-up failures run the intro itself; what only shows scenes into
// the programme runs on orvanta-capture, the same programme on a virtual
// clock, many times faster than real time.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "intro_harness.h"

namespace {

const std::vector<std::string> kAllData = {"tolvek-climax.xm", "ant.png", "code.png", "dio.c"};

bool installed_data_present() {
  struct stat st;
  return stat("/usr/local/share/orvanta", &st) == 0;
}

// An installed data directory would be searched too (and its plug-in
// directory scanned instead of the working directory).
#define REQUIRE_NO_INSTALLED_DATA()                                        \
  if (installed_data_present())                                            \
  GTEST_SKIP() << "/usr/local/share/orvanta exists and would be searched"

std::map<std::string, std::string> headless() {
  return {{"SDL_VIDEODRIVER", "dummy"}, {"SDL_AUDIODRIVER", "dummy"}};
}

std::map<std::string, std::string> in_window(const it::XServer &x) {
  return {{"SDL_VIDEODRIVER", "x11"}, {"DISPLAY", x.display()}, {"SDL_AUDIODRIVER", "dummy"}};
}

std::string slurp(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void spill(const std::string &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string data_file(const std::string &name) { return slurp(it::data_dir() + "/" + name); }

// ---------------------------------------------------------------------------
// Broken pictures, made from the real ones or from scratch
// ---------------------------------------------------------------------------
void put_be32(std::string &s, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) s.push_back((char)(v >> shift));
}

std::string png_chunk(const char *type, const std::string &data) {
  std::string c;
  put_be32(c, (uint32_t)data.size());
  c += type;
  c += data;
  put_be32(c, (uint32_t)crc32(0, (const Bytef *)c.data() + 4, (uInt)(c.size() - 4)));
  return c;
}

// A well-formed truecolour picture as far as its header goes, every CRC
// right, claiming w x h: a few hundred bytes that would need gigabytes.
std::string png_claiming(uint32_t w, uint32_t h) {
  std::string ihdr;
  put_be32(ihdr, w);
  put_be32(ihdr, h);
  ihdr += std::string("\x08\x02\x00\x00\x00", 5);
  std::string row(64, '\0'), z(compressBound(row.size()), '\0');
  uLongf zn = z.size();
  compress((Bytef *)&z[0], &zn, (const Bytef *)row.data(), row.size());
  z.resize(zn);
  return std::string("\x89PNG\r\n\x1a\n", 8) + png_chunk("IHDR", ihdr) + png_chunk("IDAT", z) +
         png_chunk("IEND", "");
}

// The real picture with one byte of the CRC of its first chunk of `type`
// flipped.
std::string png_with_bad_crc(const std::string &picture, const char *type) {
  std::string p = data_file(picture);
  size_t at = p.find(type);
  if (at == std::string::npos || at < 4) return "";
  uint32_t len = (uint8_t)p[at - 4] << 24 | (uint8_t)p[at - 3] << 16 | (uint8_t)p[at - 2] << 8 |
                 (uint8_t)p[at - 1];
  p[at + 4 + len] ^= 0x5A;
  return p;
}

// ---------------------------------------------------------------------------
// Running
// ---------------------------------------------------------------------------
struct Result {
  int status = -1;
  std::string log;
};

// As root every file is readable whatever its mode: the intro then runs
// under setpriv without the capabilities that override permissions.
std::vector<std::string> permissions_apply() {
  if (geteuid() != 0) return {};
  return {"/usr/bin/setpriv", "--bounding-set=-dac_override,-dac_read_search"};
}

// Whether `shell_test` fails (the file or directory is kept out) when run
// the way the intro will be.
bool kept_out(const std::string &shell_test) {
  std::string cmd;
  for (const std::string &w : permissions_apply()) cmd += "'" + w + "' ";
  cmd += "sh -c '" + shell_test + "' >/dev/null 2>&1";
  return system(cmd.c_str()) != 0;
}

std::unique_ptr<it::Process> start(const std::string &program, const std::string &cwd,
                                   const std::map<std::string, std::string> &env,
                                   std::vector<std::string> args, bool under_permissions) {
  std::vector<std::string> cmd = under_permissions ? permissions_apply()
                                                   : std::vector<std::string>{};
  if (cmd.empty()) return std::make_unique<it::Process>(program, cwd, env, args);
  std::vector<std::string> all(cmd.begin() + 1, cmd.end());
  all.push_back(program);
  all.insert(all.end(), args.begin(), args.end());
  return std::make_unique<it::Process>(cmd[0], cwd, env, all);
}

// The intro, headless, until it ends by itself: the set-up failures.
Result run_intro(const it::WorkDir &dir, bool under_permissions = false) {
  auto p = start(it::intro_program(), dir.path, headless(), {"--ignored-argument"},
                 under_permissions);
  Result r;
  r.status = p->wait(60);
  r.log = p->log();
  return r;
}

// The programme's first `seconds` on the virtual clock; pictures and sound
// go to /dev/null. Status 0 when it got that far.
Result run_programme(const it::WorkDir &dir, int seconds, bool under_permissions = false) {
  std::string out = dir.path + "/capture-out";
  mkdir(out.c_str(), 0755);
  for (const char *f : {"/orvanta.y4m", "/orvanta.wav"})
    if (symlink("/dev/null", (out + f).c_str()) != 0) ADD_FAILURE() << "symlink " << out << f;
  auto p = start(it::capture_program(), dir.path, {},
                 {"--out", out, "--quiet", "--format", "y4m", "--seconds", std::to_string(seconds)},
                 under_permissions);
  Result r;
  r.status = p->wait(300);
  r.log = p->log();
  return r;
}

#define EXPECT_IN_ORDER(log, ...) \
  EXPECT_EQ(it::first_missing_in_order(log, {__VA_ARGS__}), "") << log

bool has(const std::string &log, const std::string &text) {
  return log.find(text) != std::string::npos;
}

// What the program itself wrote: a sanitizer's report at exit (a sanitizer
// build) comes after it.
std::string own_lines(const std::string &log) {
  size_t at = log.find("\n=================================================================\n");
  if (at == std::string::npos) return log;
  std::string own = log.substr(0, at + 1);
  while (own.size() > 1 && own[own.size() - 2] == '\n') own.pop_back();  // its blank line
  return own;
}

bool ends_with(const std::string &log, const std::string &text) {
  return log.size() >= text.size() && log.compare(log.size() - text.size(), text.size(), text) == 0;
}

size_t occurrences(const std::string &log, const std::string &text) {
  size_t n = 0;
  for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) n++;
  return n;
}

// The assertion each picture stops the set-up at.
struct Picture {
  const char *name;
  const char *assertion;
};
const Picture kAnt = {"ant.png", "vrel:208: failed assertion `formica'"};
const Picture kCode = {"code.png", "vrel:209: failed assertion `numeri'"};

// ---------------------------------------------------------------------------
// Pictures that stop the set-up at their assertion
// ---------------------------------------------------------------------------
struct BadPicture {
  std::string label;
  Picture picture;
  std::function<void(const std::string &path)> make;  // makes the bad file
  std::vector<std::string> lines;  // before the assertion line, in order
};

std::ostream &operator<<(std::ostream &os, const BadPicture &b) { return os << b.label; }

std::vector<BadPicture> stopping_pictures() {
  std::vector<BadPicture> cases;
  for (const Picture &pic : {kAnt, kCode}) {
    const std::string n = pic.name;
    const std::string stem = n.substr(0, n.find('.'));
    // Found, but no PNG file to open: the next places are tried.
    std::vector<std::string> not_png = {"[!] Pnglayer::open(" + n + ") - not a valid png file",
                                        "[!] create_layer : PNG open failed",
                                        "[!] can't open /usr/local/share/orvanta/" + n,
                                        "[!] can't open data/" + n,
                                        "[!] image not found: " + n};
    // A PNG file whose header libpng refuses: no picture at all.
    auto undecodable = [&](std::vector<std::string> libpng) {
      libpng.push_back("[!] error reading the PNG file.");
      libpng.push_back("[!] image not usable: " + n);
      return libpng;
    };
    cases.push_back({stem + "_empty", pic, [](const std::string &p) { spill(p, ""); }, not_png});
    cases.push_back({stem + "_directory", pic,
                     [](const std::string &p) { ASSERT_EQ(mkdir(p.c_str(), 0755), 0); },
                     not_png});
    cases.push_back({stem + "_cut_in_header", pic,
                     [n](const std::string &p) { spill(p, data_file(n).substr(0, 20)); },
                     undecodable({"libpng error: Read Error"})});
    cases.push_back({stem + "_header_crc", pic,
                     [n](const std::string &p) { spill(p, png_with_bad_crc(n, "IHDR")); },
                     undecodable({"libpng error: IHDR: CRC error"})});
    for (uint32_t side : {100000u, 20000u})
      cases.push_back({stem + "_claims_" + std::to_string(side) + "_square", pic,
                       [side](const std::string &p) { spill(p, png_claiming(side, side)); },
                       undecodable({"libpng warning: Image width exceeds user limit in IHDR",
                                    "libpng warning: Image height exceeds user limit in IHDR",
                                    "libpng error: Invalid IHDR data"})});
  }
  return cases;
}

class PictureStopsSetUp : public ::testing::TestWithParam<BadPicture> {};

TEST_P(PictureStopsSetUp, AtItsAssertion) {
  REQUIRE_NO_INSTALLED_DATA();
  const BadPicture &b = GetParam();
  it::WorkDir dir("bad_" + b.label);
  dir.stage(kAllData);
  const std::string path = dir.path + "/" + b.picture.name;
  ASSERT_EQ(unlink(path.c_str()), 0);
  b.make(path);
  Result r = run_intro(dir);
  EXPECT_EQ(r.status, EXIT_FAILURE) << r.log;
  std::vector<std::string> lines = b.lines;
  lines.push_back(b.picture.assertion);
  EXPECT_EQ(it::first_missing_in_order(r.log, lines), "") << r.log;
  // The assertion is the last word: nothing runs after it.
  EXPECT_TRUE(ends_with(own_lines(r.log), std::string(b.picture.assertion) + "\n")) << r.log;
  if (b.picture.name == std::string("code.png")) {
    EXPECT_TRUE(has(r.log, "[F] PngLayer :: w[400] h[300]")) << "ant.png was loaded before";
  }
}

INSTANTIATE_TEST_SUITE_P(Intro, PictureStopsSetUp, ::testing::ValuesIn(stopping_pictures()),
                         [](const ::testing::TestParamInfo<BadPicture> &info) {
                           return info.param.label;
                         });

TEST(IntroBadPicture, MissingAntStopsAtItsAssertion) {
  REQUIRE_NO_INSTALLED_DATA();
  it::WorkDir dir("no_ant");
  dir.stage({"tolvek-climax.xm", "code.png", "dio.c"});
  Result r = run_intro(dir);
  EXPECT_EQ(r.status, EXIT_FAILURE) << r.log;
  EXPECT_IN_ORDER(r.log, "[!] can't open ant.png to create a Layer: No such file or directory",
                  "[!] can't open /usr/local/share/orvanta/ant.png to create a Layer: ",
                  "[!] can't open data/ant.png to create a Layer: ",
                  "[!] image not found: ant.png", kAnt.assertion);
  EXPECT_FALSE(has(r.log, "code.png")) << "code.png comes after the assertion";
}

TEST(IntroBadPicture, UnreadablePicturesStopAtTheirAssertion) {
  REQUIRE_NO_INSTALLED_DATA();
  for (const Picture &pic : {kAnt, kCode}) {
    SCOPED_TRACE(pic.name);
    it::WorkDir dir(std::string("unreadable_") + pic.name);
    dir.stage(kAllData);
    const std::string path = dir.path + "/" + pic.name;
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    if (!kept_out("exec 3< \"" + path + "\""))
      GTEST_SKIP() << "a file of mode 000 cannot be kept from the intro here";
    Result r = run_intro(dir, true);
    EXPECT_EQ(r.status, EXIT_FAILURE) << r.log;
    const std::string n = pic.name;
    EXPECT_IN_ORDER(r.log, "[!] can't open " + n + " to create a Layer: Permission denied",
                    "[!] image not found: " + n, pic.assertion);
  }
}

// ---------------------------------------------------------------------------
// Pictures broken inside their image data: the layer keeps what was
// decoded (the rest stays black) and the programme goes on past the scenes
// that show them
// ---------------------------------------------------------------------------
TEST(IntroBadPicture, CodeBrokenInItsImageDataIsKeptAndThePlayGoesOn) {
  REQUIRE_NO_INSTALLED_DATA();
  struct Case {
    const char *label, *libpng;
    std::string bytes;
  } cases[] = {
      {"cut_in_half", "libpng error: Read Error",
       data_file("code.png").substr(0, data_file("code.png").size() / 2)},
      {"data_crc", "libpng error: IDAT: CRC error", png_with_bad_crc("code.png", "IDAT")},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.label);
    it::WorkDir dir(std::string("code_") + c.label);
    dir.stage(kAllData);
    dir.stage_plugin();
    spill(dir.path + "/code.png", c.bytes);
    // Scene 8 shows the picture, through the effect when there is one;
    // scene 10 drops it.
    Result r = run_programme(dir, 105);
    EXPECT_EQ(r.status, 0) << r.log;
    EXPECT_IN_ORDER(r.log, "[F] PngLayer::open(code.png)", c.libpng,
                    "[!] error reading the PNG file.", "[F] scene 8", "[F] scene 10",
                    "[F] PngLayer::close()", "[F] scene 11");
    EXPECT_FALSE(has(r.log, "image not usable")) << r.log;
    if (!it::plugin_file().empty()) {
      EXPECT_IN_ORDER(r.log, "[F] scene 8", "plugin vertigo::init");
    }
  }
}

TEST(IntroBadPicture, AntCutInHalfIsKeptForTheClosingScene) {
  REQUIRE_NO_INSTALLED_DATA();
  it::WorkDir dir("ant_cut");
  dir.stage(kAllData);
  std::string ant = data_file("ant.png");
  spill(dir.path + "/ant.png", ant.substr(0, ant.size() / 2));
  Result r = run_programme(dir, 185);
  EXPECT_EQ(r.status, 0) << r.log;
  EXPECT_IN_ORDER(r.log, "[F] PngLayer::open(ant.png)", "libpng error: Read Error",
                  "[!] error reading the PNG file.", "[F] scene 16");
}

// ---------------------------------------------------------------------------
// Music
// ---------------------------------------------------------------------------
TEST(IntroBadMusic, UnloadableModuleStopsAtItsAssertion) {
  REQUIRE_NO_INSTALLED_DATA();
  std::string xm = data_file("tolvek-climax.xm");
  ASSERT_GT(xm.size(), 1000u);
  std::string garbage(5000, '\0');
  for (size_t i = 0; i < garbage.size(); i++) garbage[i] = (char)(i * 131 + (i >> 3));
  struct Case {
    const char *label;
    std::string bytes;
  } cases[] = {{"garbage", garbage},
               {"header_only", xm.substr(0, 60)},
               {"cut_in_half", xm.substr(0, xm.size() / 2)},
               {"empty", ""}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.label);
    it::WorkDir dir(std::string("xm_") + c.label);
    dir.stage(kAllData);
    spill(dir.path + "/tolvek-climax.xm", c.bytes);
    Result r = run_intro(dir);
    EXPECT_EQ(r.status, EXIT_FAILURE) << r.log;
    EXPECT_IN_ORDER(r.log, "[F] music file not found: tolvek-climax.xm",
                    "[F] music file not found: /usr/local/share/orvanta/tolvek-climax.xm",
                    "[!] music file not found: data/tolvek-climax.xm",
                    "vrel:196: failed assertion `climax'");
    EXPECT_FALSE(has(r.log, "music track by tolvek")) << r.log;
  }
}

// The module ends with the last sample's data: cut short there, the
// library takes what there is, and the intro plays it.
TEST(IntroBadMusic, ModuleCutInItsLastSamplePlays) {
  REQUIRE_NO_INSTALLED_DATA();
  it::WorkDir dir("xm_cut_at_end");
  dir.stage(kAllData);
  std::string xm = data_file("tolvek-climax.xm");
  spill(dir.path + "/tolvek-climax.xm", xm.substr(0, xm.size() - 100));
  Result r = run_programme(dir, 25);
  EXPECT_EQ(r.status, 0) << r.log;
  EXPECT_IN_ORDER(r.log, "[F] loaded tolvek-climax.xm ch:10 pat:20 ins:10 smp:10",
                  "[*] music track by tolvek", "[F] scene 1", "[F] scene 2");
}

// ---------------------------------------------------------------------------
// The first scroller's text (scenes 12 to 15)
// ---------------------------------------------------------------------------
void expect_plays_past_the_scroller(const std::string &label, const std::string &text) {
  it::WorkDir dir("dio_" + label);
  dir.stage(kAllData);
  spill(dir.path + "/dio.c", text);
  Result r = run_programme(dir, 185);
  EXPECT_EQ(r.status, 0) << r.log;
  EXPECT_IN_ORDER(r.log, "[F] initialized SCR layer 640x480 32bpp", "[F] scene 12",
                  "[F] scene 15", "[F] scene 16");
  EXPECT_FALSE(has(r.log, "ScrollLayer::")) << r.log;  // no error opening or appending
}

// NULs at the start, inside and at the end of lines, and a long run of
// them: each read of the file ends at its first NUL.
TEST(IntroBadText, ScrollerTextWithNulsPlaysThrough) {
  REQUIRE_NO_INSTALLED_DATA();
  std::string dio = data_file("dio.c");
  std::string text = std::string("\0", 1) + dio.substr(0, 200) + std::string("\0\0\n\0\n", 5);
  for (size_t i = 200; i < dio.size(); i++) text += dio[i] == 'e' ? '\0' : dio[i];
  text += std::string(3000, '\0');
  expect_plays_past_the_scroller("nuls", text);
}

// One line of a megabyte, without a newline: some two thousand scroller
// lines with an image each, most still waiting when the scroller goes.
TEST(IntroBadText, ScrollerTextOfOneMegabyteLinePlaysThrough) {
  REQUIRE_NO_INSTALLED_DATA();
  std::string text;
  for (size_t i = 0; i < (1u << 20); i++) text += (char)(' ' + i % 95);
  expect_plays_past_the_scroller("one_megabyte_line", text);
}

// ---------------------------------------------------------------------------
// Plug-ins: the registry scans the working directory; whatever it finds
// there, the intro goes on, with the effect or without it (scene 8)
// ---------------------------------------------------------------------------
std::string fx(const char *variant) {
  return std::string(BAD_INPUT_FX_DIR) + "/testfx_" + variant + "-darwin.so";
}

bool copy(const std::string &from, const std::string &to) {
  std::string bytes = slurp(from);
  if (bytes.empty()) return false;
  spill(to, bytes);
  return true;
}

#define REQUIRE_PLUGINS()                                                       \
  REQUIRE_NO_INSTALLED_DATA();                                                  \
  if (it::plugin_file().empty() || std::string(BAD_INPUT_FX_DIR).empty())       \
  GTEST_SKIP() << "no effect or no test plug-ins built"

TEST(IntroBadPlugins, RefusedFilesAreLoggedAndTheEffectStillRuns) {
  REQUIRE_PLUGINS();
  it::WorkDir dir("plugins_refused");
  dir.stage(kAllData);
  dir.stage_plugin();
  ASSERT_TRUE(copy(fx("noclean"), dir.path + "/testfx_noclean-darwin.so"));
  spill(dir.path + "/junk-darwin.so", "not a shared object\n");
  Result r = run_programme(dir, 80);
  EXPECT_EQ(r.status, 0) << r.log;
  EXPECT_IN_ORDER(r.log, "[W] Plugin::noclean[clean] ",
                  "[W] invalid plugin .//testfx_noclean-darwin.so",
                  "[W] can't open plugin: .//junk-darwin.so: ", "[F] scene 8",
                  "[F] plugin vertigo::init", "[F] scene 9");
}

// 144 slots and 145 files. The registry opens them last name first.
void stage_fillers(const it::WorkDir &dir) {
  for (int i = 0; i < 144; i++) {
    char name[40];
    snprintf(name, sizeof name, "/fx%03d-darwin.so", i);
    ASSERT_TRUE(copy(fx("alpha"), dir.path + name));
  }
}

TEST(IntroBadPlugins, EffectOpenedAfterEverySlotIsTakenIsLeftOut) {
  REQUIRE_PLUGINS();
  it::WorkDir dir("plugins_full");
  dir.stage(kAllData);
  stage_fillers(dir);
  ASSERT_TRUE(copy(it::plugin_file(), dir.path + "/a-vertigo-darwin.so"));  // sorts first
  Result r = run_programme(dir, 80);
  EXPECT_EQ(r.status, 0) << r.log;
  EXPECT_EQ(occurrences(r.log, "[F] Opened plugin "), 145u);
  EXPECT_IN_ORDER(r.log, "Opened plugin alpha from .//fx000-darwin.so",
                  "Opened plugin vertigo from .//a-vertigo-darwin.so", "[F] scene 8",
                  "[F] scene 9");
  EXPECT_FALSE(has(r.log, "plugin vertigo::init")) << r.log;
}

TEST(IntroBadPlugins, EffectOpenedFirstAmongTooManyIsUsed) {
  REQUIRE_PLUGINS();
  it::WorkDir dir("plugins_full_vertigo_first");
  dir.stage(kAllData);
  stage_fillers(dir);
  dir.stage_plugin();  // vertigo-darwin.so sorts after every filler
  Result r = run_programme(dir, 80);
  EXPECT_EQ(r.status, 0) << r.log;
  EXPECT_EQ(occurrences(r.log, "[F] Opened plugin "), 145u);
  EXPECT_IN_ORDER(r.log, "Opened plugin vertigo from .//vertigo-darwin.so",
                  "Opened plugin alpha from .//fx143-darwin.so", "[F] scene 8",
                  "[F] plugin vertigo::init", "[F] scene 9");
}

TEST(IntroBadPlugins, UnlistableDirectoryMeansNoEffect) {
  REQUIRE_PLUGINS();
  it::WorkDir dir("plugins_unlistable");
  dir.stage(kAllData);
  dir.stage_plugin();
  // Files are opened by name, the directory is not listed.
  ASSERT_EQ(chmod(dir.path.c_str(), 0311), 0);
  bool out_of_reach = kept_out("ls \"" + dir.path + "\"");
  if (!out_of_reach) {
    chmod(dir.path.c_str(), 0755);
    GTEST_SKIP() << "an unlistable directory cannot be kept from the intro here";
  }
  Result r = run_programme(dir, 80, true);
  chmod(dir.path.c_str(), 0755);
  EXPECT_EQ(r.status, 0) << r.log;
  EXPECT_IN_ORDER(r.log, "[W] can't find any valid plugin directory",
                  "[F] loaded tolvek-climax.xm", "[F] scene 8", "[F] scene 9");
  EXPECT_FALSE(has(r.log, "Opened plugin")) << r.log;
  EXPECT_FALSE(has(r.log, "plugin vertigo::init")) << r.log;
}

// ---------------------------------------------------------------------------
// Signals and Escape. SIGINT and SIGTERM only ask to quit; the request is
// acted on when a key press is read, at the end of a step. Headless no key
// ever comes: the programme plays to its end.
// ---------------------------------------------------------------------------
TEST(IntroSignals, HeadlessSignalsDuringLoadingAndASceneChangeNothing) {
  it::WorkDir dir("signals_headless");
  dir.stage(kAllData);
  it::Process p(it::intro_program(), dir.path, headless());
  // The handlers are in place once the screen is open.
  ASSERT_TRUE(p.wait_for("[*] SDL Viewport is 640x480", 60)) << p.log();
  p.signal(SIGTERM);
  p.signal(SIGINT);
  ASSERT_TRUE(p.wait_for("[F] scene 1", 90)) << p.log();
  p.signal(SIGINT);
  p.signal(SIGTERM);
  EXPECT_TRUE(p.wait_for("[F] scene 2", 30)) << p.log();
  EXPECT_TRUE(p.running());
  std::string log = p.log();
  EXPECT_IN_ORDER(log, "[*] music track by tolvek", "[F] initialized GEO layer", "[F] scene 1",
                  "[F] scene 2");
  EXPECT_FALSE(has(log, "Kolvex engine closed")) << log;
}

// The same on the virtual clock, through to the end of the programme.
TEST(IntroSignals, HeadlessProgrammeSignalledInEveryPhaseEndsNormally) {
  REQUIRE_NO_INSTALLED_DATA();
  it::WorkDir dir("signals_programme");
  dir.stage(kAllData);
  std::string out = dir.path + "/capture-out";
  mkdir(out.c_str(), 0755);
  ASSERT_EQ(symlink("/dev/null", (out + "/orvanta.y4m").c_str()), 0);
  ASSERT_EQ(symlink("/dev/null", (out + "/orvanta.wav").c_str()), 0);
  it::Process p(it::capture_program(), dir.path, {}, {"--out", out, "--quiet", "--format", "y4m"});
  ASSERT_TRUE(p.wait_for("[*] SDL Viewport is 640x480", 60)) << p.log();
  p.signal(SIGTERM);
  ASSERT_TRUE(p.wait_for("[F] scene 1", 60)) << p.log();
  p.signal(SIGINT);
  if (p.wait_for("[F] scene 16", 120)) p.signal(SIGTERM);
  int status = p.wait(240);
  std::string log = p.log();
  EXPECT_EQ(status, 0) << log;
  EXPECT_IN_ORDER(log, "[F] scene 1", "[F] scene 16", "[*] Kolvex engine closed, cu",
                  "orvanta-capture: ");
}

// In a window, where keys come. Presses are repeated while nothing
// happens: the window may not take input yet, and one event is read per
// step.
int press_until_exit(it::XServer &x, it::Process &p, const char *key) {
  for (int attempt = 0; attempt < 6; ++attempt) {
    if (!x.key(key)) return -4000;
    int status = p.wait(4);
    if (status != -2000) return status;
  }
  return -2000;
}

TEST(IntroSignals, EscapeDuringLoadingEndsWithStatusOne) {
  it::XServer x;
  if (!x.ok()) GTEST_SKIP() << "no Xvfb";
  it::WorkDir dir("escape_loading");
  dir.stage(kAllData);
  it::Process p(it::intro_program(), dir.path, in_window(x));
  ASSERT_TRUE(p.wait_for("[*] SDL Viewport is 640x480", 60)) << p.log();
  int status = press_until_exit(x, p, "Escape");
  std::string log = p.log();
  EXPECT_EQ(status, 1) << log;
  // Stopped in the set-up or at the latest in the first scene, through the
  // engine's close (the context itself is not deleted).
  EXPECT_FALSE(has(log, "[F] scene 2")) << log;
  EXPECT_TRUE(ends_with(own_lines(log), "[F] Plugger::_delete\n")) << log;
  EXPECT_FALSE(has(log, "Kolvex engine closed")) << log;
}

TEST(IntroSignals, TerminatedDuringLoadingEndsAtTheNextKey) {
  it::XServer x;
  if (!x.ok()) GTEST_SKIP() << "no Xvfb";
  it::WorkDir dir("sigterm_loading");
  dir.stage(kAllData);
  it::Process p(it::intro_program(), dir.path, in_window(x));
  ASSERT_TRUE(p.wait_for("[*] SDL Viewport is 640x480", 60)) << p.log();
  p.signal(SIGTERM);
  // Not on its own: the set-up goes on into the first scene.
  ASSERT_TRUE(p.wait_for("[F] scene 1", 90)) << p.log();
  EXPECT_TRUE(p.running());
  int status = press_until_exit(x, p, "a");
  std::string log = p.log();
  EXPECT_EQ(status, 1) << log;
  EXPECT_TRUE(ends_with(own_lines(log), "[F] Plugger::_delete\n")) << log;
}

}  // namespace
