// Any bytes as a show file: parsed, and what parses played through the
// control tree frame by frame. A refusal is one line naming a line of the
// file; an accepted show has its changes in order.
#include <cstring>

#include "fuzz_support.h"
#include "replay.h"

int fz::one(const uint8_t *data, size_t size) {
  static kt::TestLayer layer;
  static std::unique_ptr<Controls> controls;
  if (!controls) {
    if (!layer.init(&engine())) fail("test layer");
    layer.source = "layer_gen";
    engine().layers.prepend(&layer);
    controls.reset(new Controls(engine()));
  }
  Show show;
  std::string err;
  const std::string text((const char *)data, size);
  if (!parse_show(text, "show", show, err)) {
    if (err.compare(0, 5, "show:") != 0 || err.find('\n') != std::string::npos)
      fail("refused as \"%s\"", err.c_str());
    return 0;
  }
  if (!err.empty()) fail("accepted with \"%s\"", err.c_str());
  for (size_t i = 1; i < show.changes.size(); i++)
    if (show.changes[i].frame < show.changes[i - 1].frame) fail("frames go back at %zu", i);
  ShowPlayer player(show, true);
  const int64_t last = show.changes.empty() ? 0 : show.changes.back().frame;
  player.poll(*controls, last);
  return 0;
}
