#include "y4m_writer.h"

#include <cerrno>
#include <cstdio>
#include <vector>

#include "pending_file.h"
#include "stream_file.h"
#include "yuv_planes.h"

namespace capture {

namespace {

class Y4mWriter : public FrameWriter {
 public:
  Y4mWriter(const WriterOptions &o, const std::string &path)
      : file_(path), w_(o.width), h_(o.height), fps_(o.fps), pool_(o.pool),
        planes_(w_ * h_ * 3 / 2) {}

  bool open(std::string &err) {
    char header[80];
    const int n =
        snprintf(header, sizeof header, "YUV4MPEG2 W%d H%d F%d:1 Ip A1:1 C420jpeg\n", w_, h_, fps_);
    if (!out_.open(file_.temp_path()) || !out_.append(header, (size_t)n)) {
      err = write_error(file_.path(), errno);
      return false;
    }
    return true;
  }

  // The frame is converted here and written by the stream's own thread
  // while the next one is rendered.
  bool write(const uint8_t *bgrx, int pitch) override {
    const int n = w_ * h_;
    bgrx_to_yuv420(bgrx, pitch, w_, h_, planes_.data(), planes_.data() + n,
                   planes_.data() + n + n / 4, pool_);
    if (!out_.append("FRAME\n", 6) || !out_.append(planes_.data(), planes_.size()))
      return fail(write_error(file_.path(), errno));
    return true;
  }

  bool close() override {
    std::string err;
    if (!out_.close()) return fail(write_error(file_.path(), errno));
    return file_.commit(err) || fail(err);
  }

  std::string describe() const override { return file_.path(); }

 private:
  PendingFile file_;
  StreamFile out_;
  int w_, h_, fps_;
  WorkerPool *pool_;
  std::vector<uint8_t> planes_;
};

}  // namespace

std::unique_ptr<FrameWriter> open_y4m_writer(const WriterOptions &o, std::string &err) {
  std::unique_ptr<Y4mWriter> w(new Y4mWriter(o, o.dir + "/" + o.name + ".y4m"));
  if (!w->open(err)) return nullptr;
  return w;
}

}  // namespace capture
