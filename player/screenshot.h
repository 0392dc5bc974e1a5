/*  kolvex - screenshots
 *
 *  One picture in the layer format (32 bits per pixel, bytes blue, green,
 *  red, fourth) written as an 8-bit RGB PNG file; the fourth byte is left
 *  out.
 */
#ifndef KOLVEX_PLAYER_SCREENSHOT_H
#define KOLVEX_PLAYER_SCREENSHOT_H

#include <cstdint>
#include <string>

bool write_png(const std::string &path, const uint8_t *bgrx, int w, int h, int pitch);

// "kolvex-0001.png", "kolvex-0002.png" ...: the first name not taken in
// the working directory; empty when all 9999 are.
std::string next_screenshot_name();

#endif
