// Video layers: what showing a clip costs against FFmpeg's own decoder, and
// four clips played live.
//
//  VideoLayer/clip_1280x720   every frame of a 5 s 1280x720 H.264 clip shown
//                             through the layer (decode + one conversion);
//                             CPU time of the whole process, all threads
//  FFmpeg/null_1280x720       `ffmpeg -i clip -f null -` on the same clip:
//                             the CPU time of the child
//  VideoLayer/four_640x480_live  four 640x480 clips composited live at
//                             24 fps for 5 s: screen frames that missed
//                             their slot, frames a decoder had not ready
//  VideoScaler/1920x1080_to/H/threads:N  one 1920x1080 frame of H.264
//                             converted for a layer H rows high (2160: a
//                             1080p clip in a 4K render, bicubic; 1080:
//                             at its size), in bands on a pool of N
//                             threads: wall time a frame
//
// Goals: the layer at most 1.5 times FFmpeg's CPU time; no missed slot.
// Read the "Time" column: CPU time per pass (manual time; the "CPU" column
// and the ratio table only see the benchmark's own thread). The clips are
// made by the ffmpeg command into a temp dir at start.
#include <sys/resource.h>
#include <unistd.h>

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "kolvex.h"
#include "video_decoder.h"
#include "video_scaler.h"
#include "worker_pool.h"

namespace {

namespace fs = std::filesystem;

double cpu_seconds(int who) {
  struct rusage u {};
  getrusage(who, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Clips {
  fs::path dir;
  std::string hd, sd[4], full_hd;
  bool ok = true;
  Clips() {
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    set_debug(0);
    char tmpl[] = "/tmp/kolvex_bench_video_XXXXXX";
    dir = mkdtemp(tmpl);
    hd = make("hd.mp4", "testsrc2=s=1280x720:r=25:d=5");
    full_hd = make("full_hd.mp4", "testsrc2=s=1920x1080:r=25:d=0.2");
    for (int i = 0; i < 4; i++)
      sd[i] = make("sd" + std::to_string(i) + ".mp4",
                   "testsrc2=s=640x480:r=" + std::to_string(24 + i * 2) + ":d=5");
  }
  ~Clips() { fs::remove_all(dir); }
  std::string make(const std::string &name, const std::string &source) {
    const std::string path = (dir / name).string();
    const std::string cmd = "ffmpeg -v error -nostdin -y -f lavfi -i " + source +
                            " -pix_fmt yuv420p -c:v libx264 -preset veryfast " + path;
    ok &= system(cmd.c_str()) == 0;
    return path;
  }
};

Clips &clips() {
  static Clips c;
  return c;
}

void LayerClip720p(benchmark::State &state) {
  if (!clips().ok) return state.SkipWithError("ffmpeg could not make the clip");
  Context ctx;
  if (!ctx.init(640, 480)) return state.SkipWithError("no screen");
  ctx.lockstep = true;             // every frame, waited for
  ctx.set_fps_interval(25);        // one screen frame per clip frame
  for (auto _ : state) {
    const double t0 = cpu_seconds(RUSAGE_SELF);
    std::string err;
    LayerPtr layer(make_layer(clips().hd.c_str(), err));
    VideoLayer *v = dynamic_cast<VideoLayer *>(layer.get());
    if (!v) return state.SkipWithError(err.c_str());
    VideoOptions o;
    o.once = true;
    v->set_options(o);
    v->init(&ctx);
    for (uint64_t f = 1; f < 125; f++) {
      v->frame_asked = ctx.frames + f;
      benchmark::DoNotOptimize(v->feed());
    }
    layer.reset();
    state.SetIterationTime(cpu_seconds(RUSAGE_SELF) - t0);
  }
  state.SetLabel("CPU s");
}

void FFmpegNull720p(benchmark::State &state) {
  if (!clips().ok) return state.SkipWithError("ffmpeg could not make the clip");
  const std::string cmd = "ffmpeg -v error -nostdin -i " + clips().hd + " -f null -";
  for (auto _ : state) {
    const double t0 = cpu_seconds(RUSAGE_CHILDREN);
    if (system(cmd.c_str()) != 0) return state.SkipWithError("ffmpeg failed");
    state.SetIterationTime(cpu_seconds(RUSAGE_CHILDREN) - t0);
  }
  state.SetLabel("CPU s");
}

void FourClipsLive(benchmark::State &state) {
  if (!clips().ok) return state.SkipWithError("ffmpeg could not make the clips");
  for (auto _ : state) {
    Context ctx;
    if (!ctx.init(640, 480)) return state.SkipWithError("no screen");
    std::vector<VideoLayer *> videos;
    for (const std::string &path : clips().sd) {
      std::string err;
      LayerPtr l = make_layer(path.c_str(), err);
      VideoLayer *v = dynamic_cast<VideoLayer *>(l.get());
      if (!v || !v->init(&ctx)) return state.SkipWithError(err.c_str());
      v->set_blit(BLIT_ADD);
      ctx.layers.add(l.release());
      videos.push_back(v);
    }
    // The frame loop's own pacing, one frame at a time so that each slot
    // is checked: a frame done after its slot's end is a missed one.
    const auto slot = std::chrono::microseconds(ctx.fps_usec);
    const double t0 = cpu_seconds(RUSAGE_SELF);
    auto next = std::chrono::steady_clock::now() + slot;
    int missed = 0;
    for (int f = 0; f < 5 * 24; f++) {
      ctx.cafudda(0);
      const auto done = std::chrono::steady_clock::now();
      if (f > 0 && done > next) missed++;  // the first frame starts the threads
      if (done < next) std::this_thread::sleep_until(next);
      next += slot;
    }
    uint64_t late = 0;
    for (VideoLayer *v : videos) late += v->late_frames();
    state.SetIterationTime(cpu_seconds(RUSAGE_SELF) - t0);
    state.counters["missed_slots"] = missed;
    state.counters["late_frames"] = (double)late;
    ctx.close();
  }
  state.SetLabel("CPU s");
}

void Scale1080p(benchmark::State &state) {
  if (!clips().ok) return state.SkipWithError("ffmpeg could not make the clip");
  VideoDecoder decoder;
  std::string err;
  FramePtr frame;
  double pts, dur;
  if (!decoder.open(clips().full_hd, err) || decoder.next(frame, pts, dur, err) != 1)
    return state.SkipWithError(err.c_str());
  const int h = (int)state.range(0), w = h * 16 / 9;
  const int flags = h == frame->height ? SWS_POINT : SWS_BICUBIC | SWS_FULL_CHR_H_INT;
  WorkerPool pool((int)state.range(1));
  VideoScaler scaler;
  std::vector<uint8_t> out((size_t)w * h * 4);
  for (auto _ : state)
    if (!scaler.scale(frame.get(), frame->format, {SWS_CS_ITU709, false}, flags, out.data(), w, h,
                      &pool))
      return state.SkipWithError("libswscale refused");
  state.SetLabel(std::to_string(scaler.bands()) + " bands");
}

}  // namespace

BENCHMARK(Scale1080p)->Name("VideoScaler/1920x1080_to")->ArgNames({"h", "threads"})
    ->ArgsProduct({{2160, 1080}, {1, 2}})->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(LayerClip720p)->Name("VideoLayer/clip_1280x720")->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(FFmpegNull720p)->Name("FFmpeg/null_1280x720")->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(FourClipsLive)->Name("VideoLayer/four_640x480_live")->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
KOLVEX_BENCH_MEMCPY_FLOOR();
