/*  kolvex - the player's keys
 *
 *  The key map: a selected layer of the stack and what each key does to
 *  it or to the engine. Every change comes back as one short line, which
 *  the player shows on the OSD's bottom line.
 *
 *    Tab, Shift-Tab, 1-9   select a layer (1 is the bottom one)
 *    b / B                 next / previous blit mode
 *    + / -                 alpha up / down by 16 (in the ALPHA mode)
 *    f                     fade out to 0, or back in to the alpha and mode
 *                          the layer had
 *    h                     hide or show
 *    m                     next magnification (1x, 2x, 3x)
 *    s                     asks for a PNG screenshot (the player takes it)
 *    Space                 pause or resume
 *    Esc, q                quit
 *  Any other key goes to the selected layer's keypress(), then to the
 *  kbd_input() of each of its filters.
 *
 *  Main thread only, between frames.
 */
#ifndef KOLVEX_PLAYER_KEYS_H
#define KOLVEX_PLAYER_KEYS_H

#include <SDL.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "context.h"

class KeyMap {
 public:
  // `stack`: the layers bottom first, as numbered for the keys.
  KeyMap(Context &ctx, std::vector<Layer *> stack);

  // Acts on one key; the line telling what changed, empty if nothing did.
  std::string press(const SDL_keysym &key);
  // After every frame: a fade-out the engine has taken down to 1 (its
  // lowest target) is finished at 0.
  void settle();

  Layer *selected() const { return stack_.empty() ? nullptr : stack_[sel_]; }
  size_t selected_index() const { return sel_; }
  bool paused = false;
  bool quit = false;
  bool screenshot = false;  // asked for, not taken yet

 private:
  std::string select(size_t i);
  std::string cycle_blit(int step);
  std::string change_alpha(int step);
  std::string fade();
  std::string hide();
  std::string magnify();
  std::string pass_on(const SDL_keysym &key);
  std::string label() const;  // "layer 2 code.png"

  Context &ctx_;
  std::vector<Layer *> stack_;
  size_t sel_ = 0;
  // A fade out turns the layer to ALPHA; what it was, for the fade back.
  struct Look {
    int blit, alpha;
  };
  std::map<Layer *, Look> faded_;
  std::map<Layer *, bool> fading_out_;  // true until the fade has reached 0
  // A layer's own blend (OVER, a frei0r mixer) while b/B shows the nine
  // modes: it comes back after the last of them.
  std::map<Layer *, std::unique_ptr<LayerBlend>> parked_;
  std::string mode(Layer *l) const;
};

#endif
