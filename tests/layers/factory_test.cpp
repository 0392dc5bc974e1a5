// create_layer: the rules in their order, with their log lines, and what
// each returns. Runs in a scratch directory so that names can be relative.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "factory.h"
#include "genlayer.h"
#include "png_layer.h"
#include "test_support.h"

namespace {

const std::string kValidPng = std::string(KOLVEX_TEST_DATA) + "/pngsuite/png/basn2c08.png";

class FactoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    set_debug(0);
    char tmpl[] = "/tmp/kolvex_factory_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    ASSERT_NE(getcwd(old_cwd, sizeof old_cwd), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
  }
  void TearDown() override {
    set_debug(0);
    for (const std::string &f : made) unlink(f.c_str());
    EXPECT_EQ(chdir(old_cwd), 0);
    rmdir(dir.c_str());
  }
  void touch(const std::string &name, const std::string &content = "data\n") {
    FILE *f = fopen(name.c_str(), "wb");
    ASSERT_NE(f, nullptr) << name;
    fputs(content.c_str(), f);
    fclose(f);
    made.push_back(name);
  }
  void copy_png(const std::string &name) {
    FILE *in = fopen(kValidPng.c_str(), "rb");
    ASSERT_NE(in, nullptr);
    FILE *out = fopen(name.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, in)) > 0) fwrite(buf, 1, n, out);
    fclose(in);
    fclose(out);
    made.push_back(name);
  }
  // The layer for `name` and everything logged while making it.
  std::unique_ptr<Layer> create(const std::string &name, std::string *log) {
    kt::StderrCapture cap;
    Layer *l = create_layer(name.c_str());
    *log = cap.text();
    return std::unique_ptr<Layer>(l);
  }
  std::string refused(const std::string &name) {
    std::string log;
    auto l = create(name, &log);
    EXPECT_EQ(l, nullptr) << name;
    return log;
  }

  std::string dir;
  char old_cwd[4096] = {};
  std::vector<std::string> made;
};

std::string missing_line(const std::string &name) {
  return "[!] can't open " + name + " to create a Layer: No such file or directory\n";
}
std::string unsupported(const std::string &why, const std::string &name, bool final_line) {
  std::string s = "[!] " + why + "\n .  can't load " + name + "\n";
  if (final_line) s += "[!] can't create a layer with " + name + "\n";
  return s;
}
const std::string kV4l = "Video4Linux layer support not compiled";
const std::string kVideo = "VIDEO and AVI layer support not compiled";

// Rule 1: files must exist, except devices, URLs and pseudo-names.
TEST_F(FactoryTest, MissingFilesAreRefusedFirst) {
  EXPECT_EQ(refused("movie.avi"), missing_line("movie.avi"));  // not the video message
  EXPECT_EQ(refused("nothing.png"), missing_line("nothing.png"));
  EXPECT_EQ(refused("credits.txt"), missing_line("credits.txt"));
  EXPECT_EQ(refused(""), missing_line(""));
}

// Rules 2 and 3 for devices: recognised by name, never opened (neither
// device exists here, so an existence test would have said so instead).
TEST_F(FactoryTest, DevicesAreRecognisedByName) {
  EXPECT_EQ(refused("/dev/video0"), unsupported(kV4l, "/dev/video0", true));
  EXPECT_EQ(refused("/DEV/Video7"), unsupported(kV4l, "/DEV/Video7", true));
  EXPECT_EQ(refused("/dev/ieee1394/dv"), unsupported(kVideo, "/dev/ieee1394/dv", true));
  EXPECT_EQ(refused("/dev/IEEE1394/dv"), unsupported(kVideo, "/dev/IEEE1394/dv", true));
  // A device name wins over its suffix.
  EXPECT_EQ(refused("/dev/shot.png"), unsupported(kV4l, "/dev/shot.png", true));
  EXPECT_EQ(refused("/dev/ieee1394/cam.png"), unsupported(kVideo, "/dev/ieee1394/cam.png", true));
}

// Rule 3 for files: every video suffix, in any letter case.
TEST_F(FactoryTest, ExistingVideoFilesGetTheVideoMessage) {
  for (const char *name : {"movie.avi", "a.asf", "b.asx", "c.wma", "d.wmv", "e.mov",
                           "CLIP.MPEG", "f.mpg", "show.Avi"}) {
    touch(name);
    EXPECT_EQ(refused(name), unsupported(kVideo, name, true));
  }
}

// Rule 4.
TEST_F(FactoryTest, PngNamesGiveAnOpenedPngLayer) {
  copy_png("IMAGE.PNG");
  set_debug(2);
  std::string log;
  auto l = create("IMAGE.PNG", &log);
  ASSERT_NE(l, nullptr);
  PngLayer *png = dynamic_cast<PngLayer *>(l.get());
  ASSERT_NE(png, nullptr);
  EXPECT_NE(png->file, nullptr);  // open succeeded, init is the caller's
  EXPECT_STREQ(png->filename, "IMAGE.PNG");
  EXPECT_EQ(png->list, nullptr);  // not put into any list
  char line[64];
  snprintf(line, sizeof line, "[F] create_layer succesful, returns %p", (void *)l.get());
  EXPECT_EQ(kt::count_lines(log, line), 1) << log;
}

TEST_F(FactoryTest, FailedPngOpenDestroysTheLayer) {
  touch("fake.png", "not a picture at all\n");
  EXPECT_EQ(refused("fake.png"), "[!] Pnglayer::open(fake.png) - not a valid png file\n"
                                 "[!] create_layer : PNG open failed\n"
                                 "[!] can't create a layer with fake.png\n");
  // A URL skips the existence test and fails in the layer's open.
  const std::string url = "http://example.org/pic.png";
  EXPECT_EQ(refused(url), "[!] Pnglayer::open(" + url + ") - No such file or directory\n"
                          "[!] create_layer : PNG open failed\n"
                          "[!] can't create a layer with " + url + "\n");
}

// What the intro meets when its picture is there but is no picture: the
// existence test passes for a directory and an empty file alike (both can
// be opened), so the layer's own open refuses them; a file that cannot be
// read at all is refused by the existence test already.
TEST_F(FactoryTest, PngNamesThatCannotBeReadAsPicturesAreRefused) {
  auto bad_png = [](const std::string &name) {
    return "[!] Pnglayer::open(" + name + ") - not a valid png file\n"
           "[!] create_layer : PNG open failed\n"
           "[!] can't create a layer with " + name + "\n";
  };
  ASSERT_EQ(mkdir("folder.png", 0755), 0);
  EXPECT_EQ(refused("folder.png"), bad_png("folder.png"));
  EXPECT_EQ(rmdir("folder.png"), 0);
  touch("empty.png", "");
  EXPECT_EQ(refused("empty.png"), bad_png("empty.png"));

  copy_png("locked.png");
  ASSERT_EQ(chmod("locked.png", 0), 0);
  kt::FilePermissionsApply permissions;
  if (!permissions.enforced) GTEST_SKIP() << "mode 000 does not keep this process out";
  EXPECT_EQ(refused("locked.png"),
            "[!] can't open locked.png to create a Layer: Permission denied\n");
}

TEST_F(FactoryTest, LayerGenPngIsTakenAsPicture) {
  // Its "layer_" prefix skips the existence test; the suffix decides first.
  EXPECT_EQ(refused("layer_gen.png"),
            "[!] Pnglayer::open(layer_gen.png) - No such file or directory\n"
            "[!] create_layer : PNG open failed\n"
            "[!] can't create a layer with layer_gen.png\n");
  copy_png("layer_gen.png");
  std::string log;
  auto l = create("layer_gen.png", &log);
  EXPECT_NE(dynamic_cast<PngLayer *>(l.get()), nullptr) << log;
}

// Rules 5 and 6: no final line.
TEST_F(FactoryTest, TextAndScreensaverNames) {
  touch("notes.TXT");
  EXPECT_EQ(refused("notes.TXT"), unsupported("TXT layer support not compiled", "notes.TXT", false));
  touch("run_xscreensaver_hack");
  EXPECT_EQ(refused("run_xscreensaver_hack"),
            unsupported("no xhacks layer support", "run_xscreensaver_hack", false));
  // The text rule comes before the screensaver rule.
  touch("xscreensaver.txt");
  EXPECT_EQ(refused("xscreensaver.txt"),
            unsupported("TXT layer support not compiled", "xscreensaver.txt", false));
  // This one test minds letter case: the name ends at the last rule.
  touch("XScreenSaver");
  EXPECT_EQ(refused("XScreenSaver"), "[!] can't create a layer with XScreenSaver\n");
}

// Rule 7: a case-insensitive prefix, no existence test.
TEST_F(FactoryTest, LayerGenPrefixGivesGenerator) {
  for (const char *name : {"layer_gen", "LAYER_GEN", "layer_generator"}) {
    std::string log;
    auto l = create(name, &log);
    EXPECT_NE(dynamic_cast<GenLayer *>(l.get()), nullptr) << name << ": " << log;
    EXPECT_EQ(log, "") << name;
  }
}

// Rule 8, and suffix tests on names shorter than the suffix.
TEST_F(FactoryTest, EverythingElseIsRefused) {
  touch("image.png.bak");
  EXPECT_EQ(refused("image.png.bak"), "[!] can't create a layer with image.png.bak\n");
  EXPECT_EQ(refused("layer_foo"), "[!] can't create a layer with layer_foo\n");
  for (const char *name : {"png", "pg", "g", "mpg"}) {
    touch(name);
    EXPECT_EQ(refused(name), std::string("[!] can't create a layer with ") + name + "\n");
  }
}

TEST_F(FactoryTest, NullNameIsRefused) {
  std::string log;
  kt::StderrCapture cap;
  EXPECT_EQ(create_layer(nullptr), nullptr);
  EXPECT_TRUE(kt::contains(cap.text(), "[!] "));
}

TEST(FactoryDescription, ListsTheKindsItMakes) {
  EXPECT_STREQ(layers_description,
               " .  - PNG images (also with transparency)\n"
               " .  - particle generator ( add layer_gen on commandline)\n"
               "\n");
}

}  // namespace
