// PngLayer: every PngSuite picture against its BMP reference, corrupt files,
// interlacing, truncation, size limits, and exact bytes of pictures written
// here with known sample values.
#include <dirent.h>
#include <gtest/gtest.h>
#include <png.h>
#include <sys/resource.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "png_layer.h"
#include "test_support.h"

namespace {

const std::string kSuite = std::string(KOLVEX_TEST_DATA) + "/pngsuite";

std::vector<uint8_t> read_file(const std::string &path) {
  std::vector<uint8_t> data;
  FILE *f = fopen(path.c_str(), "rb");
  if (!f) return data;
  uint8_t buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) data.insert(data.end(), buf, buf + n);
  fclose(f);
  return data;
}

void write_file(const std::string &path, const std::vector<uint8_t> &data) {
  FILE *f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  fwrite(data.data(), 1, data.size(), f);
  fclose(f);
}

uint32_t le32(const uint8_t *p) { return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }
uint32_t be32(const uint8_t *p) { return (uint32_t)p[0] << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

// The suite's references are 32-bit BI_BITFIELDS bitmaps (V5 header, masks
// for red, green, blue, alpha), stored bottom-up; this reads that kind and
// the plain 24/32-bit ones, and gives top-down bytes blue, green, red, alpha.
struct Bitmap {
  int w = 0, h = 0;
  bool has_alpha = false;
  std::vector<uint8_t> bgra;
  const uint8_t *px(int x, int y) const { return &bgra[((size_t)y * w + x) * 4]; }
};

int mask_shift(uint32_t mask) {
  int s = 0;
  while (mask && !(mask & 1)) mask >>= 1, s++;
  return s;
}

bool read_bmp(const std::string &path, Bitmap &out) {
  std::vector<uint8_t> d = read_file(path);
  if (d.size() < 54 || d[0] != 'B' || d[1] != 'M') return false;
  uint32_t offset = le32(&d[10]), header = le32(&d[14]);
  int32_t w = (int32_t)le32(&d[18]), h = (int32_t)le32(&d[22]);
  int bpp = d[28] | d[29] << 8;
  uint32_t compression = le32(&d[30]);
  uint32_t rm = 0xFF0000, gm = 0xFF00, bm = 0xFF, am = 0;
  if (compression == 3 && header >= 56) {
    rm = le32(&d[54]), gm = le32(&d[58]), bm = le32(&d[62]), am = le32(&d[66]);
  } else if (compression != 0) {
    return false;
  }
  if ((bpp != 24 && bpp != 32) || w <= 0 || h == 0) return false;
  bool bottom_up = h > 0;
  out.w = w;
  out.h = bottom_up ? h : -h;
  out.has_alpha = am != 0;
  size_t stride = ((size_t)w * bpp / 8 + 3) & ~(size_t)3;
  if (d.size() < offset + stride * out.h) return false;
  out.bgra.assign((size_t)w * out.h * 4, 0);
  for (int y = 0; y < out.h; y++) {
    const uint8_t *row = &d[offset + stride * (bottom_up ? out.h - 1 - y : y)];
    for (int x = 0; x < w; x++) {
      uint32_t v = bpp == 32 ? le32(row + x * 4) : (row[x * 3] | row[x * 3 + 1] << 8 | row[x * 3 + 2] << 16);
      uint8_t *p = &out.bgra[((size_t)y * w + x) * 4];
      p[0] = (uint8_t)((v & bm) >> mask_shift(bm));
      p[1] = (uint8_t)((v & gm) >> mask_shift(gm));
      p[2] = (uint8_t)((v & rm) >> mask_shift(rm));
      p[3] = am ? (uint8_t)((v & am) >> mask_shift(am)) : 0xFF;
    }
  }
  return true;
}

// What the file itself says: its header and whether it has a tRNS chunk.
struct PngFacts {
  uint32_t w = 0, h = 0;
  int depth = 0, color_type = -1, interlace = 0;
  bool trns = false;
  bool has_alpha() const { return trns || color_type == 4 || color_type == 6; }
};

PngFacts scan_png(const std::string &path) {
  PngFacts f;
  std::vector<uint8_t> d = read_file(path);
  for (size_t pos = 8; pos + 8 <= d.size();) {
    uint32_t len = be32(&d[pos]);
    std::string type(d.begin() + pos + 4, d.begin() + pos + 8);
    if (type == "IHDR" && pos + 8 + 13 <= d.size()) {
      f.w = be32(&d[pos + 8]);
      f.h = be32(&d[pos + 12]);
      f.depth = d[pos + 16];
      f.color_type = d[pos + 17];
      f.interlace = d[pos + 20];
    }
    if (type == "tRNS") f.trns = true;
    if (type == "IEND" || len > d.size()) break;
    pos += 12 + (size_t)len;
  }
  return f;
}

std::vector<std::string> suite_files(bool corrupt) {
  std::vector<std::string> names;
  DIR *dir = opendir((kSuite + "/png").c_str());
  if (!dir) return names;
  while (dirent *e = readdir(dir)) {
    std::string n = e->d_name;
    if (n.size() < 5 || n.compare(n.size() - 4, 4, ".png") != 0) continue;
    if ((n[0] == 'x') == corrupt) names.push_back(n.substr(0, n.size() - 4));
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

std::string suite_png(const std::string &stem) { return kSuite + "/png/" + stem + ".png"; }

// A picture written here with known samples. `samples` holds the rows in
// the file's own layout (bytes per sample: depth / 8, big-endian for 16).
struct PngSpec {
  int w = 4, h = 2, color_type = PNG_COLOR_TYPE_RGB, depth = 8;
  bool interlace = false;
  int compression = 6;
  size_t idat_size = 8192;  // bytes of image data per IDAT chunk
  std::vector<uint8_t> samples;
  std::vector<png_color> palette;
  std::vector<uint8_t> trns_alpha;  // palette alphas
  bool trns_color = false;
  png_color_16 trns_value{};
};

bool write_png(const std::string &path, const PngSpec &s) {
  FILE *f = fopen(path.c_str(), "wb");
  if (!f) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  std::vector<png_bytep> rows(s.h);
  size_t rowbytes = s.samples.size() / s.h;
  for (int y = 0; y < s.h; y++) rows[y] = (png_bytep)&s.samples[y * rowbytes];
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    fclose(f);
    return false;
  }
  png_init_io(png, f);
  png_set_compression_level(png, s.compression);
  png_set_compression_buffer_size(png, s.idat_size);
  png_set_IHDR(png, info, s.w, s.h, s.depth, s.color_type,
               s.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (!s.palette.empty()) png_set_PLTE(png, info, s.palette.data(), (int)s.palette.size());
  if (!s.trns_alpha.empty())
    png_set_tRNS(png, info, s.trns_alpha.data(), (int)s.trns_alpha.size(), nullptr);
  if (s.trns_color) png_set_tRNS(png, info, nullptr, 0, &s.trns_value);
  png_write_info(png, info);
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  fclose(f);
  return true;
}

// A PNG header only: signature and an IHDR with a valid checksum.
std::vector<uint8_t> header_only(uint32_t w, uint32_t h) {
  std::vector<uint8_t> d = {137, 80, 78, 71, 13, 10, 26, 10, 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  for (uint32_t v : {w, h})
    for (int s = 24; s >= 0; s -= 8) d.push_back((uint8_t)(v >> s));
  for (uint8_t b : {8, 2, 0, 0, 0}) d.push_back(b);
  uint32_t crc = (uint32_t)crc32(0, &d[12], 17);
  for (int s = 24; s >= 0; s -= 8) d.push_back((uint8_t)(crc >> s));
  return d;
}

class PngLayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    set_debug(0);
    ASSERT_TRUE(ctx.init(640, 480));
    char tmpl[] = "/tmp/kolvex_png_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override {
    set_debug(0);
    for (const std::string &f : made) unlink(f.c_str());
    rmdir(dir.c_str());
  }
  std::string temp(const std::string &name) {
    made.push_back(dir + "/" + name);
    return made.back();
  }
  // open + init; the layer is kept whatever happened.
  std::unique_ptr<PngLayer> load(const std::string &path, bool *ok = nullptr) {
    std::unique_ptr<PngLayer> l(new PngLayer());
    bool result = l->open(path.c_str()) && l->init(&ctx);
    if (ok) *ok = result;
    return l;
  }
  std::vector<uint8_t> frame_of(PngLayer &l) {
    const uint8_t *p = (const uint8_t *)l.feed();
    return p ? std::vector<uint8_t>(p, p + l.geo.size) : std::vector<uint8_t>();
  }
  std::vector<uint8_t> decode_spec(const PngSpec &s, const std::string &name) {
    std::string path = temp(name);
    if (!write_png(path, s)) return {};
    bool ok = false;
    auto l = load(path, &ok);
    EXPECT_TRUE(ok) << name;
    return ok ? frame_of(*l) : std::vector<uint8_t>();
  }

  Context ctx;
  std::string dir;
  std::vector<std::string> made;
};

// ---------------------------------------------------------------------------
// PngSuite: every valid file against its reference bitmap
// ---------------------------------------------------------------------------
class PngSuiteValid : public PngLayerTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(PngSuiteValid, MatchesReferenceBitmap) {
  const std::string stem = GetParam();
  Bitmap ref;
  ASSERT_TRUE(read_bmp(kSuite + "/bmp/" + stem + ".bmp", ref)) << "reference of " << stem;
  PngFacts facts = scan_png(suite_png(stem));

  bool ok = false;
  auto layer = load(suite_png(stem), &ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(layer->geo.w, ref.w);
  ASSERT_EQ(layer->geo.h, ref.h);
  EXPECT_EQ(layer->geo.bpp, 32);
  EXPECT_EQ(layer->geo.pitch, ref.w * 4);
  EXPECT_EQ(layer->geo.size, (uint32_t)ref.w * ref.h * 4);
  EXPECT_EQ(layer->feed(), layer->feed_buffer.load());
  EXPECT_STREQ(layer->filename, (stem + ".png").c_str());

  // 16-bit files keep the high byte; the references of the 16-bit grey
  // files were rounded, so they may be one level above it. The exact rule
  // is checked on a picture written here (SixteenBitAlphaKeepsHighBytes).
  int tolerance = facts.depth == 16 ? 1 : 0;
  const uint8_t *frame = (const uint8_t *)layer->feed();
  int bad = 0;
  for (int y = 0; y < ref.h && bad < 5; y++) {
    for (int x = 0; x < ref.w && bad < 5; x++) {
      const uint8_t *got = frame + ((size_t)y * ref.w + x) * 4;
      const uint8_t *want = ref.px(x, y);
      bool alpha_ok = facts.has_alpha() ? std::abs(got[3] - want[3]) <= tolerance : got[3] == 0xFF;
      // The references blank the colour of fully transparent pixels; ours
      // keep the file's colour there, as the exact-byte tests check.
      bool colour_ok = true;
      if (!(facts.has_alpha() && want[3] == 0))
        for (int c = 0; c < 3; c++) colour_ok &= std::abs(got[c] - want[c]) <= tolerance;
      if (!alpha_ok || !colour_ok) {
        bad++;
        ADD_FAILURE() << stem << " pixel " << x << "," << y << ": got " << std::hex << (int)got[0]
                      << " " << (int)got[1] << " " << (int)got[2] << " " << (int)got[3]
                      << ", reference " << (int)want[0] << " " << (int)want[1] << " "
                      << (int)want[2] << " " << (int)want[3];
      }
    }
  }
}

std::string param_name(const ::testing::TestParamInfo<std::string> &info) { return info.param; }

INSTANTIATE_TEST_SUITE_P(PngSuite, PngSuiteValid, ::testing::ValuesIn(suite_files(false)),
                         param_name);

TEST(PngSuiteData, IsComplete) {
  // Guards against an empty parameter list passing silently.
  EXPECT_GE(suite_files(false).size(), 160u);
  EXPECT_EQ(suite_files(true).size(), 14u);
}

// ---------------------------------------------------------------------------
// PngSuite: the corrupt files fail cleanly
// ---------------------------------------------------------------------------
// Where each corrupt file is caught: the first 4 signature bytes are checked
// by open, the rest by libpng during init; a broken image checksum only
// shows while the image data is read, when the frame already exists.
enum class Caught { Open, Header, ImageData };

Caught where_caught(const std::string &stem) {
  if (stem == "xs1n0g01" || stem == "xs2n0g01" || stem == "xs4n0g01") return Caught::Open;
  if (stem == "xcsn0g01") return Caught::ImageData;
  return Caught::Header;
}

class PngSuiteCorrupt : public PngLayerTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(PngSuiteCorrupt, FailsWithMessage) {
  const std::string stem = GetParam();
  const std::string path = suite_png(stem);
  std::unique_ptr<PngLayer> layer(new PngLayer());
  kt::StderrCapture cap;
  bool opened = layer->open(path.c_str());
  bool inited = opened && layer->init(&ctx);
  std::string log = cap.text();

  EXPECT_FALSE(inited);
  EXPECT_EQ(layer->file, nullptr);
  EXPECT_EQ(layer->png_ptr, nullptr);
  EXPECT_EQ(layer->info_ptr, nullptr);
  switch (where_caught(stem)) {
    case Caught::Open:
      EXPECT_FALSE(opened);
      EXPECT_EQ(log, "[!] Pnglayer::open(" + path + ") - not a valid png file\n");
      break;
    case Caught::Header:
    case Caught::ImageData:
      EXPECT_TRUE(opened);
      EXPECT_TRUE(kt::contains(log, "libpng error: ")) << log;
      EXPECT_EQ(kt::count_lines(log, "[!] error reading the PNG file."), 1) << log;
      // libpng's own message comes first.
      EXPECT_LT(log.find("libpng error: "), log.find("[!] error reading"));
      break;
  }
  if (where_caught(stem) == Caught::ImageData) {
    EXPECT_NE(layer->feed(), nullptr);  // the part decoded so far stays
  } else {
    EXPECT_EQ(layer->feed(), nullptr);
    EXPECT_EQ(layer->buffer, nullptr);
    EXPECT_EQ(layer->geo.w, 0);
  }
  layer.reset();  // close() frees what is left; the leak checker sees the rest
}

INSTANTIATE_TEST_SUITE_P(PngSuite, PngSuiteCorrupt, ::testing::ValuesIn(suite_files(true)),
                         param_name);

// ---------------------------------------------------------------------------
// Interlacing
// ---------------------------------------------------------------------------
TEST_F(PngLayerTest, InterlacedEqualsNonInterlaced) {
  int pairs = 0;
  for (const std::string &stem : suite_files(false)) {
    if (stem.size() != 8 || stem[3] != 'i') continue;
    std::string plain = stem.substr(0, 3) + "n" + stem.substr(4);
    if (access(suite_png(plain).c_str(), R_OK) != 0) continue;
    SCOPED_TRACE(stem + " vs " + plain);
    ASSERT_EQ(scan_png(suite_png(stem)).interlace, 1);
    ASSERT_EQ(scan_png(suite_png(plain)).interlace, 0);
    bool ok_i = false, ok_n = false;
    auto li = load(suite_png(stem), &ok_i);
    auto ln = load(suite_png(plain), &ok_n);
    ASSERT_TRUE(ok_i && ok_n);
    EXPECT_EQ(li->geo.w, ln->geo.w);
    EXPECT_EQ(li->geo.h, ln->geo.h);
    EXPECT_TRUE(frame_of(*li) == frame_of(*ln));
    pairs++;
  }
  EXPECT_GE(pairs, 30);  // basi*/basn* and the s??i/s??n sizes
}

TEST_F(PngLayerTest, InterlacedWrittenHereEqualsPlain) {
  PngSpec s;
  s.w = 37, s.h = 19;  // odd sizes leave some Adam7 passes short or empty
  s.samples = kt::noise((size_t)s.w * s.h * 3, 7);
  std::vector<uint8_t> plain = decode_spec(s, "plain.png");
  s.interlace = true;
  std::vector<uint8_t> laced = decode_spec(s, "laced.png");
  ASSERT_EQ(plain.size(), (size_t)s.w * s.h * 4);
  EXPECT_TRUE(plain == laced);
}

// ---------------------------------------------------------------------------
// Pixel bytes for each kind of file, from samples we chose
// ---------------------------------------------------------------------------
TEST_F(PngLayerTest, TruecolourIsBlueFirstWithOpaqueFourthByte) {
  PngSpec s;
  s.w = 2, s.h = 1;
  s.samples = {0x11, 0x22, 0x33, 0xA0, 0xB0, 0xC0};
  EXPECT_EQ(decode_spec(s, "rgb.png"),
            (std::vector<uint8_t>{0x33, 0x22, 0x11, 0xFF, 0xC0, 0xB0, 0xA0, 0xFF}));
}

TEST_F(PngLayerTest, SixteenBitAlphaKeepsHighBytes) {
  PngSpec s;
  s.w = 1, s.h = 1, s.color_type = PNG_COLOR_TYPE_RGBA, s.depth = 16;
  // Low bytes of 0xFF would round the high bytes up if they were scaled.
  s.samples = {0x12, 0xFF, 0x34, 0xFF, 0x56, 0x80, 0x7F, 0xFF};
  EXPECT_EQ(decode_spec(s, "rgba16.png"), (std::vector<uint8_t>{0x56, 0x34, 0x12, 0x7F}));
}

TEST_F(PngLayerTest, PaletteIsBlueFirstWithItsAlpha) {
  PngSpec s;
  s.w = 3, s.h = 1, s.color_type = PNG_COLOR_TYPE_PALETTE, s.depth = 2;
  s.palette = {{0x10, 0x20, 0x30}, {0x40, 0x50, 0x60}, {0x70, 0x80, 0x90}};
  s.trns_alpha = {0x00, 0x80};  // the third entry stays opaque
  s.samples = {0x24};           // indices 0, 2, 1 packed 2 bits each
  EXPECT_EQ(decode_spec(s, "pal.png"),
            (std::vector<uint8_t>{0x30, 0x20, 0x10, 0x00, 0x90, 0x80, 0x70, 0xFF,
                                  0x60, 0x50, 0x40, 0x80}));
}

TEST_F(PngLayerTest, GreyLevelsAreScaledAndSpread) {
  PngSpec s;
  s.w = 4, s.h = 1, s.color_type = PNG_COLOR_TYPE_GRAY, s.depth = 2;
  s.samples = {0x1B};  // levels 0, 1, 2, 3
  EXPECT_EQ(decode_spec(s, "grey2.png"),
            (std::vector<uint8_t>{0, 0, 0, 0xFF, 0x55, 0x55, 0x55, 0xFF, 0xAA, 0xAA, 0xAA,
                                  0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST_F(PngLayerTest, OneBitGreyIsBlackOrWhite) {
  bool ok = false;
  auto layer = load(suite_png("basn0g01"), &ok);
  ASSERT_TRUE(ok);
  std::vector<uint8_t> f = frame_of(*layer);
  int black = 0, white = 0;
  for (size_t i = 0; i < f.size(); i += 4) {
    uint32_t v = be32(&f[i]);
    black += v == 0x000000FF;
    white += v == 0xFFFFFFFF;
  }
  EXPECT_EQ(black + white, 32 * 32);
  EXPECT_GT(black, 0);
  EXPECT_GT(white, 0);
}

TEST_F(PngLayerTest, TransparentColoursGetZeroAlpha) {
  PngSpec grey;
  grey.w = 2, grey.h = 1, grey.color_type = PNG_COLOR_TYPE_GRAY, grey.depth = 8;
  grey.samples = {0x40, 0x41};
  grey.trns_color = true;
  grey.trns_value.gray = 0x40;
  EXPECT_EQ(decode_spec(grey, "greytrns.png"),
            (std::vector<uint8_t>{0x40, 0x40, 0x40, 0x00, 0x41, 0x41, 0x41, 0xFF}));

  PngSpec rgb;
  rgb.w = 2, rgb.h = 1;
  rgb.samples = {1, 2, 3, 1, 2, 4};
  rgb.trns_color = true;
  rgb.trns_value.red = 1, rgb.trns_value.green = 2, rgb.trns_value.blue = 3;
  EXPECT_EQ(decode_spec(rgb, "rgbtrns.png"),
            (std::vector<uint8_t>{3, 2, 1, 0x00, 4, 2, 1, 0xFF}));
}

TEST_F(PngLayerTest, GreyWithAlphaSpreadsLevelKeepsAlpha) {
  PngSpec s;
  s.w = 1, s.h = 1, s.color_type = PNG_COLOR_TYPE_GRAY_ALPHA, s.depth = 8;
  s.samples = {0x9C, 0x21};
  EXPECT_EQ(decode_spec(s, "ga.png"), (std::vector<uint8_t>{0x9C, 0x9C, 0x9C, 0x21}));
}

// ---------------------------------------------------------------------------
// Geometry on the screen
// ---------------------------------------------------------------------------
TEST_F(PngLayerTest, SmallPictureIsCentred) {
  bool ok = false;
  auto layer = load(suite_png("basn2c08"), &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(layer->geo.x, (640 - 32) / 2);
  EXPECT_EQ(layer->geo.y, (480 - 32) / 2);
  EXPECT_FALSE(layer->hidden);
  EXPECT_STREQ(layer->get_name(), "PNG");
}

TEST_F(PngLayerTest, LargePictureGetsNegativePosition) {
  PngSpec s;
  s.w = 801, s.h = 600, s.compression = 1;
  s.samples.assign((size_t)s.w * s.h * 3, 0x42);
  std::string path = temp("large.png");
  ASSERT_TRUE(write_png(path, s));
  bool ok = false;
  auto layer = load(path, &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(layer->geo.x, -80);  // (640 - 801) / 2 truncates toward zero
  EXPECT_EQ(layer->geo.y, -60);
  EXPECT_EQ(layer->geo.pitch, 801 * 4);
  EXPECT_FALSE(layer->hidden);
}

// ---------------------------------------------------------------------------
// Failures
// ---------------------------------------------------------------------------
TEST_F(PngLayerTest, TruncatedFileKeepsDecodedPart) {
  PngSpec s;
  // Stored, in small chunks: libpng reads a chunk's data whole, so the
  // rows before the break are in chunks it could read.
  s.w = 64, s.h = 64, s.compression = 0, s.idat_size = 256;
  s.samples.resize((size_t)s.w * s.h * 3);
  for (size_t i = 0; i < s.samples.size(); i++) s.samples[i] = (uint8_t)(1 + i % 251);
  std::string whole = temp("whole.png");
  ASSERT_TRUE(write_png(whole, s));
  std::vector<uint8_t> data = read_file(whole);
  data.resize(data.size() / 2);
  std::string cut = temp("cut.png");
  write_file(cut, data);

  std::unique_ptr<PngLayer> layer(new PngLayer());
  ASSERT_TRUE(layer->open(cut.c_str()));
  kt::StderrCapture cap;
  EXPECT_FALSE(layer->init(&ctx));
  std::string log = cap.text();
  EXPECT_TRUE(kt::contains(log, "libpng error: ")) << log;
  EXPECT_EQ(kt::count_lines(log, "[!] error reading the PNG file."), 1) << log;
  EXPECT_EQ(layer->file, nullptr);
  EXPECT_EQ(layer->png_ptr, nullptr);

  const uint8_t *f = (const uint8_t *)layer->feed();
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(layer->geo.size, 64u * 64 * 4);
  auto row_is = [&](int y, bool decoded) {
    for (int x = 0; x < s.w; x++) {
      const uint8_t *p = f + (y * s.w + x) * 4;
      const uint8_t *q = &s.samples[(y * s.w + x) * 3];
      bool same = decoded ? (p[0] == q[2] && p[1] == q[1] && p[2] == q[0] && p[3] == 0xFF)
                          : (p[0] | p[1] | p[2] | p[3]) == 0;
      if (!same) return false;
    }
    return true;
  };
  int y = 0;
  while (y < s.h && row_is(y, true)) y++;
  int decoded = y;
  if (y < s.h) y++;  // the line the file broke off in may be partly there
  while (y < s.h && row_is(y, false)) y++;
  EXPECT_EQ(y, s.h) << "rows after the break are not zero";
  EXPECT_GT(decoded, 8);
  EXPECT_LT(decoded, s.h - 8);
}

TEST_F(PngLayerTest, HugeHeadersAreRefusedBeforeAllocating) {
  struct Case {
    uint32_t w, h;
  } cases[] = {{70000, 1}, {1, 65536}, {20000, 20000}, {8192, 8193}};
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
    std::string path = temp("huge" + std::to_string(c.w) + "x" + std::to_string(c.h) + ".png");
    write_file(path, header_only(c.w, c.h));
    std::unique_ptr<PngLayer> layer(new PngLayer());
    ASSERT_TRUE(layer->open(path.c_str()));
    kt::StderrCapture cap;
    EXPECT_FALSE(layer->init(&ctx));
    std::string log = cap.text();
    EXPECT_TRUE(kt::contains(log, "[!] ")) << log;
    EXPECT_EQ(layer->feed(), nullptr);
    EXPECT_EQ(layer->buffer, nullptr);
    EXPECT_EQ(layer->geo.w, 0);
    EXPECT_EQ(layer->file, nullptr);
    EXPECT_EQ(layer->png_ptr, nullptr);
  }
}

// 16384 pixels of 4 bytes make a 65536-byte line: a pitch of 0 in the
// geometry's 16-bit field, and every line was decoded onto the first one.
// One pixel less is the widest picture a layer takes.
TEST_F(PngLayerTest, WidestPictureKeepsItsLinesApartOneMoreIsRefused) {
  PngSpec s;
  s.w = (int)PngLayer::max_width, s.h = 2, s.compression = 1;
  s.samples.assign((size_t)s.w * 3, 0x10);
  s.samples.resize((size_t)s.w * 3 * 2, 0x20);
  const std::string path = temp("widest.png");
  ASSERT_TRUE(write_png(path, s));
  bool ok = false;
  auto layer = load(path, &ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(layer->geo.pitch, PngLayer::max_width * 4);
  const uint8_t *f = (const uint8_t *)layer->feed();
  ASSERT_NE(f, nullptr);
  const uint8_t line0[4] = {0x10, 0x10, 0x10, 0xFF}, line1[4] = {0x20, 0x20, 0x20, 0xFF};
  for (size_t x : {(size_t)0, (size_t)s.w - 1}) {
    EXPECT_EQ(memcmp(f + x * 4, line0, 4), 0) << x;
    EXPECT_EQ(memcmp(f + layer->geo.pitch + x * 4, line1, 4), 0) << x;
  }

  s.w++;
  s.samples.assign((size_t)s.w * 3 * 2, 0x30);
  const std::string wider = temp("wider.png");
  ASSERT_TRUE(write_png(wider, s));
  std::unique_ptr<PngLayer> refused(new PngLayer());
  ASSERT_TRUE(refused->open(wider.c_str()));
  kt::StderrCapture cap;
  EXPECT_FALSE(refused->init(&ctx));
  const std::string log = cap.text();
  EXPECT_TRUE(kt::contains(log, "[!] PNG picture wider.png is 16384x2, too large for a layer"))
      << log;
  EXPECT_EQ(refused->feed(), nullptr);
  EXPECT_EQ(refused->buffer, nullptr);
}

// A text chunk that claims 1 GiB in a file of a few dozen bytes. libpng
// only warns that it is over the chunk limit, then allocated and zeroed
// the whole claimed size before finding the file short (found by the PNG
// fuzzer: 1 GiB zeroed for a 129-byte file). The layer now skips the
// ancillary chunks it does not use, unread: the file fails as a short one
// without that allocation.
TEST_F(PngLayerTest, OversizedTextChunkIsNotAllocated) {
  std::vector<uint8_t> d = header_only(5, 5);
  const uint8_t chunk[] = {0x40, 0x00, 0x00, 0x00, 'z', 'T', 'X', 't', 'k', 'e', 'y', 0, 0};
  d.insert(d.end(), chunk, chunk + sizeof chunk);
  const std::string path = temp("bomb.png");
  write_file(path, d);

  struct rusage before {}, after {};
  getrusage(RUSAGE_SELF, &before);
  std::unique_ptr<PngLayer> layer(new PngLayer());
  ASSERT_TRUE(layer->open(path.c_str()));
  kt::StderrCapture cap;
  EXPECT_FALSE(layer->init(&ctx));
  const std::string log = cap.text();
  getrusage(RUSAGE_SELF, &after);
  EXPECT_EQ(kt::count_lines(log, "[!] error reading the PNG file."), 1) << log;
  // Peak resident size in KiB: zeroing the claimed size would add 1 GiB.
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 256 * 1024);
  EXPECT_EQ(layer->png_ptr, nullptr);
  EXPECT_EQ(layer->file, nullptr);
}

TEST_F(PngLayerTest, OpenRefusesWhatIsNoPng) {
  std::string text = temp("notes.png");
  write_file(text, std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o', '\n'});
  std::string tiny = temp("tiny.png");
  write_file(tiny, std::vector<uint8_t>{137, 80});  // a signature cut short
  std::string missing = dir + "/missing.png";

  PngLayer layer;
  kt::StderrCapture cap;
  EXPECT_FALSE(layer.open(text.c_str()));
  EXPECT_FALSE(layer.open(tiny.c_str()));
  EXPECT_FALSE(layer.open(missing.c_str()));
  EXPECT_EQ(cap.text(), "[!] Pnglayer::open(" + text + ") - not a valid png file\n" +
                            "[!] Pnglayer::open(" + tiny + ") - not a valid png file\n" +
                            "[!] Pnglayer::open(" + missing + ") - No such file or directory\n");
  EXPECT_EQ(layer.file, nullptr);
}

TEST_F(PngLayerTest, InitNeedsAnOpenFile) {
  PngLayer layer;
  kt::StderrCapture cap;
  EXPECT_FALSE(layer.init(&ctx));
  EXPECT_EQ(cap.text(), "[!] no png file opened, layer skipped\n");
  EXPECT_EQ(layer.feed(), nullptr);
}

TEST_F(PngLayerTest, SecondInitFindsNoFile) {
  bool ok = false;
  auto layer = load(suite_png("basn2c08"), &ok);
  ASSERT_TRUE(ok);
  void *frame = layer->feed();
  kt::StderrCapture cap;
  EXPECT_FALSE(layer->init(&ctx));
  EXPECT_EQ(cap.text(), "[!] no png file opened, layer skipped\n");
  EXPECT_EQ(layer->feed(), frame);  // the picture is untouched
}

// ---------------------------------------------------------------------------
// Lifecycle and log
// ---------------------------------------------------------------------------
TEST_F(PngLayerTest, FeedCloseAndKeys) {
  bool ok = false;
  auto layer = load(suite_png("basn6a08"), &ok);
  ASSERT_TRUE(ok);
  void *frame = layer->feed();
  EXPECT_NE(frame, nullptr);
  EXPECT_EQ(layer->feed(), frame);
  EXPECT_EQ(layer->feed_buffer.load(), frame);

  SDL_keysym key{};
  key.sym = SDLK_RIGHT;
  std::vector<uint8_t> before = frame_of(*layer);
  EXPECT_FALSE(layer->keypress(&key));
  EXPECT_TRUE(frame_of(*layer) == before);

  layer->close();
  EXPECT_EQ(layer->feed(), nullptr);
  EXPECT_EQ(layer->feed_buffer.load(), nullptr);
  EXPECT_EQ(layer->row_pointers, nullptr);
  layer->close();  // the destructor closes again
}

TEST_F(PngLayerTest, LogsTransformationsAndGeometry) {
  set_debug(2);
  struct Case {
    const char *stem;
    std::vector<std::string> lines;
  } cases[] = {
      {"basn3p04", {"[F] PNG set palette to rgb"}},
      {"basn0g04", {"[F] PNG set gray to 8bpp", "[F] PNG set gray to rgb"}},
      {"basn4a08", {"[F] PNG set gray to rgb"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.stem);
    kt::StderrCapture cap;
    bool ok = false;
    auto layer = load(suite_png(c.stem), &ok);
    std::string log = cap.text();
    ASSERT_TRUE(ok);
    EXPECT_EQ(kt::count_lines(log, std::string("[F] PngLayer::open(") + suite_png(c.stem) + ")"), 1);
    for (const std::string &l : c.lines) EXPECT_EQ(kt::count_lines(log, l), 1) << l << "\n" << log;
    EXPECT_EQ(kt::count_lines(log, "[F] PngLayer :: w[32] h[32] bpp[32] size[4096]"), 1) << log;
  }
  set_debug(0);
}

}  // namespace
