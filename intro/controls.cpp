#include "intro.h"

#include <cstdio>
#include <cstdlib>

Context *kolvex = nullptr;
GenLayer *gen = nullptr;
ScrollLayer *scroll = nullptr;
Layer *numeri = nullptr;
Layer *formica = nullptr;
Filter *vertigo = nullptr;
MODULE *climax = nullptr;
SDL_Event event;
volatile sig_atomic_t sigquit = 0;

// MikMod_Exit on a library that never started crashes: an Escape read by
// the first step comes before the music set-up.
static bool music_started = false;

void fsigquit(int) { sigquit = 1; }

void cafudda(int seconds) {
  kolvex->cafudda(seconds);
  // One event per step, and only here: a key pressed during the frames is
  // seen when the step ends.
  if (!SDL_PollEvent(&event) || event.type != SDL_KEYDOWN) return;
  if (event.key.keysym.sym == SDLK_ESCAPE) sigquit = 1;
  if (!sigquit) return;
  kolvex->close();
  music_teardown();
  exit(1);
}

void music_teardown() {
  // The module's samples live in the library's mixer: freed with the
  // module, before the library itself goes.
  if (climax) Player_Free(climax);
  climax = nullptr;
  if (music_started) MikMod_Exit();
  music_started = false;
}

// A layer that could not be set up is null here: the programme keeps its
// timing, the fade's two seconds still run. The programme's own rules: the
// target's low 8 bits, and a fade only towards a target it has not passed,
// 0 being none.
void fade_in(Layer *layer, int target) {
  if (layer) {
    layer->set_blit(BLIT_ALPHA);
    if ((uint8_t)target > layer->alpha) layer->fade_in((uint8_t)target);
  }
  kolvex->cafudda(2);
}

void fade_out(Layer *layer, int target) {
  if (layer) {
    layer->set_blit(BLIT_ALPHA);
    const uint8_t to = (uint8_t)target;
    if (to && to < layer->alpha) layer->fade_out(to);
  }
  kolvex->cafudda(2);
}

void mutate(bool up) {
  if (!gen) return;
  fade_out(gen, 3);
  cafudda(2);
  gen->blossom_recal(up);
  fade_in(gen, 99);
  cafudda(2);
}

void keypress(SDLKey key, Filter *filter, int times) {
  if (!filter) return;
  SDL_keysym sym = {};
  sym.sym = key;
  for (int i = 0; i < times; i++) filter->kbd_input(&sym);
}

// ---------------------------------------------------------------------------
// Data: the name as given, then the installed directory, then "data/"
// ---------------------------------------------------------------------------
std::vector<std::string> data_places(const char *name) {
  return {name, std::string(ORVANTA_DATA_DIR) + "/" + name, std::string("data/") + name};
}

Layer *load_img(const char *name) {
  LayerPtr layer;
  for (const std::string &place : data_places(name))
    if ((layer = create_layer(place.c_str()))) break;
  if (!layer) {
    error("image not found: %s", name);
    return nullptr;
  }
  // A picture libpng could not decode at all leaves the layer without a
  // frame: its thread would never deliver a first one and the frame loop
  // would wait for it for ever. A partly decoded picture is shown as it is.
  if (!layer->init(kolvex) && !layer->feed_buffer) {
    error("image not usable: %s", name);
    return nullptr;
  }
  return layer.release();  // the engine's list takes it
}

MODULE *load_music(const char *name) {
  const std::vector<std::string> places = data_places(name);
  MODULE *module = nullptr;
  for (size_t i = 0; i < places.size() && !module; i++) {
    module = Player_Load(places[i].c_str(), 128, 0);
    if (module) break;
    if (i + 1 < places.size()) {
      func("music file not found: %s", places[i].c_str());
    } else {
      error("music file not found: %s", places[i].c_str());
      return nullptr;
    }
  }
  func("loaded %s ch:%i pat:%i ins:%i smp:%i", name, module->numchn, module->numpat,
       module->numins, module->numsmp);
  return module;
}

void music_setup() {
  md_mixfreq = 44100;
  md_device = 0;  // the library picks the output
  md_pansep = 128;
  md_reverb = 6;
  md_mode = DMODE_16BITS | DMODE_STEREO | DMODE_SOFT_SNDFX | DMODE_SOFT_MUSIC | DMODE_SURROUND;
  static_assert((DMODE_16BITS | DMODE_STEREO | DMODE_SOFT_SNDFX | DMODE_SOFT_MUSIC |
                 DMODE_SURROUND) == 0x010F, "mixer mode");
  md_volume = 128;
  md_musicvolume = 128;
  md_sndfxvolume = 128;
  MikMod_RegisterAllDrivers();
  MikMod_RegisterAllLoaders();
  if (MikMod_Init("")) {
    error("aiacristo! mikmod error: %s\n", MikMod_strerror(MikMod_errno));
    exit(-1);
  }
  music_started = true;
  MikMod_EnableOutput();
  Player_SetVolume(100);
}

void drop_layer(Layer *layer) {
  if (!layer) return;
  layer->rem();
  if (layer->stop()) delete layer;
}
