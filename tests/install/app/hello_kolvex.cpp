// Opens a small screen, composites one layer and checks that
// its colour reached the screen. Exit status 0 when it did.
#include <kolvex/kolvex.h>

#include <cstdio>
#include <cstring>
#include <vector>

class Flat : public Layer {
 public:
  bool open(const char *) override { return true; }
  bool init(Context *ctx) override {
    _init(ctx, 32, 16, 32);
    pixels.assign(geo.size, 0);
    for (size_t i = 0; i < pixels.size(); i += 4) pixels[i + 2] = 0xC0;  // red
    return true;
  }
  void close() override {}
  bool keypress(SDL_keysym *) override { return false; }
  void *feed() override { return pixels.data(); }
  std::vector<unsigned char> pixels;
};

int main() {
  Context ctx;
  if (!ctx.init(64, 48)) return 2;
  Flat *layer = new Flat;
  layer->init(&ctx);
  layer->set_blit(BLIT_RED);
  ctx.layers.add(layer);
  // The layer's thread delivers its first frame after the first signal,
  // so give it a few frames.
  const unsigned char *centre = (const unsigned char *)ctx.screen->coords(32, 24);
  int ok = 0;
  for (int i = 0; i < 100 && !ok; i++) {
    ctx.cafudda(0);
    ok = centre[2] == 0xC0;
    SDL_Delay(5);
  }
  ctx.close();
  printf("hello_kolvex: %s\n", ok ? "red layer on screen" : "layer missing");
  return ok ? 0 : 1;
}
