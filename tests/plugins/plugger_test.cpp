// The plug-in registry: which files are taken and in what order, what is
// refused and how, picking, the search path, and filters in a layer's
// chain on a running engine.
//
// Every test copies the plug-ins it needs into a scratch directory of its
// own and scans it by its full path, so no file name is ever used twice in
// the process (not even when a test is repeated): the dynamic loader would
// hand back the copy an earlier test loaded under the same name.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "kolvex.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

std::string fx(const std::string &variant) {
  return std::string(KOLVEX_TEST_FX_DIR) + "/testfx_" + variant + "-darwin.so";
}

// Whether the shared object at `path` is mapped into the process.
bool loaded(const std::string &path) {
  void *h = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (h) dlclose(h);
  return h != nullptr;
}

std::vector<std::string> slot_names(Plugger &p) {
  std::vector<std::string> names;
  for (int i = 0; i < MAX_PLUGINS && p.slots[i]; i++)
    names.push_back(p.slots[i]->getname() ? p.slots[i]->getname() : "(null)");
  return names;
}

class PluggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    set_debug(2);
    ASSERT_NE(mkdtemp(&dir[0]), nullptr);
  }
  void TearDown() override {
    set_debug(0);
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }
  // A directory below the scratch directory holding `files`: a built
  // variant (or, for "text", a few words) under each name.
  std::string fill(const std::string &sub,
                   const std::vector<std::pair<std::string, std::string>> &files) {
    const std::string d = dir + "/" + sub;
    fs::create_directories(d);
    for (auto &f : files) {
      if (f.first == "text") std::ofstream(d + "/" + f.second) << "not a plug-in\n";
      if (f.first == "vertigo") fs::copy_file(KOLVEX_VERTIGO_PATH, d + "/" + f.second);
      if (f.first != "text" && f.first != "vertigo") fs::copy_file(fx(f.first), d + "/" + f.second);
    }
    return d;
  }
  // refresh() of a registry that scans `d`; the log in `log`.
  std::unique_ptr<Plugger> scan(const std::string &d, std::string *log = nullptr) {
    auto p = std::make_unique<Plugger>(std::initializer_list<const char *>{d.c_str()});
    kt::StderrCapture cap;
    EXPECT_EQ(p->refresh(), 0);
    if (log) *log = cap.text();
    return p;
  }

  std::string dir = (fs::temp_directory_path() / "kolvex-plugins-XXXXXX").string();
};

// What a directory's files become: the filters in slot order, the log lines
// in their order ($ is the directory), and what must not be logged.
TEST_F(PluggerTest, LoadingRulesAndMessages) {
  // clang-format off
  struct Row {
    const char *what;
    std::vector<std::pair<std::string, std::string>> files;
    std::vector<std::string> slots, lines, absent;
  } rows[] = {
      {"a valid plug-in; other files are left alone",
       {{"alpha", "testfx_alpha-darwin.so"}, {"text", "readme.txt"}}, {"alpha"},
       {"[F] Opened plugin alpha from $/testfx_alpha-darwin.so with handle 0x"}, {"[W]", "readme"}},
      {"no kbd_input: a default, one warning with the loader's text",
       {{"nokbd", "testfx_nokbd-darwin.so"}}, {"nokbd"},
       {"[F] Opened plugin nokbd", "[W] Plugin::nokbd[kbd_input] ", "kbd_input"}, {}},
      {"no clean: refused, although the host never calls it",
       {{"noclean", "testfx_noclean-darwin.so"}}, {},
       {"[W] Plugin::noclean[clean] ", "[W] invalid plugin $/testfx_noclean-darwin.so\n"}, {}},
      {"no ELF file",
       {{"text", "junk-darwin.so"}}, {}, {"[W] can't open plugin: $/junk-darwin.so"}, {}},
      {"no name: taken, never picked",
       {{"noname", "testfx_noname-darwin.so"}}, {"(null)"}, {"[W] Plugin::(null)[getname] "}, {}},
      {"the tag anywhere in the name; later names are opened first and take the first slots",
       {{"alpha", "a-darwin.so~"}, {"beta", "beta-darwin.sox.bak"}, {"nokbd", "nokbd-darwin.s"}},
       {"beta", "alpha"}, {"Opened plugin beta", "Opened plugin alpha"}, {"nokbd", "[W]", "[!]"}},
  };
  // clang-format on
  int n = 0;
  for (const Row &r : rows) {
    SCOPED_TRACE(r.what);
    const std::string d = fill(std::to_string(n++), r.files);
    std::string log;
    auto p = scan(d, &log);
    EXPECT_EQ(slot_names(*p), r.slots);
    size_t at = 0;
    for (std::string line : r.lines) {
      if (line.find('$') != std::string::npos) line.replace(line.find('$'), 1, d);
      at = log.find(line, at);
      ASSERT_NE(at, std::string::npos) << "missing or out of order: " << line << "\n" << log;
      at += line.size();
    }
    for (const std::string &text : r.absent) EXPECT_FALSE(kt::contains(log, text)) << log;
    for (auto &f : r.files) {  // what is not in a slot is unloaded again
      bool in_slot = false;
      for (int i = 0; i < MAX_PLUGINS && p->slots[i]; i++)
        in_slot |= p->slots[i]->path == d + "/" + f.second;
      EXPECT_EQ(loaded(d + "/" + f.second), in_slot) << f.second;
    }
    for (int i = 0; i < MAX_PLUGINS && p->slots[i]; i++)
      EXPECT_EQ(p->slots[i]->kbd_input_f == &dummy_kbd_input, r.slots[i] == "nokbd");
  }
}

TEST_F(PluggerTest, PickIgnoresCaseAndSlotsInUseAreSkipped) {
  auto p = scan(fill("fx", {{"vertigo", "vertigo-darwin.so"},
                            {"noname", "testfx_noname-darwin.so"},
                            {"alpha", "testfx_alpha-darwin.so"}}));
  ASSERT_EQ(slot_names(*p), (std::vector<std::string>{"vertigo", "(null)", "alpha"}));
  Filter *v = p->slots[0];
  EXPECT_EQ(p->pick("VERTIGO"), v);
  EXPECT_EQ(p->pick("Alpha"), p->slots[2]);
  EXPECT_STREQ(p->slots[2]->author, "tests");
  EXPECT_STREQ(p->slots[2]->info, "inverts every frame");
  EXPECT_EQ(p->slots[2]->version, 0x0102u);
  for (const char *none : {"vertig", "nothing", "", "(null)"}) EXPECT_EQ(p->pick(none), nullptr);
  EXPECT_EQ(p->pick(nullptr), nullptr);
  EXPECT_EQ((*p)[0], v);
  v->in_use = 1;
  EXPECT_EQ((*p)[0], nullptr);
  EXPECT_EQ((*p)[2], p->slots[2]);
  EXPECT_EQ((*p)[3], nullptr);
  EXPECT_EQ((*p)[-1], nullptr);
  EXPECT_EQ(p->pick("vertigo"), v);  // picking does not look at in_use
}

TEST_F(PluggerTest, ClosingTheRegistryKeepsItsPluginsLoaded) {
  const std::string d = fill("fx", {{"alpha", "testfx_alpha-darwin.so"}});
  auto p = scan(d);
  ASSERT_EQ(slot_names(*p), std::vector<std::string>{"alpha"});
  Filter *f = p->slots[0];
  kt::StderrCapture cap;
  EXPECT_EQ(p->close(), 0);
  p.reset();
  const std::string log = cap.text();
  EXPECT_EQ(kt::count_lines(log, "[F] Plugger::_delete"), 2) << log;
  EXPECT_LT(log.find("[F] Plugger::~Plugger()"), log.rfind("_delete")) << log;
  // A layer may still run the filter after the registry is gone.
  EXPECT_TRUE(loaded(d + "/testfx_alpha-darwin.so"));
  SDL_keysym key{};
  EXPECT_EQ(f->kbd_input(&key), 1);
}

// Only the first directory of the search path that exists and can be
// listed is scanned; none at all, or one gone by the scan, fails it.
TEST_F(PluggerTest, OnlyTheFirstUsableDirectoryIsScanned) {
  const std::string empty = fill("empty", {}), alpha = fill("alpha", {{"alpha", "a-darwin.so"}}),
                    beta = fill("beta", {{"beta", "b-darwin.so"}}), missing = dir + "/missing",
                    locked = fill("locked", {{"beta", "c-darwin.so"}}), gone = fill("gone", {});
  ASSERT_EQ(chmod(locked.c_str(), 0300), 0);  // may be entered, not listed
  kt::FilePermissionsApply permissions;
  struct Row {
    std::vector<std::string> dirs;
    std::string path;  // "" for none
    int result;
    std::vector<std::string> slots;
    std::string line;
  } rows[] = {
      {{empty, alpha}, empty + ":" + alpha, 0, {}, ""},
      {{missing, alpha}, alpha, 0, {"alpha"}, ""},
      {{beta, alpha}, beta + ":" + alpha, 0, {"beta"}, ""},
      {{locked, alpha},
       permissions.enforced ? alpha : locked + ":" + alpha,
       0,
       {permissions.enforced ? "alpha" : "beta"},
       ""},
      {{missing, dir + "/also-missing"}, "", -1, {}, "[W] can't find any valid plugin directory\n"},
      {{gone}, gone, -1, {}, "[!] Plugger::scandir\n"},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.path);
    Plugger p(std::initializer_list<const char *>{});
    for (const std::string &d : r.dirs) p._addsearchdir(d.c_str());
    EXPECT_EQ(p._getsearchpath() ? p._getsearchpath() : "", r.path);
    if (r.dirs[0] == gone) fs::remove(gone);
    kt::StderrCapture cap;
    EXPECT_EQ(p.refresh(), r.result);
    EXPECT_TRUE(kt::contains(cap.text(), r.line)) << cap.text();
    EXPECT_EQ(slot_names(p), r.slots);
  }
  chmod(locked.c_str(), 0755);
  Plugger standard;
  EXPECT_STREQ(standard._getsearchpath(),
               standard._dircheck(KOLVEX_PLUGIN_DIR) ? KOLVEX_PLUGIN_DIR ":./" : "./");
}

// ---------------------------------------------------------------------------
// Filters in a layer's chain on a running engine
// ---------------------------------------------------------------------------
TEST_F(PluggerTest, ActiveFiltersRunInListOrderOnTheirOwnBuffers) {
  auto plugger = scan(fill("fx", {{"alpha", "testfx_alpha-darwin.so"},
                                  {"beta", "testfx_beta-darwin.so"},
                                  {"nullframe", "testfx_nullframe-darwin.so"}}));
  Context ctx;
  kt::StderrCapture cap;
  ASSERT_TRUE(ctx.init(64, 48));
  auto *layer = new kt::TestLayer(32, 16);
  layer->init(&ctx);
  const uint32_t colour = 0x30507090u;
  layer->fill(colour);
  ctx.layers.add(layer);  // the context deletes it when it closes
  ctx.lockstep = true;    // each frame waits for the layer's next one
  ctx.cafudda(0);         // the first only starts the layer
  auto shown = [&] {
    ctx.cafudda(0);
    uint32_t v;
    memcpy(&v, kt::screen_pixel(ctx, 32, 24), 4);
    return v;
  };
  auto attach = [&](const char *name) {
    Filter *f = plugger->pick(name);
    f->init(&layer->geo);
    layer->filters.add(f);
    return f;
  };
  EXPECT_EQ(shown(), colour) << "no filter";
  attach("nullframe");  // no frame: the chain keeps the one it had
  attach("alpha");
  EXPECT_EQ(shown(), ~colour);
  Filter *beta = attach("beta");
  beta->active = 0;  // stays in the list, does nothing
  EXPECT_EQ(shown(), ~colour);
  beta->active = 1;  // adds after alpha inverted
  EXPECT_EQ(shown(), ~colour + 0x01010101u);
  EXPECT_EQ(shown(), ~colour + 0x01010101u);
  EXPECT_EQ(layer->frame[0], (uint8_t)colour) << "the layer's own frame is untouched";
  ctx.close();
  const std::string log = cap.text();
  EXPECT_EQ(kt::count_lines(log, "[W] filter nullframe returned no frame"), 1) << log;
  EXPECT_EQ(kt::count_lines(log, "[F] plugin alpha::init"), 1) << log;
}

}  // namespace
