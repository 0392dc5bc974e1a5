// PngLayer: every PngSuite picture against its reference bitmap, exact
// bytes of pictures built here with known samples, the widest picture, and
// hostile files refused with their messages.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "png_layer.h"
#include "test_support.h"

namespace {

const std::string kSuite = std::string(KOLVEX_TEST_DATA) + "/pngsuite";
using Bytes = std::vector<uint8_t>;

uint32_t le32(const uint8_t *p) { return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }

// The suite's references: 32-bit bottom-up bitmaps with a V5 header and
// channel masks. Gives top-down bytes blue, green, red, alpha.
bool read_bmp(const std::string &path, int &w, int &h, Bytes &bgra) {
  Bytes d = kt::read_file(path);
  if (d.size() < 70 || d[0] != 'B' || d[28] != 32 || le32(&d[30]) != 3) return false;
  w = (int)le32(&d[18]), h = (int)le32(&d[22]);
  const uint32_t masks[4] = {le32(&d[62]), le32(&d[58]), le32(&d[54]), le32(&d[66])};  // b g r a
  const uint8_t *pixels = &d[le32(&d[10])];
  if (w <= 0 || h <= 0 || d.size() < le32(&d[10]) + (size_t)w * h * 4) return false;
  bgra.assign((size_t)w * h * 4, 0xFF);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++)
      for (int c = 0; c < 4; c++)
        if (uint32_t m = masks[c])
          bgra[((size_t)y * w + x) * 4 + c] =
              (uint8_t)((le32(pixels + ((size_t)(h - 1 - y) * w + x) * 4) & m) / (m & -m));
  return true;
}

std::vector<std::string> suite_files(bool corrupt) {
  std::vector<std::string> names;
  for (auto &e : std::filesystem::directory_iterator(kSuite + "/png"))
    if (e.path().extension() == ".png" && (e.path().filename().string()[0] == 'x') == corrupt)
      names.push_back(e.path().stem());
  std::sort(names.begin(), names.end());
  return names;
}

std::string suite_png(const std::string &stem) { return kSuite + "/png/" + stem + ".png"; }

// A PNG built here: `rows` holds the samples in the file's own layout (no
// filter bytes); extra chunks go before the image data, which is split
// into IDAT chunks of `idat` bytes. Without rows only the header is written.
struct Png {
  uint32_t w, h;
  int depth, ctype;
  Bytes rows;
  std::vector<std::pair<const char *, Bytes>> extra = {};
  int level = 6;
  size_t idat = 1 << 20;
};

void put32(Bytes &d, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) d.push_back((uint8_t)(v >> s));
}
void chunk(Bytes &d, const char *type, const Bytes &body) {
  put32(d, (uint32_t)body.size());
  const size_t at = d.size();
  d.insert(d.end(), type, type + 4);
  d.insert(d.end(), body.begin(), body.end());
  put32(d, (uint32_t)crc32(0, &d[at], (uInt)body.size() + 4));
}
Bytes encode(const Png &p) {
  Bytes d = {137, 80, 78, 71, 13, 10, 26, 10}, ihdr;
  put32(ihdr, p.w);
  put32(ihdr, p.h);
  ihdr.insert(ihdr.end(), {(uint8_t)p.depth, (uint8_t)p.ctype, 0, 0, 0});
  chunk(d, "IHDR", ihdr);
  if (p.rows.empty()) return d;
  for (auto &c : p.extra) chunk(d, c.first, c.second);
  Bytes raw;
  const size_t stride = p.rows.size() / p.h;
  for (size_t at = 0; at < p.rows.size(); at += stride) {
    raw.push_back(0);
    raw.insert(raw.end(), p.rows.begin() + at, p.rows.begin() + at + stride);
  }
  uLongf n = compressBound(raw.size());
  Bytes z(n);
  compress2(z.data(), &n, raw.data(), raw.size(), p.level);
  for (size_t at = 0; at < n; at += p.idat)
    chunk(d, "IDAT", Bytes(z.begin() + at, z.begin() + std::min<size_t>(n, at + p.idat)));
  chunk(d, "IEND", {});
  return d;
}

class PngLayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ctx.init(640, 480));
    ASSERT_NE(mkdtemp(&dir[0]), nullptr);
  }
  void TearDown() override {
    set_debug(0);
    std::filesystem::remove_all(dir);
  }
  std::string temp(const std::string &name, const Bytes &data) {
    std::ofstream(dir + "/" + name, std::ios::binary).write((const char *)data.data(), data.size());
    return dir + "/" + name;
  }
  // open + init; the layer is kept whatever happened.
  std::unique_ptr<PngLayer> load(const std::string &path, bool &ok) {
    std::unique_ptr<PngLayer> l(new PngLayer());
    ok = l->open(path.c_str()) && l->init(&ctx);
    return l;
  }
  Bytes frame_of(PngLayer &l) {
    const uint8_t *p = (const uint8_t *)l.feed();
    return p ? Bytes(p, p + l.geo.size) : Bytes();
  }

  Context ctx;
  std::string dir = "/tmp/kolvex_png_XXXXXX";
};

// Every valid file: its size, every pixel, and the log of the
// transformations asked of libpng.
TEST_F(PngLayerTest, EverySuitePictureMatchesItsReference) {
  const std::vector<std::string> stems = suite_files(false);
  EXPECT_GE(stems.size(), 160u);
  set_debug(2);
  for (const std::string &stem : stems) {
    SCOPED_TRACE(stem);
    int w = 0, h = 0;
    Bytes ref;
    ASSERT_TRUE(read_bmp(kSuite + "/bmp/" + stem + ".bmp", w, h, ref));
    kt::StderrCapture cap;
    bool ok = false;
    auto layer = load(suite_png(stem), ok);
    const std::string log = cap.text();
    ASSERT_TRUE(ok) << log;
    ASSERT_EQ(layer->geo.w, w);
    ASSERT_EQ(layer->geo.h, h);

    const Bytes file = kt::read_file(suite_png(stem));
    const int depth = file.at(24), ctype = file.at(25);  // from the header
    const std::string f = "[F] PNG set ";
    EXPECT_EQ(kt::count_lines(log, f + "palette to rgb"), ctype == 3);
    EXPECT_EQ(kt::count_lines(log, f + "gray to 8bpp"), ctype == 0 && depth < 8);
    EXPECT_EQ(kt::count_lines(log, f + "gray to rgb"), ctype == 0 || ctype == 4);
    char geo[96];
    snprintf(geo, sizeof geo, "[F] PngLayer :: w[%d] h[%d] bpp[32] size[%d]", w, h, w * h * 4);
    EXPECT_EQ(kt::count_lines(log, geo), 1) << log;

    // 16-bit files keep the high byte; the references of the 16-bit grey
    // files were rounded, so they may be one level above it. The references
    // blank the colour of fully transparent pixels; ours keep the file's.
    const int tolerance = depth == 16 ? 1 : 0;
    const uint8_t *got = (const uint8_t *)layer->feed();
    int bad = 0;
    for (size_t i = 0; i < ref.size() && bad < 5; i += 4)
      for (int c = ref[i + 3] == 0 ? 3 : 0; c < 4; c++)
        if (std::abs(got[i + c] - ref[i + c]) > tolerance) {
          ADD_FAILURE() << "pixel " << i / 4 << " byte " << c << ": " << (int)got[i + c]
                        << ", reference " << (int)ref[i + c];
          bad++;
        }
  }
}

// Each kind of file, from samples we chose: bytes blue, green, red, alpha.
TEST_F(PngLayerTest, EachColourTypeGivesBlueFirstBytes) {
  const Bytes palette = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80, 0x90};
  struct Row {
    const char *what;
    Png png;
    Bytes want;
  } rows[] = {
      {"truecolour",
       {2, 1, 8, 2, {0x11, 0x22, 0x33, 0xA0, 0xB0, 0xC0}},
       {0x33, 0x22, 0x11, 0xFF, 0xC0, 0xB0, 0xA0, 0xFF}},
      // Low bytes of 0xFF would round the high bytes up if they were scaled.
      {"rgba16",
       {1, 1, 16, 6, {0x12, 0xFF, 0x34, 0xFF, 0x56, 0x80, 0x7F, 0xFF}},
       {0x56, 0x34, 0x12, 0x7F}},
      // Fully transparent pixels keep their colour.
      {"palette, 2 bits, tRNS for two entries",
       {3, 1, 2, 3, {0x24}, {{"PLTE", palette}, {"tRNS", {0x00, 0x80}}}},
       {0x30, 0x20, 0x10, 0x00, 0x90, 0x80, 0x70, 0xFF, 0x60, 0x50, 0x40, 0x80}},
      {"grey, tRNS",
       {2, 1, 8, 0, {0x40, 0x41}, {{"tRNS", {0x00, 0x40}}}},
       {0x40, 0x40, 0x40, 0x00, 0x41, 0x41, 0x41, 0xFF}},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.what);
    bool ok = false;
    auto layer = load(temp("row.png", encode(r.png)), ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(frame_of(*layer), r.want);
  }
}

// 16383 pixels of 4 bytes is the widest line the 16-bit pitch holds: its
// lines stay apart (one more is refused, below).
TEST_F(PngLayerTest, WidestPictureKeepsItsLinesApart) {
  const uint32_t w = PngLayer::max_width;
  Png png{w, 2, 8, 0, Bytes(w, 0x10)};
  png.rows.resize(w * 2, 0x20);
  Bytes want;
  for (uint8_t v : {0x10, 0x20})
    for (uint32_t x = 0; x < w; x++) want.insert(want.end(), {v, v, v, 0xFF});
  bool ok = false;
  auto layer = load(temp("widest.png", encode(png)), ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(frame_of(*layer), want);
}

// Bad files: refused by open (signature) or by init (libpng's message,
// then ours), with no crash, nothing left open and no frame, except that a
// file breaking off in its image data keeps what was decoded.
TEST_F(PngLayerTest, HostileFilesAreRefusedWithTheirMessages) {
  enum Stage { Open, Init, InitKeepsPart };
  const std::string kNotPng = " - not a valid png file",
                    kLibpng = "[!] error reading the PNG file.";
  struct Row {
    std::string name;
    Bytes data;  // empty: no such file
    Stage stage;
    std::string line;  // after "[!] Pnglayer::open(<path>)" for Open rows
  };
  std::vector<Row> rows;
  for (const std::string &stem : suite_files(true)) {
    const bool sig = stem == "xs1n0g01" || stem == "xs2n0g01" || stem == "xs4n0g01";
    const Stage stage = sig ? Open : stem == "xcsn0g01" ? InitKeepsPart : Init;
    rows.push_back({stem + ".png", kt::read_file(suite_png(stem)), stage, sig ? kNotPng : kLibpng});
  }
  EXPECT_EQ(rows.size(), 14u);
  rows.push_back({"notes.png", {'h', 'e', 'l', 'l', 'o', '\n'}, Open, kNotPng});
  rows.push_back({"tiny.png", {137, 80}, Open, kNotPng});
  rows.push_back({"missing.png", {}, Open, " - No such file or directory"});
  // Headers the layer cannot hold (refused before anything is allocated).
  for (uint32_t side : {70000u, 65536u, 20000u})
    rows.push_back({"huge" + std::to_string(side) + ".png",
                    encode({side, side == 20000 ? side : 1, 8, 2, {}}), Init, "[!] "});
  rows.push_back({"wider.png",
                  encode({PngLayer::max_width + 1, 2, 8, 0, Bytes((PngLayer::max_width + 1) * 2)}),
                  Init, "[!] PNG picture wider.png is 16384x2, too large for a layer"});
  // A text chunk claiming 1 GiB in a file of a few dozen bytes: skipped
  // unread, so the file fails as a short one without that allocation.
  Bytes bomb = encode({5, 5, 8, 2, {}});
  bomb.insert(bomb.end(), {0x40, 0, 0, 0, 'z', 'T', 'X', 't', 'k', 'e', 'y', 0, 0});
  rows.push_back({"bomb.png", bomb, Init, kLibpng});
  // Stored in small chunks and cut in half: the rows before the break stay.
  Png stored{64, 64, 8, 2, Bytes(64 * 64 * 3)};
  for (size_t i = 0; i < stored.rows.size(); i++) stored.rows[i] = (uint8_t)(1 + i % 251);
  stored.level = 0, stored.idat = 256;
  Bytes cut = encode(stored);
  cut.resize(cut.size() / 2);
  rows.push_back({"cut.png", cut, InitKeepsPart, kLibpng});

  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    const std::string path = r.data.empty() ? dir + "/" + r.name : temp(r.name, r.data);
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    std::unique_ptr<PngLayer> layer(new PngLayer());
    kt::StderrCapture cap;
    const bool opened = layer->open(path.c_str());
    EXPECT_EQ(opened, r.stage != Open);
    EXPECT_FALSE(opened && layer->init(&ctx));
    const std::string log = cap.text();
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 256 * 1024) << "KiB more at the peak";
    if (r.stage == Open)
      EXPECT_EQ(log, "[!] Pnglayer::open(" + path + ")" + r.line + "\n");
    else
      EXPECT_TRUE(kt::contains(log, r.line)) << log;
    if (r.line == kLibpng) {
      EXPECT_EQ(kt::count_lines(log, kLibpng), 1) << log;
      EXPECT_LT(log.find("libpng error: "), log.find(kLibpng)) << "libpng's own message first";
    }
    EXPECT_EQ(layer->file, nullptr);
    EXPECT_EQ(layer->png_ptr, nullptr);
    EXPECT_EQ(layer->feed() != nullptr, r.stage == InitKeepsPart);
    if (r.name == "cut.png") {  // its first rows decoded, the last ones still zero
      const uint8_t *f = (const uint8_t *)layer->feed();
      EXPECT_EQ(Bytes(f + 8 * 64 * 4, f + 8 * 64 * 4 + 4), (Bytes{33, 32, 31, 0xFF}));
      EXPECT_EQ(Bytes(f + 60 * 64 * 4, f + 64 * 64 * 4), Bytes(4 * 64 * 4, 0));
    }
  }
}

}  // namespace
