#include "png_writer.h"

#include <dirent.h>
#include <png.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "pending_file.h"
#include "worker_pool.h"

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

// With a pool of several threads, frames are gathered, one for each
// thread, and encoded at once, one picture a thread; alone, each is
// encoded as it comes. Either way the folder ends the same: every frame up
// to the first that failed, none after it.
class PngSequenceWriter : public FrameWriter {
 public:
  explicit PngSequenceWriter(const WriterOptions &o)
      : dir_(o.dir), w_(o.width), h_(o.height), pool_(o.pool),
        gather_(o.pool ? o.pool->threads() : 1) {}

  bool write(const uint8_t *bgrx, int pitch) override {
    const int number = ++count_;
    if (gather_ == 1) {
      std::string err;
      return save_png(path(number), bgrx, w_, h_, pitch, err) || fail(err, number);
    }
    if (held_.size() <= (size_t)gathered_) held_.emplace_back();
    Held &h = held_[gathered_++];
    h.number = number;
    h.pixels.resize((size_t)w_ * h_ * 4);
    for (int y = 0; y < h_; y++)
      memcpy(&h.pixels[(size_t)y * w_ * 4], bgrx + (long)y * pitch, (size_t)w_ * 4);
    return gathered_ < gather_ || encode_gathered();
  }

  bool close() override { return encode_gathered(); }
  std::string describe() const override { return dir_ + "/frame_NNNNNN.png"; }

 private:
  struct Held {
    int number = 0;
    std::vector<uint8_t> pixels;  // w_ * 4 bytes a line
    bool saved = false;
    std::string err;
  };

  std::string path(int number) const {
    char name[32];
    snprintf(name, sizeof name, "/frame_%06d.png", number);
    return dir_ + name;
  }

  bool encode_gathered() {
    const int n = gathered_;
    if (n == 0) return true;
    gathered_ = 0;
    pool_->run(n, [this](int i) {
      Held &h = held_[i];
      h.saved = save_png(path(h.number), h.pixels.data(), w_, h_, w_ * 4, h.err);
    });
    for (int i = 0; i < n; i++) {
      if (held_[i].saved) continue;
      // Those after the failed one were made alongside it: gone, as if
      // encoded one after another.
      for (int j = i + 1; j < n; j++)
        if (held_[j].saved) unlink(path(held_[j].number).c_str());
      return fail(held_[i].err, held_[i].number);
    }
    return true;
  }

  std::string dir_;
  int w_, h_;
  WorkerPool *pool_;
  const int gather_;  // frames encoded at once
  int count_ = 0;
  std::vector<Held> held_;  // reused; gathered_ of them waiting
  int gathered_ = 0;
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
