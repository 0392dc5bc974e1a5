#include "screenshot.h"

#include <unistd.h>

#include <cstdio>

std::string next_screenshot_name() {
  for (int i = 1; i <= 9999; i++) {
    char name[32];
    snprintf(name, sizeof name, "kolvex-%04d.png", i);
    if (access(name, F_OK) != 0) return name;
  }
  return "";
}
