// The intro's quit path in-process: events pushed into SDL's queue, read by
// the intro's step at its end. Each row runs in a child process, since a
// quit ends the process.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

#include "intro.h"

namespace {

enum Setup { ENGINE_ONLY, WITH_MUSIC };

struct Row {
  const char *name;
  Setup setup;
  bool interrupt;    // a SIGINT before the step
  int event;         // SDL event type pushed before the step, 0 none
  SDLKey key;        // its key for SDL_KEYDOWN
  bool quits;        // the step ends the process with status 1
};

const Row kRows[] = {
    {"escape at the first step, before the music", ENGINE_ONLY, false, SDL_KEYDOWN, SDLK_ESCAPE, true},
    {"escape once the music plays", WITH_MUSIC, false, SDL_KEYDOWN, SDLK_ESCAPE, true},
    {"interrupt, then any key", ENGINE_ONLY, true, SDL_KEYDOWN, SDLK_a, true},
    {"interrupt, then any key, music on", WITH_MUSIC, true, SDL_KEYDOWN, SDLK_SPACE, true},
    {"interrupt and no key: runs on", ENGINE_ONLY, true, 0, SDLK_UNKNOWN, false},
    {"another key: runs on", ENGINE_ONLY, false, SDL_KEYDOWN, SDLK_a, false},
    {"the window's close button: runs on", ENGINE_ONLY, false, SDL_QUIT, SDLK_UNKNOWN, false},
};

// One step of the intro as its set-up begins; exits 0 when the step returns.
void step(const Row &r) {
  kolvex = new Context();
  signal(SIGINT, fsigquit);
  if (!kolvex->init(64, 48)) exit(3);
  if (r.setup == WITH_MUSIC) music_setup();
  if (r.interrupt) raise(SIGINT);
  if (r.event) {
    SDL_Event e = {};
    e.type = (Uint8)r.event;
    e.key.keysym.sym = r.key;
    if (SDL_PushEvent(&e) != 0) exit(4);
  }
  cafudda(0);
  exit(0);
}

TEST(IntroQuit, EveryWayInAndOut) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (const Row &r : kRows) {
    SCOPED_TRACE(r.name);
    EXPECT_EXIT(step(r), ::testing::ExitedWithCode(r.quits ? 1 : 0), "");
  }
}

}  // namespace
