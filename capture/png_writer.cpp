#include "png_writer.h"

#include <dirent.h>
#include <png.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "pending_file.h"

namespace capture {

namespace {

const size_t kReasonSize = 160;

// libpng's reason is kept for the writer's own line; libpng prints nothing.
void png_failed(png_structp png, png_const_charp why) {
  char *reason = (char *)png_get_error_ptr(png);
  if (reason) snprintf(reason, kReasonSize, "libpng: %s", why ? why : "failed");
  png_longjmp(png, 1);
}
void png_warned(png_structp, png_const_charp) {}

struct PngWrite {
  png_structp png = nullptr;
  png_infop info = nullptr;
  explicit PngWrite(char *reason) {
    png = png_create_write_struct(PNG_LIBPNG_VER_STRING, reason, png_failed, png_warned);
    if (png) info = png_create_info_struct(png);
  }
  ~PngWrite() { png_destroy_write_struct(&png, info ? &info : nullptr); }
};

// libpng reports errors by longjmp: no object with a destructor may be
// created after the setjmp.
bool encode(FILE *f, const uint8_t *bgrx, int pitch, int w, int h, uint8_t *row, char *reason) {
  PngWrite p(reason);
  if (!p.png || !p.info) return false;
  if (setjmp(png_jmpbuf(p.png))) return false;
  png_init_io(p.png, f);
  png_set_compression_level(p.png, 1);
  png_set_filter(p.png, 0, PNG_FILTER_SUB);
  png_set_IHDR(p.png, p.info, (png_uint_32)w, (png_uint_32)h, 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(p.png, p.info);
  for (int y = 0; y < h; y++) {
    const uint8_t *s = bgrx + (long)y * pitch;
    for (int x = 0; x < w; x++) {
      row[x * 3] = s[x * 4 + 2];
      row[x * 3 + 1] = s[x * 4 + 1];
      row[x * 3 + 2] = s[x * 4];
    }
    png_write_row(p.png, row);
  }
  png_write_end(p.png, nullptr);
  return true;
}

class PngSequenceWriter : public FrameWriter {
 public:
  explicit PngSequenceWriter(const WriterOptions &o)
      : dir_(o.dir), w_(o.width), h_(o.height) {}

  bool write(const uint8_t *bgrx, int pitch) override {
    char name[32];
    snprintf(name, sizeof name, "/frame_%06d.png", ++count_);
    std::string err;
    return save_png(dir_ + name, bgrx, w_, h_, pitch, err) || fail(err);
  }

  bool close() override { return true; }
  std::string describe() const override { return dir_ + "/frame_NNNNNN.png"; }

 private:
  std::string dir_;
  int w_, h_;
  int count_ = 0;
};

// A picture of a capture: "frame_" then six digits, ".png". A ".part" left
// by a capture that died is not shown by anything, and is written over.
bool is_frame_file(const char *name) {
  if (strncmp(name, "frame_", 6) != 0) return false;
  const char *p = name + 6;
  int digits = 0;
  while (*p >= '0' && *p <= '9') p++, digits++;
  return digits == 6 && strcmp(p, ".png") == 0;
}

// The folder gets only the new capture's frames: those of an older, longer
// capture would otherwise play on after them. False with `err` when one
// cannot be removed.
bool remove_old_frames(const std::string &dir, std::string &err) {
  DIR *d = opendir(dir.c_str());
  if (!d) return true;  // the probe has shown it can be written
  bool ok = true;
  while (const dirent *e = readdir(d)) {
    if (!is_frame_file(e->d_name)) continue;
    const std::string path = dir + "/" + e->d_name;
    if (unlink(path.c_str()) != 0 && errno != ENOENT) {
      err = path + ": an older capture's frame cannot be removed (" + strerror(errno) + ")";
      ok = false;
      break;
    }
  }
  closedir(d);
  return ok;
}

}  // namespace

bool save_png(const std::string &path, const uint8_t *bgrx, int w, int h, int pitch,
              std::string &err) {
  PendingFile file(path);
  File out(fopen(file.temp_path().c_str(), "wb"));
  if (!out) {
    err = write_error(path, errno);
    return false;
  }
  std::vector<uint8_t> row((size_t)w * 3);
  errno = 0;
  char reason[kReasonSize] = "";
  const bool encoded = encode(out.get(), bgrx, pitch, w, h, row.data(), reason);
  const int write_errno = errno;
  if (!close_file(out) || !encoded) {
    // The system's reason when a write failed, else libpng's own.
    const int e = errno ? errno : write_errno;
    err = e || !*reason ? write_error(path, e ? e : EIO) : "can't write " + path + ": " + reason;
    return false;
  }
  return file.commit(err);
}

std::unique_ptr<FrameWriter> open_png_writer(const WriterOptions &o, std::string &err) {
  // Nothing is created before the first frame: see that one can be.
  const std::string probe = o.dir + "/frame_000001.png.part";
  File f(fopen(probe.c_str(), "wb"));
  if (!f) {
    err = write_error(o.dir + "/frame_000001.png", errno);
    return nullptr;
  }
  f.reset();
  unlink(probe.c_str());
  if (!remove_old_frames(o.dir, err)) return nullptr;
  return std::unique_ptr<FrameWriter>(new PngSequenceWriter(o));
}

}  // namespace capture
