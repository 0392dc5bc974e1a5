/*  kolvex - screenshots
 *
 *  The player's screenshots are PNG files in the working directory, written
 *  by the capture's PNG encoder (capture/png_writer.h).
 */
#ifndef KOLVEX_PLAYER_SCREENSHOT_H
#define KOLVEX_PLAYER_SCREENSHOT_H

#include <string>

// "kolvex-0001.png", "kolvex-0002.png" ...: the first name not taken in
// the working directory; empty when all 9999 are.
std::string next_screenshot_name();

#endif
