// The plug-in loader on any file contents: the bytes become "X-darwin.so"
// in a directory a registry scans; it must be refused with the loader's
// log line and leave no filter. The dynamic loader itself is not fuzzed:
// an ELF file it accepts runs its constructors in this process. So an
// input that starts with the ELF magic is cut to fewer bytes than an ELF
// header holds, refused before anything is mapped; any other input is
// written as it is (refused on the magic).
#include <elf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "fuzz_support.h"

void fz::setup() {
  if (mkdir((scratch_dir() + "/plugins").c_str(), 0755) != 0) fail("mkdir plugins");
  set_debug(1);  // the refusal is a warning
}

int fz::one(const uint8_t *data, size_t size) {
  if (size >= sizeof(Elf32_Ehdr) && memcmp(data, ELFMAG, SELFMAG) == 0)
    size = sizeof(Elf32_Ehdr) - 1;  // the smaller header: short for either class
  const std::string path = write_file("plugins/X-darwin.so", data, size);
  Plugger plugger({(scratch_dir() + "/plugins").c_str()});
  if (plugger.refresh() != 0) fail("refresh failed");
  if (plugger.slots[0]) fail("a filter was registered from %zu bytes", size);
  if (strncmp(last_msg(), "can't open plugin: ", 19) != 0 || !strstr(last_msg(), "X-darwin.so"))
    fail("no refusal naming the file logged, last message: %s", last_msg());
  unlink(path.c_str());
  return 0;
}
