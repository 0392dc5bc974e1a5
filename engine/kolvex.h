/*  Kolvex - everything an intro needs, in one include. */
#ifndef KOLVEX_KOLVEX_H
#define KOLVEX_KOLVEX_H

#include "clock.h"
#include "jutils.h"
#include "linklist.h"
#include "geometry.h"
#include "jsync.h"
#include "layer.h"
#include "context.h"
#include "viewport.h"
#include "sdl_screen.h"
#include "blit.h"
#include "scale.h"
#include "osd.h"
#include "plugger.h"
#include "genlayer.h"
#include "scroll_layer.h"
#include "png_layer.h"
#include "factory.h"
#include "frei0r_effects.h"
#include "frei0r_layer.h"
#include "over_blend.h"
#if __has_include("video_layer.h")  // built with FFmpeg
#include "video_layer.h"
#endif

#endif
