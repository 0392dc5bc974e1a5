// create_layer: the rules in their order, with their log lines and what
// each returns, as one table. Runs in a scratch directory so that names can
// be relative.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "factory.h"
#include "genlayer.h"
#include "png_layer.h"
#include "test_support.h"

namespace {

enum Make { Nothing, Text, Picture, Empty, Folder, Locked };
enum Kind { None, Png, Gen };

// The log lines, with $ for the name.
const std::string kLast = "[!] can't create a layer with $\n";
const std::string kMissing = "[!] can't open $ to create a Layer: No such file or directory\n";
const std::string kDenied = "[!] can't open $ to create a Layer: Permission denied\n";
const std::string kV4l = "[!] Video4Linux layer support not compiled\n .  can't load $\n" + kLast;
const std::string kVideo =
    "[!] VIDEO and AVI layer support not compiled\n .  can't load $\n" + kLast;
const std::string kPngFailed = "\n[!] create_layer : PNG open failed\n" + kLast;
const std::string kBadPng = "[!] Pnglayer::open($) - not a valid png file" + kPngFailed;
const std::string kNoFile = "[!] Pnglayer::open($) - No such file or directory" + kPngFailed;
const std::string kTxt = "[!] TXT layer support not compiled\n .  can't load $\n";  // no final line
const std::string kXhacks = "[!] no xhacks layer support\n .  can't load $\n";
const std::string kQuiet;

std::string with_name(std::string log, const std::string &name) {
  for (size_t at; (at = log.find('$')) != std::string::npos;) log.replace(at, 1, name);
  return log;
}

class FactoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(mkdtemp(&dir[0]), nullptr);
    ASSERT_NE(getcwd(old_cwd, sizeof old_cwd), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
  }
  void TearDown() override {
    set_debug(0);
    EXPECT_EQ(chdir(old_cwd), 0);
    std::filesystem::remove_all(dir);
  }
  std::string dir = "/tmp/kolvex_factory_XXXXXX";
  char old_cwd[4096] = {};
};

TEST_F(FactoryTest, RulesInTheirOrderWithTheirMessages) {
  // clang-format off
  struct Row {
    const char *name;
    Make make;
    Kind kind;
    const std::string &log;
  } rows[] = {
      // Files must exist, except devices, URLs and pseudo-names.
      {"movie.avi", Nothing, None, kMissing}, {"", Nothing, None, kMissing},
      // Devices by name, never opened; a device name wins over its suffix.
      {"/dev/video0", Nothing, None, kV4l}, {"/DEV/shot.png", Nothing, None, kV4l},
      {"/dev/ieee1394/dv", Nothing, None, kVideo}, {"/dev/IEEE1394/cam.png", Nothing, None, kVideo},
      // Every video suffix, in any letter case.
      {"movie.avi", Text, None, kVideo}, {"a.asf", Text, None, kVideo},
      {"b.asx", Text, None, kVideo}, {"c.wma", Text, None, kVideo},
      {"d.wmv", Text, None, kVideo}, {"e.mov", Text, None, kVideo},
      {"CLIP.MPEG", Text, None, kVideo}, {"f.mpg", Text, None, kVideo},
      {"show.Avi", Text, None, kVideo},
      // Pictures: the layer's own open decides; a failed one is destroyed.
      {"IMAGE.PNG", Picture, Png, kQuiet}, {"fake.png", Text, None, kBadPng},
      {"empty.png", Empty, None, kBadPng}, {"folder.png", Folder, None, kBadPng},
      {"http://example.org/pic.png", Nothing, None, kNoFile},
      {"layer_gen.png", Nothing, None, kNoFile},  // the suffix decides first
      {"layer_gen.png", Picture, Png, kQuiet}, {"locked.png", Locked, None, kDenied},
      // Text and screensaver names: no final line; only the latter minds case.
      {"notes.TXT", Text, None, kTxt}, {"xscreensaver.txt", Text, None, kTxt},
      {"run_xscreensaver_hack", Text, None, kXhacks}, {"XScreenSaver", Text, None, kLast},
      // The generator: a case-insensitive prefix, no existence test.
      {"layer_gen", Nothing, Gen, kQuiet}, {"LAYER_generator", Nothing, Gen, kQuiet},
      // Everything else, and suffixes longer than the name.
      {"image.png.bak", Text, None, kLast}, {"layer_foo", Nothing, None, kLast},
      {"png", Text, None, kLast}, {"mpg", Text, None, kLast},
  };
  // clang-format on
  const std::string picture = std::string(KOLVEX_TEST_DATA) + "/pngsuite/png/basn2c08.png";
  kt::FilePermissionsApply permissions;  // mode 000 keeps even root out
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    if (r.make == Folder) {
      ASSERT_EQ(mkdir(r.name, 0755), 0);
    }
    if (r.make == Text || r.make == Empty)
      std::ofstream(r.name) << (r.make == Text ? "data\n" : "");
    if (r.make == Picture || r.make == Locked)
      std::ofstream(r.name) << std::ifstream(picture).rdbuf();
    if (r.make == Locked && (chmod(r.name, 0) != 0 || !permissions.enforced)) continue;
    kt::StderrCapture cap;
    LayerPtr layer(create_layer(r.name));
    EXPECT_EQ(cap.text(), with_name(r.log, r.name));
    EXPECT_EQ(dynamic_cast<PngLayer *>(layer.get()) != nullptr, r.kind == Png);
    EXPECT_EQ(dynamic_cast<GenLayer *>(layer.get()) != nullptr, r.kind == Gen);
    EXPECT_TRUE(!layer || !layer->list) << "put into no list";
  }
  kt::StderrCapture cap;
  EXPECT_EQ(create_layer(nullptr), nullptr);
  EXPECT_TRUE(kt::contains(cap.text(), "[!] "));
}

TEST_F(FactoryTest, PictureLayerIsOpenedAndAnnounced) {
  std::ofstream("shot.png")
      << std::ifstream(std::string(KOLVEX_TEST_DATA) + "/pngsuite/png/basn2c08.png").rdbuf();
  set_debug(2);
  kt::StderrCapture cap;
  LayerPtr layer(create_layer("shot.png"));
  const std::string log = cap.text();
  PngLayer *png = dynamic_cast<PngLayer *>(layer.get());
  ASSERT_NE(png, nullptr);
  EXPECT_NE(png->file, nullptr) << "open done, init is the caller's";
  EXPECT_STREQ(png->filename, "shot.png");
  char line[64];
  snprintf(line, sizeof line, "[F] create_layer succesful, returns %p", (void *)png);
  EXPECT_EQ(kt::count_lines(log, line), 1) << log;
}

}  // namespace
