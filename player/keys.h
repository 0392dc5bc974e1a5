/*  kolvex - the player's keys
 *
 *  The key map: each key is a change of the control tree (controls.h), the
 *  same change OSC or a replay would make. The line the tree tells comes
 *  back for the window's status line.
 *
 *    Tab, Shift-Tab, 1-9   select a layer (1 is the bottom one)
 *    b / B                 next / previous blit mode (the nine, OVER, and
 *                          the blend the layer was given)
 *    + / -                 alpha up / down by its step, 16 of 255
 *    f                     fade out to 0, or back in to the alpha and mode
 *                          the layer had
 *    h                     hide or show
 *    m                     next magnification (1x, 2x, 3x)
 *    s                     asks for a PNG screenshot (the player takes it)
 *    Space                 pause or resume
 *    t                     a tap of the tempo
 *    L (Shift-l)           learn: the next MIDI control moved drives the
 *                          selected layer's row a key last stepped (alpha
 *                          when none)
 *    Esc, q                quit
 *  Any other key goes to the selected layer's keypress(), then to the
 *  kbd_input() of each of its filters; one none of them takes changes
 *  nothing and is not recorded. Modifiers alone (Shift, Ctrl, Alt, the
 *  lock keys) do nothing.
 *
 *  Main thread only, between frames.
 */
#ifndef KOLVEX_PLAYER_KEYS_H
#define KOLVEX_PLAYER_KEYS_H

#include <SDL.h>

#include <string>

#include "controls.h"

class KeyMap {
 public:
  explicit KeyMap(Controls &controls) : c_(controls) {}

  // Acts on one key; the line telling what changed, empty if nothing did.
  std::string press(const SDL_keysym &key);

  Layer *selected() const { return c_.size() ? c_.layer(c_.selected()) : nullptr; }
  size_t selected_index() const { return c_.selected(); }
  bool paused() const { return c_.paused; }
  bool quit() const { return c_.quit; }

 private:
  std::string set(const std::string &path, const ControlArgs &args = {});
  std::string on_layer(const std::string &what, const ControlArgs &args = {});
  // The selected layer's row stepped by its table (step_param).
  std::string step(const std::string &row, int dir);

  Controls &c_;
  std::string stepped_ = "alpha";  // the row a key last stepped
};

#endif
