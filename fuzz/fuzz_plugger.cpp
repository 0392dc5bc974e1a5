// The plug-in loader on arbitrary file contents: the bytes become
// "X-darwin.so" in a directory of their own, which a registry scans. Such
// a file must be refused with the loader's log line and leave no filter.
//
// The dynamic loader is not fuzzed: an ELF file it accepts runs its
// constructors in this process, and its own parsing of a crafted ELF is
// not ours to test. So an input that starts with the ELF magic is cut to
// fewer bytes than an ELF header holds, which the loader refuses before
// mapping anything; every other input is written as it is (the loader
// refuses those on the magic).
#include <elf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "jutils.h"
#include "plugger.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fz::engine();
  std::string dir = fz::scratch_dir() + "/plugins";
  if (mkdir(dir.c_str(), 0755) != 0) fz::fail("mkdir %s", dir.c_str());
  set_debug(1);  // the refusal is a warning
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size >= SELFMAG && memcmp(data, ELFMAG, SELFMAG) == 0 && size >= sizeof(Elf32_Ehdr))
    size = sizeof(Elf32_Ehdr) - 1;  // the smaller header: short for either class
  const std::string dir = fz::scratch_dir() + "/plugins";
  const std::string path = fz::write_file("plugins/X-darwin.so", data, size);

  Plugger plugger({dir.c_str()});
  if (plugger.refresh() != 0) fz::fail("refresh of %s failed", dir.c_str());
  if (plugger.slots[0]) fz::fail("a filter was registered from %zu bytes", size);
  if (strncmp(last_msg(), "can't open plugin: ", 19) != 0)
    fz::fail("no refusal logged, last message: %s", last_msg());
  if (!strstr(last_msg(), "X-darwin.so")) fz::fail("refusal does not name the file: %s", last_msg());
  unlink(path.c_str());
  return 0;
}
