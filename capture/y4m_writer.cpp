#include "y4m_writer.h"

#include <cerrno>
#include <vector>

#include "pending_file.h"
#include "yuv_planes.h"

namespace capture {

namespace {

class Y4mWriter : public FrameWriter {
 public:
  Y4mWriter(const WriterOptions &o, const std::string &path)
      : file_(path), w_(o.width), h_(o.height), fps_(o.fps), planes_(w_ * h_ * 3 / 2) {}

  bool open(std::string &err) {
    out_.reset(fopen(file_.temp_path().c_str(), "wb"));
    if (!out_ || setvbuf(out_.get(), nullptr, _IOFBF, 1 << 20) != 0 ||
        fprintf(out_.get(), "YUV4MPEG2 W%d H%d F%d:1 Ip A1:1 C420jpeg\n", w_, h_, fps_) < 0) {
      err = write_error(file_.path(), errno);
      return false;
    }
    return true;
  }

  bool write(const uint8_t *bgrx, int pitch) override {
    const int n = w_ * h_;
    bgrx_to_yuv420(bgrx, pitch, w_, h_, planes_.data(), planes_.data() + n,
                   planes_.data() + n + n / 4);
    if (!out_ || fputs("FRAME\n", out_.get()) < 0 ||
        fwrite(planes_.data(), 1, planes_.size(), out_.get()) != planes_.size())
      return fail(write_error(file_.path(), out_ ? errno : EBADF));
    return true;
  }

  bool close() override {
    std::string err;
    if (!close_file(out_)) return fail(write_error(file_.path(), errno));
    return file_.commit(err) || fail(err);
  }

  std::string describe() const override { return file_.path(); }

 private:
  PendingFile file_;
  File out_;
  int w_, h_, fps_;
  std::vector<uint8_t> planes_;
};

}  // namespace

std::unique_ptr<FrameWriter> open_y4m_writer(const WriterOptions &o, std::string &err) {
  std::unique_ptr<Y4mWriter> w(new Y4mWriter(o, o.dir + "/" + o.name + ".y4m"));
  if (!w->open(err)) return nullptr;
  return w;
}

}  // namespace capture
