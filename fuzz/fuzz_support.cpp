#include "fuzz_support.h"

#include <fcntl.h>
#include <ftw.h>
#include <sanitizer/common_interface_defs.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>

// SDL leaks a few hundred bytes in its own set-up; leaks of ours are never
// suppressed. Built in, so that a target run by hand needs no options.
extern "C" const char *__lsan_default_suppressions() { return "leak:libSDL2\n"; }

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fz::engine();
  fz::setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  return fz::one(data, size);
}

namespace fz {

__attribute__((weak)) void setup() {}

// Through the sanitizers' report channel: it stays open when the fuzzer
// closes stderr (-close_fd_mask=2) to silence the engine's log.
void fail(const char *format, ...) {
  char text[1024] = "fuzz check failed: ";
  va_list ap;
  va_start(ap, format);
  vsnprintf(text + 19, sizeof text - 19, format, ap);
  va_end(ap);
  __sanitizer_report_error_summary(text);
  abort();
}

const std::string &scratch_dir() {
  static std::string *dir = [] {
    const char *tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kolvex-fuzz-XXXXXX";
    if (!mkdtemp(&pattern[0])) fail("mkdtemp %s", pattern.c_str());
    atexit([] {
      if (chdir("/") == 0)
        nftw(scratch_dir().c_str(), [](const char *p, const struct stat *, int, struct FTW *) {
          return ::remove(p);
        }, 16, FTW_DEPTH | FTW_PHYS);
    });
    return new std::string(pattern);
  }();
  return *dir;
}

std::string write_file(const std::string &name, const uint8_t *data, size_t size) {
  const std::string path = scratch_dir() + "/" + name;
  FILE *f = fopen(path.c_str(), "wb");
  if (!f || (size && fwrite(data, 1, size, f) != size)) fail("cannot write %s", path.c_str());
  fclose(f);
  return path;
}

InScratch::InScratch() : saved(open(".", O_RDONLY | O_DIRECTORY)) {
  if (saved < 0 || chdir(scratch_dir().c_str()) != 0) fail("chdir %s", scratch_dir().c_str());
}

InScratch::~InScratch() {
  if (fchdir(saved) != 0) fail("cannot return to the working directory");
  ::close(saved);
}

Context &engine() {
  static Context *ctx = [] {
    // A fuzz run is headless: the harness, not the engine, picks the drivers.
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    InScratch scan_here;  // the plug-in scan finds an empty directory
    auto *c = new Context();
    if (!c->init(640, 480)) fail("the engine does not start");
    return c;
  }();
  return *ctx;
}

SdlScreen &screen() { return *static_cast<SdlScreen *>(engine().screen.get()); }

}  // namespace fz
