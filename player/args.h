/*  kolvex - the player's command line
 *
 *    kolvex [OPTIONS] LAYER [LAYER-OPTIONS] [LAYER [LAYER-OPTIONS]]...
 *
 *  Read with getopt_long, keeping the order of the arguments: a layer
 *  option applies to the LAYER before it, every other option may stand
 *  anywhere. The result is a plain description of what to play; nothing
 *  is opened or loaded here.
 */
#ifndef KOLVEX_PLAYER_ARGS_H
#define KOLVEX_PLAYER_ARGS_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "blit.h"
#include "params.h"
#include "render_session.h"

// One layer of the stack, as named on the command line.
struct LayerSpec {
  std::string source;                // a PNG file or layer_gen, for the factory
  int blit = 1;                      // 1..9 (BlitMode); --alpha alone gives 9
  std::string blend;                 // --blit OVER or a frei0r mixer (make_blend)
  int alpha = 255;                   // 0..255
  std::vector<std::string> effects;  // plug-in names, chained in this order
  bool has_pos = false;              // else the layer stays centred
  int x = 0, y = 0;
  std::vector<std::string> args;     // its options as given, for a record
  // Settings of the kind's own rows (params.h), in the order given:
  // --speed 2 is "video/speed" 2, --fit is "video/size" fit. Applied
  // before the layer starts; a row its kind does not have is refused then.
  struct Setting {
    std::string option;  // "--speed", for what is told
    std::string row;
    ParamArgs args;
  };
  std::vector<Setting> settings;
};

struct PlayerOptions {
  std::vector<LayerSpec> layers;  // the first at the bottom, the last on top
  int width = 640, height = 480;
  bool size_given = false;  // --size named
  // The canvas (engine/canvas.h): the size the show is made for, 0 for the
  // screen's (a replay's is its recorded size), and whether it fills the
  // screen (--fill before any layer) or is letterboxed.
  int canvas_w = 0, canvas_h = 0;
  bool fill = false;
  int fps = 24;
  int seconds = 0;    // 0: until quit
  int magnify = 1;    // 1, 2 or 3 times
  bool fullscreen = false;
  int threads = 0;  // the frame's worker threads (worker_pool.h); 0: the cores
  std::string capture_dir;  // empty: no capture
  capture::CaptureSettings capture;  // --format, --crf, --preset
  std::string stream_url;     // empty: nothing sent out
  std::string stream_format;  // empty: what the URL tells
  bool has_seed = false;
  uint32_t seed = 0;
  std::string plugin_dir;   // empty: $KOLVEX_PLUGIN_DIR, else the installed one
  bool list_effects = false;
  // Control and replay (controls.h, osc.h, replay.h).
  int osc_port = 0;          // 0: no OSC server
  std::string osc_bind = "127.0.0.1";
  std::string osc_feedback;  // HOST:PORT every change is sent to, or empty
  std::string record_file;   // the stack and every change, as played
  std::string replay_file;   // a record played again
  int64_t frames = 0;        // exact length without --seconds (a replay's end)
  bool list_controls = false;
  std::vector<std::string> banks;  // --bank: what a show may load while it plays
  // Music and controllers (show_inputs.h).
  std::string audio_file;  // --audio: a sound file played and analysed
  std::string audio_in;    // --audio-in: "jack" or "jack:PORT"
  std::string midi_port;   // --midi: a port's name or part of it
  bool list_midi = false;
  // The modulator's (modulator.h): 'NAME SHAPE RATE' and 'SOURCE PATH ...',
  // their form checked here, their sources and paths once the stack is made.
  std::vector<std::string> lfos, maps;
  // The control surface in the browser (web/surface.h): -1 none, 0 any
  // free port; loopback unless bound elsewhere, which wants a token.
  int http_port = -1;
  std::string http_bind = "127.0.0.1";
  std::string http_token;
  std::string http_root;  // the page's folder; empty: the installed one
  bool quiet = false;       // errors only
  int verbose = 0;          // -v: notices and warnings; -vv: traces
  bool help = false;
  bool version = false;
};

// Reads argv into `out`. False on bad input, with one line in `err` that
// names the argument and what is wrong (the caller ends with status 2).
bool parse_args(int argc, char *const argv[], PlayerOptions &out, std::string &err);

void print_usage(FILE *out);  // options, keys, and the layer kinds

#endif
