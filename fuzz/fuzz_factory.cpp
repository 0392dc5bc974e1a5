// create_layer on any name, in a working directory where a few names are
// real files: pictures (also under names the factory takes for other
// kinds), a text file under a picture's name, an empty one, a directory
// named like a picture. Names are cut at the first NUL. Absolute names
// other than "/dev/..." (which the factory never opens) and names with
// ".." are left out: they reach files outside the scratch directory, and
// opening some of those (a FIFO) blocks.
#include <strings.h>
#include <sys/stat.h>

#include "fuzz_support.h"

void fz::setup() {
  const uint8_t picture[] = {  // 2x2, truecolour
      0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44,
      0x52, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x02, 0x08, 0x02, 0x00, 0x00, 0x00, 0xfd,
      0xd4, 0x9a, 0x73, 0x00, 0x00, 0x00, 0x11, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9c, 0x63, 0x60,
      0x60, 0x38, 0x01, 0x46, 0x36, 0x27, 0x80, 0x08, 0x00, 0x14, 0x72, 0x03, 0x99, 0x9f, 0xa7,
      0x73, 0xf1, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};
  for (const char *name : {"a.png", "B.PNG", "layer_gen.png", "movie.avi", "clip.MpEg"})
    write_file(name, picture, sizeof picture);
  for (const char *name : {"notes.png", "notes.txt", "xscreensaver", "empty.png"})
    write_file(name, (const uint8_t *)"not a picture\n", *name == 'e' ? 0 : 14);
  mkdir((scratch_dir() + "/folder.png").c_str(), 0755);
}

int fz::one(const uint8_t *data, size_t size) {
  const std::string name((const char *)data, strnlen((const char *)data, size));
  if (name.find("..") != std::string::npos) return -1;
  if (name[0] == '/' && strncasecmp(name.c_str(), "/dev/", 5) != 0) return -1;
  InScratch here;
  LayerPtr owned = create_layer(name.c_str());
  Layer *layer = owned.get();
  if (auto *png = dynamic_cast<PngLayer *>(layer)) {
    if (!png->file) fail("PNG layer for %s without its open file", name.c_str());
  } else if (layer && !dynamic_cast<GenLayer *>(layer)) {
    fail("layer of an unknown kind for %s", name.c_str());
  }
  return 0;
}
