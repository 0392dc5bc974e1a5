#include "screenshot.h"

#include <png.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

bool write_png(const std::string &path, const uint8_t *bgrx, int w, int h, int pitch) {
  std::vector<uint8_t> bgr((size_t)w * h * 3);
  for (int y = 0; y < h; y++) {
    const uint8_t *s = bgrx + (size_t)y * pitch;
    uint8_t *d = &bgr[(size_t)y * w * 3];
    for (int x = 0; x < w; x++) memcpy(d + 3 * x, s + 4 * x, 3);
  }
  png_image image;
  memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = (png_uint_32)w;
  image.height = (png_uint_32)h;
  image.format = PNG_FORMAT_BGR;
  bool ok = png_image_write_to_file(&image, path.c_str(), 0, bgr.data(), w * 3, nullptr) != 0;
  png_image_free(&image);
  return ok;
}

std::string next_screenshot_name() {
  for (int i = 1; i <= 9999; i++) {
    char name[32];
    snprintf(name, sizeof name, "kolvex-%04d.png", i);
    if (access(name, F_OK) != 0) return name;
  }
  return "";
}
