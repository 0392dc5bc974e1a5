/*  Orvanta 2004 - the intro
 *
 *  No options (arguments are ignored); Escape ends it with status 1, the
 *  end of the programme with 0.
 */
#include "intro.h"

// SDL maps this to SDL_main on the platforms that need it.
int main(int, char **) {
  const double start = dtime();
  orvanta_setup();
  orvanta_scenes();
  notice("%lu frames in %.0f seconds", kolvex->frames, dtime() - start);
  delete kolvex;
  music_teardown();  // as on a quit
  return 0;
}
