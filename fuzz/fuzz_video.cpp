// VideoLayer on any file contents: the first byte picks the file's suffix
// and the layer's options, the rest is the file. Open, init against the
// 640x480 screen, then a few frames in lockstep (each waits for its frame)
// and a few live: the geometry must describe the frame, every feed give
// a frame, nothing hang. Seeds: small clips run.sh makes with ffmpeg.
#include <unistd.h>

#include "fuzz_support.h"
#include "video_layer.h"

int fz::one(const uint8_t *data, size_t size) {
  if (size < 1) return -1;
  static const char *const suffixes[] = {".y4m", ".mp4", ".mkv", ".webm",
                                         ".avi", ".gif", ".mov", ".mpg"};
  const uint8_t pick = data[0];
  const std::string path = write_file(std::string("input") + suffixes[pick & 7], data + 1, size - 1);
  VideoLayer layer;
  VideoOptions o;
  o.size = (pick >> 3 & 3) == 1 ? VideoOptions::FILL : VideoOptions::FIT;  // frames stay small
  o.once = pick & 0x20;
  o.speed = pick & 0x40 ? 3.0 : 1.0;
  o.start = pick & 0x80 ? 0.3 : 0;
  layer.set_options(o);
  Context &ctx = engine();
  if (layer.open(path.c_str())) {
    if (layer.open_error().size()) fail("open succeeded with an error: %s", layer.open_error().c_str());
    if (layer.init(&ctx)) {
      const ScreenGeometry &g = layer.geo;
      if (!g.w || !g.h || g.w > 640 || g.h > 480 || g.pitch != g.w * 4u || g.size != g.w * g.h * 4u)
        fail("video geometry w %u h %u pitch %u size %u", g.w, g.h, g.pitch, g.size);
      for (int f = 1; f <= 12; f++) {
        ctx.lockstep = f <= 8;
        layer.frame_asked = ctx.frames + f;
        const uint8_t *frame = (const uint8_t *)layer.feed();
        if (!frame) fail("no frame at feed %d", f);
        volatile uint8_t last = frame[g.size - 1];  // the whole frame is there
        (void)last;
      }
      ctx.lockstep = false;
    }
  } else if (layer.open_error().find(path + ": ") != 0 ||
             layer.open_error().find('\n') != std::string::npos) {
    fail("refusal is not one line naming the file: %s", layer.open_error().c_str());
  }
  unlink(path.c_str());
  return 0;
}
