#include "capture_out.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "capture.h"  // the intro capture's y4m and PNG writers
#include "clock.h"

namespace capture_out {

namespace {

Context *engine = nullptr;
std::unique_ptr<capture::FrameWriter> writer;
int rate = 24;
uint32_t origin_seconds = 0;
int64_t frames = 0;  // written, which is the frames of virtual time passed
bool write_failed = false;

void virtual_time(struct timeval *tv) {
  const int64_t us = frames * 1000000 / rate;
  tv->tv_sec = (time_t)(origin_seconds + us / 1000000);
  tv->tv_usec = (suseconds_t)(us % 1000000);
}

// The frame limiter sleeps once a frame, after the frame is shown: it is
// written, and its 1/fps s pass.
void virtual_sleep(const struct timespec *) {
  ViewPort *s = engine->screen;
  if (s && !writer->write((const uint8_t *)s->get_surface(), s->pitch)) write_failed = true;
  frames++;
}

const KolvexClock virtual_clock = {virtual_time, virtual_sleep};

}  // namespace

bool usable(const PlayerOptions &opt, std::string &err) {
  const std::string size = std::to_string(opt.width) + "x" + std::to_string(opt.height);
  if (opt.format != "y4m" && opt.format != "png")
    err = "--format " + opt.format + ": this kolvex captures y4m and png only";
  else if (opt.width != capture::kWidth || opt.height != capture::kHeight)
    err = "--capture writes 640x480 frames only, not " + size;
  else if (opt.format == "y4m" && opt.fps != capture::kRate)
    err = "--format y4m is 24 frames a second, not " + std::to_string(opt.fps);
  return err.empty();
}

bool begin(const PlayerOptions &opt, Context &ctx, uint32_t origin, std::string &err) {
  if (mkdir(opt.capture_dir.c_str(), 0755) != 0 && errno != EEXIST) {
    err = "--capture " + opt.capture_dir + ": " + strerror(errno);
    return false;
  }
  writer.reset(capture::open_frame_writer(opt.format, opt.capture_dir, err));
  if (!writer) return false;
  engine = &ctx;
  rate = opt.fps;
  origin_seconds = origin;
  frames = 0;
  write_failed = false;
  ctx.lockstep = true;
  kolvex_set_clock(&virtual_clock);
  return true;
}

bool finish(std::string &err) {
  if (!writer) return true;
  kolvex_set_clock(nullptr);
  bool ok = writer->close() && !write_failed;
  if (!ok) err = "can't write " + writer->describe();
  writer.reset();
  engine = nullptr;
  return ok;
}

}  // namespace capture_out
