/*  Kolvex - the effect plug-in interface
 *
 *  An effect plug-in is a shared object whose file name contains
 *  "-darwin.so" and which exports the functions below under their plain C
 *  names. The engine loads every plug-in of its plug-in directory when it
 *  starts; a program picks one by name, calls its init() with the geometry
 *  of a layer and then runs its process() on every drawn frame of that
 *  layer.
 *
 *  Usable from C and C++: include it in the file that defines the entry
 *  points and they get C linkage and default visibility.
 *
 *  Frames are 32 bits per pixel, bytes in memory blue, green, red, fourth
 *  byte; geo->w * geo->h pixels, geo->pitch (w * 4) bytes per line.
 *
 *  Everything a plug-in keeps is per loaded file: two filters opened from
 *  the same file share the plug-in's state.
 */
#ifndef KOLVEX_PLUGIN_H
#define KOLVEX_PLUGIN_H

#include <stdint.h>

#include <SDL_keyboard.h>

#include "geometry.h"

#define KOLVEX_PLUGIN_SUFFIX "-darwin.so"

#if defined(__GNUC__)
#define KOLVEX_PLUGIN_EXPORT __attribute__((visibility("default")))
#else
#define KOLVEX_PLUGIN_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Optional. Called once when the plug-in is opened; the strings are not
 * copied and must stay valid while the plug-in is loaded. getname() is
 * what programs pick the plug-in by (case does not matter). */
KOLVEX_PLUGIN_EXPORT const char *getname(void);
KOLVEX_PLUGIN_EXPORT const char *getauthor(void);
KOLVEX_PLUGIN_EXPORT const char *getinfo(void);
KOLVEX_PLUGIN_EXPORT uint32_t getversion(void);

/* Required. Set up for frames of this geometry; called again when the
 * filter is attached to another layer. The record belongs to the layer:
 * copy what you need. 0 on success. */
KOLVEX_PLUGIN_EXPORT int init(ScreenGeometry *geo);

/* Required, although the engine never calls it: releases what init()
 * acquired, for programs that drive a plug-in themselves. 0 on success. */
KOLVEX_PLUGIN_EXPORT int clean(void);

/* Required. Called with the layer's frame once per drawn frame. Return a
 * frame of the geometry given to init(): either the argument, changed in
 * place, or a buffer of the plug-in's own that stays valid until the next
 * call. Do not keep the argument: it may change or go away after the
 * call. A null result means "no frame": the layer keeps the one it had. */
KOLVEX_PLUGIN_EXPORT void *process(void *frame);

/* Optional. A key pressed while the filter runs; non-zero when it was
 * used. Without it key presses are ignored. */
KOLVEX_PLUGIN_EXPORT int kbd_input(SDL_keysym *key);

#ifdef __cplusplus
}
#endif

#endif
