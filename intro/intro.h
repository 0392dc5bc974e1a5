/*  Orvanta 2004 - the intro's controls
 *
 *  The objects the programme plays with and the few operations it is
 *  written in: run the engine for some seconds while watching for Escape,
 *  fade a layer, let the particle generator change its shape, press a key
 *  on a filter, find an image or the music in one of three places, and
 *  set the music library up. Everything here runs on the main thread.
 */
#ifndef ORVANTA_INTRO_H
#define ORVANTA_INTRO_H

#include <kolvex/kolvex.h>
#include <mikmod.h>

#include <csignal>
#include <string>
#include <vector>

// Installed data and plug-ins; the working directory and "data/" are the
// other places searched.
#define ORVANTA_DATA_DIR "/usr/local/share/orvanta"

extern Context *kolvex;
extern GenLayer *gen;
extern ScrollLayer *scroll;
extern Layer *numeri;
extern Layer *formica;
extern Filter *vertigo;
extern MODULE *climax;
extern SDL_Event event;
extern volatile sig_atomic_t sigquit;

// Signal handler: asks to quit; acted on at the next key press.
void fsigquit(int signum);

// Runs the engine `seconds` seconds (0: one frame), then reads one event.
// Escape, or a quit asked for earlier, closes the engine and ends the
// process with status 1.
void cafudda(int seconds);

// Fade `layer` towards `target` (only its low 8 bits count: 256 is 0, no
// fade) one alpha step per frame, in the alpha blend; runs 2 seconds. A
// target the alpha is already at or beyond is no fade.
void fade_in(Layer *layer, int target);
void fade_out(Layer *layer, int target);

// Fades the generator down, gives it a new shape (its mix one step up when
// `up`), fades it up again: 8 seconds. Nothing without a generator.
void mutate(bool up);

// Presses `key` on the filter's plug-in `times` times; null does nothing.
void keypress(SDLKey key, Filter *filter, int times);

// An initialised image layer for `name` (not listed, not started), or null,
// also when the file was found but gave no picture at all.
Layer *load_img(const char *name);
// The module `name`, or null.
MODULE *load_music(const char *name);
// Library settings, drivers and loaders, output on. A library that cannot
// start ends the process with status -1.
void music_setup();
// Stops the music and shuts the library down, the module freed first: at
// a quit and at the normal end.
void music_teardown();

// Takes `layer` out of the engine's list, ends its feed thread and deletes
// it. A thread that will not end (logged) keeps its layer alive.
void drop_layer(Layer *layer);

// The places a data file is looked for, in order: the name as given, the
// installed directory, "data/".
std::vector<std::string> data_places(const char *name);

// The programme: set-up (engine, music, data: 14 seconds of frames), then
// the sixteen scenes (212 seconds). The engine stays open afterwards.
// orvanta_open() is the set-up's first step, the engine opened at 640x480
// (an assertion when it cannot be): a program that hooks the engine's
// frames calls it first, orvanta_setup() then goes on from there.
void orvanta_open();
void orvanta_setup();
void orvanta_scenes();

#endif
