// Any bytes as an OSC packet for the player's control tree: messages,
// bundles within bundles, odd type tags, NaN and infinities, paths with
// every byte. Whatever arrives, the stack stays within its ranges.
#include "fuzz_support.h"
#include "osc.h"

namespace {

struct Stack {
  kt::TestLayer bottom, top;
  std::unique_ptr<Controls> controls;
  Stack() {
    if (!bottom.init(&fz::engine()) || !top.init(&fz::engine())) fz::fail("test layers");
    bottom.source = "bottom.png";
    top.source = "dir/top.png";
    fz::engine().layers.prepend(&bottom);  // position 1 on top
    fz::engine().layers.prepend(&top);
    controls.reset(new Controls(fz::engine()));
  }
};

}  // namespace

int fz::one(const uint8_t *data, size_t size) {
  static Stack stack;  // made once: the layers' set-up costs more than a run
  static OscHandler handler(true);
  handler.handle(*stack.controls, data, size);
  for (Layer *l : {(Layer *)&stack.bottom, (Layer *)&stack.top})
    if (!l->get_blend() && (l->blit < 1 || l->blit > 9)) fail("blit code %d", l->blit);
  if (engine().magnification < 0 || engine().magnification > 2)
    fail("magnification %d", engine().magnification);
  return 0;
}
