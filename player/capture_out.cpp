#include "capture_out.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "frame_writer.h"
#include "virtual_clock.h"

namespace capture_out {

namespace {

std::unique_ptr<capture::FrameWriter> writer;
bool write_failed = false;

}  // namespace

bool usable(const PlayerOptions &opt, std::string &err) {
  if (!capture::frame_writer_supports(opt.format))
    err = "--format " + opt.format + ": not a format this kolvex writes";
  else if (opt.width % 2 || opt.height % 2)
    err = "--capture needs an even width and height, not " + std::to_string(opt.width) + "x" +
          std::to_string(opt.height);
  return err.empty();
}

bool begin(const PlayerOptions &opt, Context &ctx, uint32_t origin, std::string &err) {
  if (mkdir(opt.capture_dir.c_str(), 0755) != 0 && errno != EEXIST) {
    err = "--capture " + opt.capture_dir + ": " + strerror(errno);
    return false;
  }
  capture::WriterOptions wo;
  wo.format = opt.format;
  wo.dir = opt.capture_dir;
  wo.name = "kolvex";
  wo.width = opt.width, wo.height = opt.height, wo.fps = opt.fps;
  writer = capture::open_frame_writer(wo, err);
  if (!writer) return false;
  write_failed = false;
  ctx.lockstep = true;
  // The frame limiter sleeps once a frame, after the frame is shown: it is
  // written there, and its 1/fps s pass.
  Context *engine = &ctx;
  capture::VirtualClockHooks hooks;
  hooks.on_frame = [engine](int64_t) {
    ViewPort *s = engine->screen;
    if (s && !writer->write((const uint8_t *)s->get_surface(), s->pitch)) write_failed = true;
  };
  capture::install_virtual_clock(opt.fps, origin, hooks);
  return true;
}

bool finish(std::string &err) {
  if (!writer) return true;
  capture::remove_virtual_clock();
  bool ok = !write_failed;
  if (!ok) err = writer->error();
  if (!writer->close() && ok) {
    ok = false;
    err = writer->error();
  }
  writer.reset();
  return ok;
}

}  // namespace capture_out
