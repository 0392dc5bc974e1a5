#include "fuzz_support.h"

#include <fcntl.h>
#include <ftw.h>
#include <sanitizer/common_interface_defs.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// SDL leaks a few hundred bytes in its own set-up; leaks of ours are never
// suppressed. Built in, so that a target run by hand needs no options.
extern "C" const char *__lsan_default_suppressions() { return "leak:libSDL2\n"; }

namespace fz {

namespace {

int remove_one(const char *path, const struct stat *, int, struct FTW *) {
  return ::remove(path);
}

void remove_scratch() {
  const std::string &dir = scratch_dir();
  if (chdir("/") != 0) return;
  nftw(dir.c_str(), remove_one, 16, FTW_DEPTH | FTW_PHYS);
}

}  // namespace

// Through the sanitizers' report channel: it stays open when the fuzzer
// closes stderr (-close_fd_mask=2) to silence the engine's log.
void fail(const char *format, ...) {
  char text[1024];
  va_list ap;
  va_start(ap, format);
  int n = snprintf(text, sizeof text, "fuzz check failed: ");
  vsnprintf(text + n, sizeof text - n, format, ap);
  va_end(ap);
  __sanitizer_report_error_summary(text);
  abort();
}

const std::string &scratch_dir() {
  static std::string *dir = [] {
    const char *tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kolvex-fuzz-XXXXXX";
    if (!mkdtemp(&pattern[0])) {
      perror("mkdtemp");
      abort();
    }
    auto *d = new std::string(pattern);
    atexit(remove_scratch);
    return d;
  }();
  return *dir;
}

std::string write_file(const std::string &name, const uint8_t *data, size_t size) {
  std::string path = scratch_dir() + "/" + name;
  FILE *f = fopen(path.c_str(), "wb");
  if (!f) fail("cannot write %s", path.c_str());
  if (size && fwrite(data, 1, size, f) != size) fail("short write to %s", path.c_str());
  fclose(f);
  return path;
}

InScratch::InScratch() : saved_(open(".", O_RDONLY | O_DIRECTORY)) {
  if (saved_ < 0 || chdir(scratch_dir().c_str()) != 0) fail("chdir %s", scratch_dir().c_str());
}

InScratch::~InScratch() {
  if (fchdir(saved_) != 0) fail("cannot return to the working directory");
  ::close(saved_);
}

Context &engine() {
  static Context *ctx = [] {
    // A fuzz run is headless: the harness, not the engine, picks the drivers.
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    // The plug-in scan reads the working directory: let it find an empty
    // one. Then back, for the fuzzer's own relative paths.
    InScratch scan_here;
    auto *c = new Context();
    if (!c->init(640, 480)) fail("the engine does not start");
    return c;
  }();
  return *ctx;
}

SdlScreen &screen() { return *static_cast<SdlScreen *>(engine().screen); }

GuardedSurface::GuardedSurface(SdlScreen &screen)
    : screen_(screen), saved_(screen.draw_surface), surface_(nullptr) {
  store_.assign(2 * kPad + (size_t)screen.w * screen.h * 4, kGuard);
  surface_ = SDL_CreateRGBSurfaceFrom(pixels(), screen.w, screen.h, 32, screen.w * 4,
                                      screen.rmask, screen.gmask, screen.bmask, 0);
  if (!surface_) fail("no guarded surface: %s", SDL_GetError());
  screen.draw_surface = surface_;
}

GuardedSurface::~GuardedSurface() {
  screen_.draw_surface = saved_;
  SDL_FreeSurface(surface_);
}

long GuardedSurface::damaged() const {
  static const std::vector<uint8_t> intact(kPad, kGuard);
  const uint8_t *after = store_.data() + kPad + bytes();
  if (memcmp(store_.data(), intact.data(), kPad) == 0 && memcmp(after, intact.data(), kPad) == 0)
    return 0;
  for (size_t i = 0; i < kPad; i++) {
    if (store_[i] != kGuard) return (long)i - (long)kPad;
    if (store_[kPad + bytes() + i] != kGuard) return (long)(bytes() + i);
  }
  return 0;
}

}  // namespace fz
