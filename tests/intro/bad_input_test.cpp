// The intro fed bad input, as one table: data files broken the ways files
// break or missing, plug-in files it cannot use, no sound device, signals.
// Each row: the lines the intro prints, in order, the lines it must not
// print, and the status it ends with. Rows that stop the set-up run the
// intro itself, headless, each alone; rows that only show scenes into the
// programme share two runs of orvanta-capture (the same programme on a
// virtual clock), every breakage of a run staged at once.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "intro_harness.h"

namespace {

const std::vector<std::string> kAllData = {"tolvek-climax.xm", "ant.png", "code.png", "dio.c"};
const char *const kAnt = "vrel:208: failed assertion `formica'";
const char *const kCode = "vrel:209: failed assertion `numeri'";
const char *const kMusic = "vrel:196: failed assertion `climax'";

using it::slurp;
using it::spill;

std::string data_file(const std::string &name) { return slurp(it::data_dir() + "/" + name); }

std::string first_half(const std::string &name) {
  const std::string d = data_file(name);
  return d.substr(0, d.size() / 2);
}

// Breaks the staged working directory `dir`; false when the breakage cannot
// be made here (the row is then skipped).
typedef std::function<bool(const std::string &dir)> Make;

Make put(const std::string &file, const std::string &bytes) {
  return [=](const std::string &dir) { return spill(dir + "/" + file, bytes); };
}

const Make kAsItIs = [](const std::string &) { return true; };

Make drop(const std::string &file) {
  return [=](const std::string &dir) { return unlink((dir + "/" + file).c_str()) == 0; };
}

struct Row {
  const char *name;
  const char *run;  // "": the intro alone until it stops; else the capture run it shares
  Make make;
  int status;
  std::vector<std::string> lines;  // in this order
  std::vector<std::string> absent;
  std::map<std::string, std::string> env = {};  // added to the intro's headless one
  int signal = 0;                               // sent once `after` is in the log
  const char *after = "";
};

std::vector<std::string> search(const std::string &pic, const std::string &first) {
  return {first, "[!] can't open /usr/local/share/orvanta/" + pic, "[!] can't open data/" + pic,
          "[!] image not found: " + pic};
}

std::vector<std::string> with(std::vector<std::string> v, const std::string &last) {
  v.push_back(last);
  return v;
}

const std::vector<std::string> kNoMusic = {
    "[F] music file not found: tolvek-climax.xm",
    "[F] music file not found: /usr/local/share/orvanta/tolvek-climax.xm",
    "[!] music file not found: data/tolvek-climax.xm", kMusic};

std::string fx(const char *variant) {
  return std::string(BAD_INPUT_FX_DIR) + "/testfx_" + variant + "-darwin.so";
}

std::vector<Row> rows() {
  const std::string no_such = " to create a Layer: No such file or directory";
  std::string text = std::string("\0", 1) + data_file("dio.c") + std::string("\0\0\n\0\n", 5);
  for (size_t i = 0; i < (1u << 20); i++) text += (char)(' ' + i % 95);  // no newline
  return {
      {"ant.png missing", "", drop("ant.png"), 1,
       with(search("ant.png", "[!] can't open ant.png" + no_such), kAnt), {"code.png"}},
      {"code.png missing", "", drop("code.png"), 1,
       with(search("code.png", "[F] PngLayer :: w[400] h[300]"), kCode), {"ant.png" + no_such}},
      {"ant.png empty", "", put("ant.png", ""), 1,
       with(search("ant.png", "[!] Pnglayer::open(ant.png) - not a valid png file"), kAnt), {}},
      {"code.png a directory", "",
       [](const std::string &d) { return unlink((d + "/code.png").c_str()) == 0 &&
                                         mkdir((d + "/code.png").c_str(), 0755) == 0; }, 1,
       with(search("code.png", "[!] create_layer : PNG open failed"), kCode), {}},
      {"ant.png cut in its header", "", put("ant.png", data_file("ant.png").substr(0, 20)), 1,
       {"[!] error reading the PNG file.", "[!] image not usable: ant.png", kAnt}, {}},
      {"music missing", "", drop("tolvek-climax.xm"), 1, kNoMusic, {"music track", "ant.png"}},
      {"music cut in its header", "",
       put("tolvek-climax.xm", data_file("tolvek-climax.xm").substr(0, 60)), 1, kNoMusic,
       {"music track"}},
      {"no sound device", "", [](const std::string &d) { return spill(d + "/asound.conf", ""); },
       255, {"[!] aiacristo! mikmod error: "}, {"tolvek-climax.xm"},
       // No SDL audio driver forced, ALSA without devices, no sound server.
       {{"SDL_AUDIODRIVER", ""}, {"ALSA_CONFIG_PATH", "asound.conf"},
        {"PULSE_SERVER", "unix:/nonexistent"}, {"PIPEWIRE_REMOTE", "/nonexistent"},
        {"AUDIODEV", "/nonexistent"}}},
      // Headless no key press ever comes: SIGTERM must end the intro itself.
      {"terminated while setting up", "", kAsItIs, -1000 - SIGTERM,
       {"[*] SDL Viewport is 640x480"}, {"scene 1"}, {}, SIGTERM, "[*] SDL Viewport is 640x480"},

      // The programme goes on past the scenes that show what is broken.
      {"code.png cut in half: kept as decoded", "broken", put("code.png", first_half("code.png")),
       0, {"[F] PngLayer::open(code.png)", "libpng error: Read Error",
           "[!] error reading the PNG file.", "[F] scene 8", "[F] scene 10",
           "[F] PngLayer::close()", "[F] scene 11"}, {"image not usable"}},
      {"ant.png cut in half: kept as decoded", "broken", put("ant.png", first_half("ant.png")), 0,
       {"[F] PngLayer::open(ant.png)", "libpng error: Read Error",
        "[!] error reading the PNG file.", "[F] scene 16"}, {"image not usable"}},
      {"music cut in its last sample, only in data/", "broken",
       [](const std::string &d) {
         const std::string xm = data_file("tolvek-climax.xm");
         return mkdir((d + "/data").c_str(), 0755) == 0 &&
                spill(d + "/data/tolvek-climax.xm", xm.substr(0, xm.size() - 100)) &&
                unlink((d + "/tolvek-climax.xm").c_str()) == 0;
       }, 0, {"[F] music file not found: tolvek-climax.xm",
              "[F] loaded tolvek-climax.xm ch:10 pat:20 ins:10 smp:10",
              "[*] music track by tolvek", "[F] scene 1", "[F] scene 2"},
       {"data/tolvek-climax.xm"}},
      {"scroller text with NULs and a megabyte line", "broken", put("dio.c", text), 0,
       {"[F] initialized SCR layer 640x480 32bpp", "[F] scene 12", "[F] scene 15",
        "[F] scene 16"}, {"ScrollLayer::"}},
      {"plug-ins refused beside the effect", "broken",
       [](const std::string &d) {
         return std::string(BAD_INPUT_FX_DIR) != "" &&
                spill(d + "/testfx_noclean-darwin.so", slurp(fx("noclean"))) &&
                spill(d + "/junk-darwin.so", "not a shared object\n");
       }, 0, {"[W] Plugin::noclean[clean] ", "[W] invalid plugin .//testfx_noclean-darwin.so",
              "[W] can't open plugin: .//junk-darwin.so: ", "[F] scene 8", "[F] scene 9"},
       {}},
      // Run from the wrong place, the capture would render a broken intro:
      // it names what is missing and where it looked, and renders nothing.
      {"capture without its text and effect", "missing",
       [](const std::string &d) {
         return unlink((d + "/dio.c").c_str()) == 0 &&
                unlink((d + "/vertigo-darwin.so").c_str()) == 0;
       }, 2, {"orvanta-capture: missing dio.c (looked for ./dio.c)",
              "orvanta-capture: missing the vertigo effect (looked in ./ for *-darwin.so)"},
       {"SDL Viewport", "[F]"}},
  };
}

// The rows of one run, all staged into one working directory; each row's
// lines are then checked on the one log.
void play(const std::string &run, const std::vector<Row> &all) {
  it::WorkDir dir("bad_" + run);
  dir.stage(kAllData);
  dir.stage_plugin();
  std::vector<const Row *> rs;
  for (const Row &r : all) {
    if ((r.run[0] ? r.run : r.name) != run) continue;
    if (r.make(dir.path)) rs.push_back(&r);
    else printf("[  SKIP    ] %s: cannot be made here\n", r.name);
  }
  if (rs.empty()) return;
  std::string program = it::intro_program();
  std::vector<std::string> args;
  std::map<std::string, std::string> env = {{"SDL_VIDEODRIVER", "dummy"},
                                            {"SDL_AUDIODRIVER", "dummy"}};
  if (rs[0]->run[0]) {  // to scene 16, or through the set-up
    const std::string out = dir.path + "/out";
    mkdir(out.c_str(), 0755);
    for (const char *f : {"/orvanta.y4m", "/orvanta.wav"}) symlink("/dev/null", (out + f).c_str());
    program = it::capture_program();
    args = {"--out", out, "-vv", "--format", "y4m", "--seconds", run == "broken" ? "180" : "15"};
  } else {
    for (const auto &kv : rs[0]->env) env[kv.first] = kv.second;
  }
  it::Process p(program, dir.path, env, args);
  for (const Row *r : rs)
    if (r->signal) {
      EXPECT_TRUE(p.wait_for(r->after, 120)) << r->name << "\n" << p.log();
      p.signal(r->signal);
    }
  const int status = p.wait(300);
  std::string log = p.log();
  // What the program itself wrote: a sanitizer's report at exit comes after.
  const size_t report = log.find(std::string(65, '=') + "\n");
  if (report != std::string::npos) log.resize(report);
  while (log.size() > 1 && log.compare(log.size() - 2, 2, "\n\n") == 0) log.pop_back();
  for (const Row *r : rs) {
    SCOPED_TRACE(r->name);
    EXPECT_EQ(status, r->status) << log;
    EXPECT_EQ(it::first_missing_in_order(log, r->lines), "") << log;
    for (const std::string &a : r->absent) {
      EXPECT_EQ(log.find(a), std::string::npos) << a << "\n" << log;
    }
    const std::string last = r->lines.back() + "\n";
    if (r->status == 1) {  // the assertion is the last word
      EXPECT_EQ(log.substr(log.size() - std::min(log.size(), last.size())), last) << log;
    }
  }
}

void play_all(bool programme) {
  struct stat st;
  // An installed data directory would be searched too and hide what the
  // rows take away.
  if (stat("/usr/local/share/orvanta", &st) == 0)
    GTEST_SKIP() << "/usr/local/share/orvanta exists and would be searched";
  const std::vector<Row> all = rows();
  std::vector<std::string> runs;
  for (const Row &r : all) {
    const std::string run = r.run[0] ? r.run : r.name;
    if (bool(r.run[0]) == programme && std::find(runs.begin(), runs.end(), run) == runs.end())
      runs.push_back(run);
  }
  for (const std::string &run : runs) play(run, all);
}

}  // namespace

TEST(IntroBadInput, SetUpStopsWithAClearMessage) { play_all(false); }

TEST(IntroBadInput, ProgrammePlaysOnPastWhatIsBroken) { play_all(true); }
