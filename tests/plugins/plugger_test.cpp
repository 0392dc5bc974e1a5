// The plug-in registry: which files are opened and in what order, what is
// refused and how, picking and slots, the search path and its limits, and
// filters running in a layer's chain on a real engine.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "kolvex.h"
#include "plugin_fixture.h"
#include "test_support.h"

namespace {

using pt::ScratchDir;

// Each test works in its own scratch directory and hears every log level.
class PluggerTest : public ::testing::Test {
 protected:
  void SetUp() override { set_debug(2); }
  ScratchDir dir;

  // refresh() of a registry that scans only the working directory.
  std::unique_ptr<Plugger> scan_here(std::string *log = nullptr) {
    auto p = std::make_unique<Plugger>(std::initializer_list<const char *>{"./"});
    kt::StderrCapture cap;
    EXPECT_EQ(p->refresh(), 0);
    if (log) *log = cap.text();
    return p;
  }
  static int count(Plugger &p) {
    int n = 0;
    while (n < MAX_PLUGINS && p.slots[n]) n++;
    return n;
  }
};

// ---------------------------------------------------------------------------
// Opening plug-ins
// ---------------------------------------------------------------------------
TEST_F(PluggerTest, ValidPluginIsOpenedWithEveryEntryPoint) {
  ScratchDir::copy(pt::fx("alpha"), "testfx_alpha-darwin.so");
  ScratchDir::write("readme.txt", "not a plug-in");
  std::string log;
  auto p = scan_here(&log);

  ASSERT_EQ(count(*p), 1);
  Filter *f = p->slots[0];
  EXPECT_STREQ(f->getname(), "alpha");
  EXPECT_STREQ(f->author, "tests");
  EXPECT_STREQ(f->info, "inverts every frame");
  EXPECT_EQ(f->version, 0x0102u);
  EXPECT_STREQ(f->path, ".//testfx_alpha-darwin.so");
  EXPECT_EQ(f->active, 1);
  EXPECT_EQ(f->in_use, 0);
  EXPECT_EQ(f->reserved, 0);
  EXPECT_NE(f->kbd_input_f, &dummy_kbd_input);

  char opened[512];
  snprintf(opened, sizeof opened, "[F] Opened plugin alpha from .//testfx_alpha-darwin.so with handle %p",
           f->handle);
  EXPECT_EQ(kt::count_lines(log, opened), 1) << log;
  EXPECT_FALSE(kt::contains(log, "[W]")) << log;
  EXPECT_FALSE(kt::contains(log, "readme")) << log;

  // The entry points reach the plug-in: it counts keys, inverts frames.
  SDL_keysym key{};
  EXPECT_EQ(f->kbd_input(&key), 1);
  EXPECT_EQ(f->kbd_input(&key), 2);
  ScreenGeometry geo{0, 0, 2, 1, 32, 8, 8, 0.0f};
  kt::StderrCapture cap;
  EXPECT_EQ(f->init(&geo), 0);
  EXPECT_EQ(kt::count_lines(cap.text(), "[F] plugin alpha::init"), 1);
  uint32_t in[2] = {0x01020304u, 0xFFFFFFFFu};
  uint32_t *out = (uint32_t *)f->process(in);
  ASSERT_NE(out, nullptr);
  EXPECT_NE(out, in);
  EXPECT_EQ(out[0], ~0x01020304u);
  EXPECT_EQ(out[1], 0u);
}

TEST_F(PluggerTest, MissingKbdInputIsDefaultedAndWarnedOnce) {
  ScratchDir::copy(pt::fx("nokbd"), "testfx_nokbd-darwin.so");
  std::string log;
  auto p = scan_here(&log);
  ASSERT_EQ(count(*p), 1);
  Filter *f = p->slots[0];
  EXPECT_EQ(f->kbd_input_f, &dummy_kbd_input);
  SDL_keysym key{};
  key.sym = SDLK_x;
  EXPECT_EQ(f->kbd_input(&key), 0);
  EXPECT_EQ(dummy_kbd_input(&key), 0);

  // One warning, for the one missing symbol, with the loader's text.
  size_t at = log.find("[W] Plugin::nokbd[kbd_input] ");
  ASSERT_NE(at, std::string::npos) << log;
  EXPECT_NE(log.find("kbd_input", at + 30), std::string::npos) << "no loader text: " << log;
  EXPECT_EQ(log.find("[W]", at + 1), std::string::npos) << log;
}

TEST_F(PluggerTest, PluginWithoutNameNeverMatches) {
  ScratchDir::copy(pt::fx("noname"), "testfx_noname-darwin.so");
  std::string log;
  auto p = scan_here(&log);
  ASSERT_EQ(count(*p), 1);
  EXPECT_EQ(p->slots[0]->getname(), nullptr);
  EXPECT_TRUE(kt::contains(log, "[W] Plugin::(null)[getname] ")) << log;
  EXPECT_EQ(p->pick(""), nullptr);
  EXPECT_EQ(p->pick("(null)"), nullptr);
  EXPECT_EQ(p->pick(nullptr), nullptr);
}

TEST_F(PluggerTest, RefusedFilesAreClosedAndLeaveNoFilter) {
  ScratchDir::copy(pt::fx("noclean"), "testfx_noclean-darwin.so");
  ScratchDir::write("junk-darwin.so", "this is not an ELF file\n");
  std::string log;
  auto p = scan_here(&log);

  EXPECT_EQ(count(*p), 0);
  // Without clean the plug-in is refused although the host never calls it.
  EXPECT_TRUE(kt::contains(log, "[W] Plugin::noclean[clean] ")) << log;
  EXPECT_EQ(kt::count_lines(log, "[W] invalid plugin .//testfx_noclean-darwin.so"), 1) << log;
  EXPECT_FALSE(pt::loaded(dir.path() + "/testfx_noclean-darwin.so"));
  // The loader's own text names the file it could not take.
  size_t at = log.find("[W] can't open plugin: ");
  ASSERT_NE(at, std::string::npos) << log;
  EXPECT_NE(log.find("junk-darwin.so", at), std::string::npos) << log;
}

TEST_F(PluggerTest, NameMerelyContainingTheTagIsAccepted) {
  ScratchDir::copy(pt::fx("alpha"), "a-darwin.so~");
  ScratchDir::copy(pt::fx("beta"), "beta-darwin.sox.bak");
  ScratchDir::copy(pt::fx("nokbd"), "nokbd-darwin.s");  // no tag: left alone
  std::string log;
  auto p = scan_here(&log);
  ASSERT_EQ(count(*p), 2);
  EXPECT_STREQ(p->slots[0]->path, ".//beta-darwin.sox.bak");
  EXPECT_STREQ(p->slots[1]->path, ".//a-darwin.so~");
  EXPECT_FALSE(kt::contains(log, "nokbd")) << log;
}

TEST_F(PluggerTest, LaterNamesAreOpenedFirstAndTakeTheFirstSlots) {
  ScratchDir::copy(pt::fx("alpha"), "testfx_alpha-darwin.so");
  ScratchDir::copy(pt::fx("beta"), "testfx_beta-darwin.so");
  std::string log;
  auto p = scan_here(&log);
  ASSERT_EQ(count(*p), 2);
  EXPECT_STREQ(p->slots[0]->getname(), "beta");
  EXPECT_STREQ(p->slots[1]->getname(), "alpha");
  EXPECT_LT(log.find("Opened plugin beta"), log.find("Opened plugin alpha")) << log;
}

TEST_F(PluggerTest, PickIgnoresCaseAndSlotsInUseAreSkipped) {
  ScratchDir::copy(pt::vertigo(), "vertigo-darwin.so");
  ScratchDir::copy(pt::fx("alpha"), "testfx_alpha-darwin.so");
  auto p = scan_here();
  ASSERT_EQ(count(*p), 2);

  Filter *v = p->pick("VERTIGO");
  ASSERT_NE(v, nullptr);
  EXPECT_STREQ(v->getname(), "vertigo");
  EXPECT_EQ(p->pick("Alpha"), p->slots[1]);
  EXPECT_EQ(p->pick("vertig"), nullptr);
  EXPECT_EQ(p->pick("nothing"), nullptr);

  EXPECT_EQ((*p)[0], v);
  v->in_use = 1;
  EXPECT_EQ((*p)[0], nullptr);
  EXPECT_EQ((*p)[1], p->slots[1]);
  EXPECT_EQ((*p)[2], nullptr);
  EXPECT_EQ((*p)[-1], nullptr);
  EXPECT_EQ((*p)[MAX_PLUGINS], nullptr);
  EXPECT_EQ(p->pick("vertigo"), v);  // picking does not look at in_use
}

TEST_F(PluggerTest, PluginFindingEverySlotTakenIsClosedAtOnce) {
  Plugger p({"./"});
  std::vector<std::unique_ptr<Filter>> fillers;
  for (int i = 0; i < MAX_PLUGINS; i++) {
    fillers.push_back(std::make_unique<Filter>());
    p.slots[i] = fillers.back().get();
  }
  Filter extra;
  EXPECT_EQ(p._add_plug(&extra), 0);

  ScratchDir::copy(pt::fx("alpha"), "testfx_alpha-darwin.so");
  {
    kt::StderrCapture quiet;
    EXPECT_EQ(p.refresh(), 0);
  }
  for (int i = 0; i < MAX_PLUGINS; i++) EXPECT_EQ(p.slots[i], fillers[i].get()) << i;
  EXPECT_FALSE(pt::loaded(dir.path() + "/testfx_alpha-darwin.so"));
  for (int i = 0; i < MAX_PLUGINS; i++) p.slots[i] = nullptr;
}

// A real directory with one file more than there are slots: the files are
// opened last name first, so the one sorting first is opened last, finds
// every slot taken and is closed again, without a word.
TEST_F(PluggerTest, MoreFilesThanSlotsLeaveTheFirstNameOut) {
  ScratchDir::copy(pt::fx("beta"), "a-beta-darwin.so");
  for (int i = 0; i < MAX_PLUGINS; i++) {
    char name[32];
    snprintf(name, sizeof name, "fx%03d-darwin.so", i);
    ScratchDir::copy(pt::fx("alpha"), name);
  }
  std::string log;
  auto p = scan_here(&log);
  ASSERT_EQ(count(*p), MAX_PLUGINS);
  EXPECT_STREQ(p->slots[0]->path, ".//fx143-darwin.so");
  EXPECT_STREQ(p->slots[MAX_PLUGINS - 1]->path, ".//fx000-darwin.so");
  EXPECT_EQ(p->pick("beta"), nullptr);
  EXPECT_EQ(p->pick("alpha"), p->slots[0]);
  EXPECT_FALSE(pt::loaded(dir.path() + "/a-beta-darwin.so"));
  EXPECT_TRUE(pt::loaded(dir.path() + "/fx000-darwin.so"));
  // Every file was opened, the last one only to be closed.
  size_t opened = 0;
  for (size_t at = log.find("[F] Opened plugin "); at != std::string::npos;
       at = log.find("[F] Opened plugin ", at + 1))
    opened++;
  EXPECT_EQ(opened, (size_t)MAX_PLUGINS + 1) << log;
  EXPECT_LT(log.find("Opened plugin alpha from .//fx000"), log.find("Opened plugin beta")) << log;
  EXPECT_FALSE(kt::contains(log, "[W]")) << log;
  EXPECT_FALSE(kt::contains(log, "[!]")) << log;
}

TEST_F(PluggerTest, ClosingTheRegistryKeepsItsPluginsLoaded) {
  ScratchDir::copy(pt::fx("alpha"), "testfx_alpha-darwin.so");
  auto p = scan_here();
  ASSERT_EQ(count(*p), 1);
  Filter *f = p->slots[0];
  kt::StderrCapture cap;
  EXPECT_EQ(p->close(), 0);
  p.reset();
  std::string log = cap.text();
  EXPECT_EQ(kt::count_lines(log, "[F] Plugger::_delete"), 2) << log;
  EXPECT_EQ(kt::count_lines(log, "[F] Plugger::~Plugger()"), 1) << log;
  EXPECT_LT(log.find("~Plugger"), log.rfind("_delete")) << log;
  // A layer may still run the filter after the registry is gone.
  EXPECT_TRUE(pt::loaded(dir.path() + "/testfx_alpha-darwin.so"));
  SDL_keysym key{};
  EXPECT_EQ(f->kbd_input(&key), 1);
}

// ---------------------------------------------------------------------------
// Search path
// ---------------------------------------------------------------------------
TEST_F(PluggerTest, OnlyTheFirstExistingDirectoryIsScanned) {
  std::string first = dir.mkdir("first"), second = dir.mkdir("second");
  ScratchDir::copy(pt::fx("alpha"), second + "/testfx_alpha-darwin.so");

  {  // the first directory has no plug-ins: those of the second are not found
    Plugger p({first.c_str(), second.c_str()});
    EXPECT_EQ(std::string(p._getsearchpath()), first + ":" + second);
    kt::StderrCapture quiet;
    EXPECT_EQ(p.refresh(), 0);
    EXPECT_EQ(p.slots[0], nullptr);
    EXPECT_EQ(std::string(p._getsearchpath()), first);
  }
  {  // a missing first directory is left out of the path
    Plugger p({(dir.path() + "/missing").c_str(), second.c_str()});
    EXPECT_EQ(std::string(p._getsearchpath()), second);
    kt::StderrCapture quiet;
    EXPECT_EQ(p.refresh(), 0);
    ASSERT_NE(p.slots[0], nullptr);
    EXPECT_EQ(std::string(p.slots[0]->path), second + "/testfx_alpha-darwin.so");
  }
  {  // with plug-ins in both, only the first directory's are loaded
    ScratchDir::copy(pt::fx("beta"), first + "/testfx_beta-darwin.so");
    Plugger p({first.c_str(), second.c_str()});
    kt::StderrCapture quiet;
    EXPECT_EQ(p.refresh(), 0);
    ASSERT_NE(p.slots[0], nullptr);
    EXPECT_STREQ(p.slots[0]->getname(), "beta");
    EXPECT_EQ(p.slots[1], nullptr);
  }
}

TEST_F(PluggerTest, DefaultSearchPathPutsTheInstalledDirectoryFirst) {
  Plugger p;
  std::string expected = p._dircheck(KOLVEX_PLUGIN_DIR) ? KOLVEX_PLUGIN_DIR ":./" : "./";
  ASSERT_NE(p._getsearchpath(), nullptr);
  EXPECT_EQ(std::string(p._getsearchpath()), expected);
}

TEST_F(PluggerTest, NoDirectoryOrAnUnlistableOneFailsTheRefresh) {
  {
    Plugger p({"/nonexistent-a", "/nonexistent-b"});
    EXPECT_EQ(p._getsearchpath(), nullptr);
    kt::StderrCapture cap;
    EXPECT_EQ(p.refresh(), -1);
    EXPECT_EQ(kt::count_lines(cap.text(), "[W] can't find any valid plugin directory"), 1);
  }
  {
    std::string gone = dir.mkdir("gone");
    Plugger p({gone.c_str()});
    ASSERT_EQ(rmdir(gone.c_str()), 0);
    kt::StderrCapture cap;
    EXPECT_EQ(p.refresh(), -1);
    EXPECT_EQ(kt::count_lines(cap.text(), "[!] Plugger::scandir"), 1);
  }
  {  // an empty directory is no failure
    Plugger p({dir.mkdir("empty").c_str()});
    kt::StderrCapture quiet;
    EXPECT_EQ(p.refresh(), 0);
    EXPECT_EQ(p.slots[0], nullptr);
  }
}

// A directory that exists but cannot be listed: left out of the search
// path when it is so from the start, a failed scan when it becomes so
// later. Its plug-ins are never opened.
TEST_F(PluggerTest, UnreadableDirectoryIsLeftOutOrFailsTheScan) {
  std::string locked = dir.mkdir("locked"), open = dir.mkdir("open");
  ScratchDir::copy(pt::fx("alpha"), locked + "/testfx_alpha-darwin.so");
  ScratchDir::copy(pt::fx("beta"), open + "/testfx_beta-darwin.so");
  ASSERT_EQ(chmod(locked.c_str(), 0300), 0);  // may be entered, not listed
  {
    kt::FilePermissionsApply permissions;
    if (!permissions.enforced) {
      chmod(locked.c_str(), 0755);
      GTEST_SKIP() << "directory permissions do not keep this process out";
    }
    {
      Plugger p({locked.c_str(), open.c_str()});
      EXPECT_EQ(std::string(p._getsearchpath()), open);
      kt::StderrCapture quiet;
      EXPECT_EQ(p.refresh(), 0);
      ASSERT_NE(p.slots[0], nullptr);
      EXPECT_STREQ(p.slots[0]->getname(), "beta");
    }
    {
      Plugger p({open.c_str()});
      ASSERT_EQ(chmod(open.c_str(), 0300), 0);
      kt::StderrCapture cap;
      EXPECT_EQ(p.refresh(), -1);
      EXPECT_EQ(cap.text(), "[F] Plugger::_delete\n[!] Plugger::scandir\n");
      EXPECT_EQ(p.slots[0], nullptr);
    }
    {
      Plugger p({locked.c_str()});
      EXPECT_EQ(p._getsearchpath(), nullptr);
      kt::StderrCapture cap;
      EXPECT_EQ(p.refresh(), -1);
      EXPECT_EQ(kt::count_lines(cap.text(), "[W] can't find any valid plugin directory"), 1);
    }
  }
  EXPECT_FALSE(pt::loaded(locked + "/testfx_alpha-darwin.so"));
  chmod(locked.c_str(), 0755);
  chmod(open.c_str(), 0755);
}

// Builds a directory below the scratch directory whose full path is exactly
// `length` characters long, out of components of up to 200 characters.
std::string deep_dir(const ScratchDir &dir, size_t length) {
  std::string path = dir.path();
  EXPECT_LT(path.size() + 2, length);
  while (path.size() < length) {
    size_t room = length - path.size() - 1;  // one for the '/'
    size_t part = room > 200 ? 200 : room;
    if (room > 200 && room - 200 < 2) part = room - 2;  // leave room for one more
    path += "/" + std::string(part, 'd');
    // Paths built before may share the first components.
    EXPECT_TRUE(::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) << path;
  }
  return path;
}

TEST_F(PluggerTest, SearchPathThatWouldNotFitIsRefusedWhole) {
  std::string near = deep_dir(dir, 600);
  {  // 600 + 1 + 600 does not fit in 1023: the second one is left out
    Plugger p({near.c_str(), near.c_str()});
    EXPECT_EQ(std::string(p._getsearchpath()), near);
  }
  std::string exact = deep_dir(dir, 1023 - 2 - 1);  // exact + ":./" is 1023
  {
    kt::StderrCapture cap;
    Plugger p({exact.c_str(), "./"});
    EXPECT_EQ(std::string(p._getsearchpath()), exact + ":./");
    EXPECT_FALSE(kt::contains(cap.text(), "[!]"));
  }
  {
    kt::StderrCapture cap;
    Plugger p({exact.c_str(), ".//"});
    EXPECT_EQ(std::string(p._getsearchpath()), exact);
    EXPECT_EQ(kt::count_lines(cap.text(),
                              "[!] plugin search path too long, directory left out: .//"),
              1);
  }
  {  // a single directory longer than the path may be is refused too
    std::string too_long = deep_dir(dir, 1100);
    kt::StderrCapture cap;
    Plugger p({too_long.c_str()});
    EXPECT_EQ(p._getsearchpath(), nullptr);
    EXPECT_TRUE(kt::contains(cap.text(), "[!] plugin search path too long"));
  }
}

TEST_F(PluggerTest, FilePathThatWouldNotFitIsNotOpened) {
  // "dir/name" may have 254 characters. A 230-character directory leaves
  // room for a 23-character name, but not for a 24-character one.
  std::string d = deep_dir(dir, 230);
  std::string fits = "a-darwin.so" + std::string(12, 'f');   // 23
  std::string cut = "b-darwin.so" + std::string(13, 'c');    // 24
  ASSERT_EQ(d.size() + 1 + fits.size(), 254u);
  ScratchDir::copy(pt::fx("alpha"), d + "/" + fits);
  ScratchDir::copy(pt::fx("beta"), d + "/" + cut);
  Plugger p({d.c_str()});
  kt::StderrCapture cap;
  EXPECT_EQ(p.refresh(), 0);
  std::string log = cap.text();
  ASSERT_NE(p.slots[0], nullptr);
  EXPECT_EQ(std::string(p.slots[0]->path), d + "/" + fits);
  EXPECT_EQ(p.slots[1], nullptr);
  EXPECT_TRUE(kt::contains(log, "[!] plugin path too long, not opened: " + cut + " in /")) << log;
  EXPECT_FALSE(kt::contains(log, "Opened plugin beta")) << log;
}

// ---------------------------------------------------------------------------
// Filters in a layer's chain on a running engine
// ---------------------------------------------------------------------------
class ChainTest : public PluggerTest {
 protected:
  void SetUp() override {
    PluggerTest::SetUp();
    ScratchDir::copy(pt::fx("alpha"), "testfx_alpha-darwin.so");
    ScratchDir::copy(pt::fx("beta"), "testfx_beta-darwin.so");
    ScratchDir::copy(pt::fx("nullframe"), "testfx_nullframe-darwin.so");
    ScratchDir::copy(pt::vertigo(), "vertigo-darwin.so");
    plugger = scan_here();
    kt::StderrCapture quiet;
    ASSERT_TRUE(ctx.init(64, 48));
    layer = new kt::TestLayer(32, 16);
    layer->init(&ctx);
    layer->fill(kColour);
    ctx.layers.add(layer);  // the context deletes it when it closes
  }
  void TearDown() override {
    kt::StderrCapture quiet;
    ctx.close();
  }
  Filter *attach(const char *name) {
    Filter *f = plugger->pick(name);
    EXPECT_NE(f, nullptr) << name;
    if (!f) return nullptr;
    kt::StderrCapture quiet;
    f->init(&layer->geo);
    layer->filters.add(f);
    return f;
  }
  // The screen pixel at the centre of the layer, as it is in memory.
  uint32_t centre() {
    uint32_t v;
    memcpy(&v, kt::screen_pixel(ctx, 32, 24), 4);
    return v;
  }
  // Runs frames until the layer has been drawn at least `n` times.
  void frames(int n) {
    int before = layer->feeds.load();
    for (int i = 0; i < 400 && layer->feeds.load() < before + n + 1; i++) {
      ctx.cafudda(0);
      jsleep(0, 2000000);
    }
    ctx.cafudda(0);
  }

  static constexpr uint32_t kColour = 0x30507090u;
  std::unique_ptr<Plugger> plugger;
  Context ctx;
  kt::TestLayer *layer = nullptr;
};

TEST_F(ChainTest, ActiveFiltersRunInListOrderAndInactiveOnesAreSkipped) {
  frames(2);
  EXPECT_EQ(centre(), kColour) << "no filter: the layer as it is";

  attach("alpha");
  frames(2);
  EXPECT_EQ(centre(), ~kColour);

  Filter *beta = attach("beta");
  beta->active = 0;  // stays in the list, does nothing
  frames(2);
  EXPECT_EQ(layer->filters.length, 2);
  EXPECT_EQ(centre(), ~kColour);

  beta->active = 1;  // runs on alpha's output: inverted twice
  frames(2);
  EXPECT_EQ(centre(), kColour);
  EXPECT_EQ(layer->frame[0], (uint8_t)kColour) << "filters write their own buffers";
}

TEST_F(ChainTest, NoFrameFromAFilterKeepsTheChainsFrameAndIsLoggedOnce) {
  attach("nullframe");
  attach("alpha");
  kt::StderrCapture cap;
  frames(5);
  std::string log = cap.text();
  EXPECT_EQ(centre(), ~kColour) << "alpha works on the layer's own frame";
  EXPECT_EQ(kt::count_lines(log, "[W] filter nullframe returned no frame"), 1) << log;
}

TEST_F(ChainTest, VertigoChangesWhatLandsOnScreen) {
  std::vector<uint8_t> picture = kt::noise(layer->frame.size(), 7);
  memcpy(layer->frame.data(), picture.data(), picture.size());
  frames(1);
  auto on_screen = [&] {
    std::vector<uint8_t> shown(picture.size());
    for (int y = 0; y < 16; y++) memcpy(&shown[y * 32 * 4], kt::screen_pixel(ctx, 16, 16 + y), 32 * 4);
    return shown;
  };
  ASSERT_EQ(on_screen(), picture);

  attach("vertigo");
  frames(4);
  std::vector<uint8_t> shown = on_screen();
  size_t differ = 0;
  for (size_t i = 0; i < shown.size(); i++) differ += shown[i] != picture[i];
  EXPECT_GT(differ, shown.size() / 2);
}

}  // namespace
