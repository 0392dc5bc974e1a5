// A player made from a command line, as kolvex would make it, in-process.
#ifndef KOLVEX_TESTS_PLAYER_FIXTURE_H
#define KOLVEX_TESTS_PLAYER_FIXTURE_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "player.h"

namespace pt {

// Parsed, prepared and opened; null (the reason added as a failure) when
// any step refuses. `args` without the program's name.
inline std::unique_ptr<Player> open_player(std::vector<std::string> args, PlayerOptions &opt) {
  args.insert(args.begin(), "kolvex");
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(&a[0]);
  std::string err;
  if (!parse_args((int)argv.size(), argv.data(), opt, err)) {
    ADD_FAILURE() << err;
    return nullptr;
  }
  std::unique_ptr<Player> player(new Player(opt));
  if (!player->prepare(err) || !player->open(err)) {
    ADD_FAILURE() << err;
    return nullptr;
  }
  return player;
}

}  // namespace pt

#endif
