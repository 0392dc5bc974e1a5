/*  kolvex - the engine's player
 *
 *  Layers named on the command line, stacked with blit modes, alphas and
 *  effects, played live from the keyboard or captured frame by frame.
 *  Statuses: 0 played to the end or quit, 1 the screen or the capture
 *  failed or a signal stopped it, 2 bad input (nothing opened yet).
 */
#include <cstdio>
#include <string>

#include "args.h"
#include "blit_dispatch.h"
#include "jutils.h"
#include "midi_input.h"
#include "osc.h"
#include "player.h"
#include "replay.h"
#include "surface.h"

int main(int argc, char **argv) {
  PlayerOptions opt;
  std::string err;
  if (!parse_args(argc, argv, opt, err)) {
    fprintf(stderr, "kolvex: %s\n", err.c_str());
    return 2;
  }
  if (opt.help) {
    print_usage(stdout);
    return 0;
  }
  if (opt.version) {
    set_debug(1);  // a KOLVEX_KERNELS the processor does not run is told
    printf("kolvex %s\npixel kernels: %s", KOLVEX_VERSION, blit_kernels().name);
    const BlitKernels *sets[kBlitKernelSetsMax];
    const int n = blit_kernel_sets(sets, kBlitKernelSetsMax);
    printf(" (this processor runs");
    for (int i = 0; i < n; i++) printf(" %s", sets[i]->name);
    printf(")\n");
    return 0;
  }
  set_debug(opt.quiet ? 0 : opt.verbose);
  if (opt.list_effects) return list_effects(opt, stdout);
  if (opt.list_midi) {
    for (const std::string &port : midi_ports()) printf("%s\n", port.c_str());
    return 0;
  }
  if (opt.list_controls) {
    Controls::list(stdout);
    return 0;
  }
  // A replay: the show's stack, with this command line's size and output.
  Show show;
  if (!opt.replay_file.empty()) {
    PlayerOptions played;
    if (!read_show(opt.replay_file, show, err) || !show_options(show, opt, played, err)) {
      fprintf(stderr, "kolvex: %s\n", err.c_str());
      return 2;
    }
    opt = played;
  }
  // A recorded show is seeded, so that it can be played again.
  if (!opt.record_file.empty() && !opt.has_seed) opt.has_seed = true, opt.seed = 2004;

  // The player is gone (and the engine has said goodbye) before an error
  // is told: it is the last line.
  int status;
  {
    Player player(opt);
    ShowRecorder recorder;
    if (!player.prepare(err))
      status = 2;
    else if (!player.open(err))
      status = 1;
    else if (!attach_controls(player, opt, show, recorder, err) ||
             (opt.http_port >= 0 && !attach_surface(player, opt, &recorder, err)))
      status = 2;
    else {
      status = player.run();
      recorder.end(player.frame());
    }
  }
  if (!err.empty()) fprintf(stderr, "kolvex: %s\n", err.c_str());
  return status;
}
