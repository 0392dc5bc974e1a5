// The player's keys, pressed through SDL's event queue while it plays, and
// what they do to the layers and the OSD's bottom line.
#include <gtest/gtest.h>

#include "player.h"
#include "test_support.h"

namespace {

void push_key(SDLKey sym, SDLMod mod = KMOD_NONE) {
  SDL_Event e{};
  e.type = e.key.type = SDL_KEYDOWN;
  e.key.state = SDL_PRESSED;
  e.key.keysym.sym = sym;
  e.key.keysym.mod = mod;
  ASSERT_EQ(SDL_PushEvent(&e), 0);
}

class PlayerKeys : public ::testing::Test {
 protected:
  void SetUp() override {
    set_debug(0);
    char *argv[] = {(char *)"kolvex", (char *)"--fps", (char *)"100", (char *)"--size",
                    (char *)"320x240", (char *)"layer_gen", (char *)PLAYER_DATA_DIR "/ant.png",
                    (char *)"--alpha", (char *)"32"};
    std::string err;
    ASSERT_TRUE(parse_args(9, argv, opt, err)) << err;
    player.reset(new Player(opt));
    ASSERT_TRUE(player->prepare(err)) << err;
    ASSERT_TRUE(player->open(err)) << err;
    player->context()->lockstep = true;  // a layer's frame is made when step() returns
  }
  Layer *layer(int n) { return player->stack()[n - 1]; }
  std::string bottom_line() {
    Osd &osd = player->context()->osd;
    return osd.show_low ? osd.low_text : "";
  }
  PlayerOptions opt;
  std::unique_ptr<Player> player;
};

TEST_F(PlayerKeys, SelectBlitAlphaAndHideActOnTheSelectedLayer) {
  struct Row {
    SDLKey sym;
    SDLMod mod;
    int selected, blit, alpha;
    bool shown;
    const char *line;
  } rows[] = {
      {SDLK_1, KMOD_NONE, 1, BLIT_RGB, 255, true, "layer 1 GEO: RGB"},
      {SDLK_b, KMOD_NONE, 1, BLIT_BLU, 255, true, "layer 1 GEO: BLU"},
      {SDLK_b, KMOD_LSHIFT, 1, BLIT_RGB, 255, true, "layer 1 GEO: RGB"},
      {SDLK_b, KMOD_LSHIFT, 1, BLIT_ALPHA, 255, true, "layer 1 GEO: ALPHA 255"},
      {SDLK_MINUS, KMOD_NONE, 1, BLIT_ALPHA, 239, true, "layer 1 GEO: ALPHA 239"},
      {SDLK_TAB, KMOD_NONE, 2, BLIT_ALPHA, 32, true, "layer 2 ant.png: ALPHA 32"},
      {SDLK_PLUS, KMOD_NONE, 2, BLIT_ALPHA, 48, true, "layer 2 ant.png: ALPHA 48"},
      {SDLK_TAB, KMOD_RSHIFT, 1, BLIT_ALPHA, 239, true, "layer 1 GEO: ALPHA 239"},
      {SDLK_h, KMOD_NONE, 1, BLIT_ALPHA, 239, false, "layer 1 GEO: hidden"},
      {SDLK_2, KMOD_NONE, 2, BLIT_ALPHA, 48, true, "layer 2 ant.png: ALPHA 48"},
      {SDLK_KP1, KMOD_NONE, 1, BLIT_ALPHA, 239, false, "layer 1 GEO: ALPHA 239, hidden"},
      {SDLK_h, KMOD_NONE, 1, BLIT_ALPHA, 239, true, "layer 1 GEO: shown"},
  };
  ASSERT_EQ(player->keys()->selected(), layer(2));  // the top one at the start
  for (const Row &r : rows) {
    push_key(r.sym, r.mod);
    ASSERT_TRUE(player->step());
    Layer *l = layer(r.selected);
    EXPECT_EQ(player->keys()->selected(), l) << r.line;
    EXPECT_EQ(l->blit, r.blit) << r.line;
    EXPECT_EQ(l->alpha, r.alpha) << r.line;
    EXPECT_EQ(l->active, r.shown) << r.line;
    EXPECT_EQ(bottom_line(), r.line);
  }
  // The last line stays two seconds of frames.
  for (int i = 1; i < 2 * opt.fps; i++) player->step();
  EXPECT_EQ(bottom_line(), rows[11].line);
  player->step();
  EXPECT_EQ(bottom_line(), "");
}

TEST_F(PlayerKeys, FadeGoesOutToZeroAndBackIn) {
  Layer *ant = layer(2);
  push_key(SDLK_f);
  ASSERT_TRUE(player->step());
  EXPECT_EQ(bottom_line(), "layer 2 ant.png: fading out");
  int frames = 0;
  for (int last = ant->alpha; ant->alpha > 0 && frames < 300; frames++, last = ant->alpha) {
    player->step();
    ASSERT_GE(ant->alpha, last - 1);  // one step a frame, never up
  }
  EXPECT_EQ(ant->alpha, 0);
  EXPECT_GE(frames, 31);

  push_key(SDLK_f);
  player->step();
  EXPECT_EQ(bottom_line(), "layer 2 ant.png: fading in");
  for (int i = 0; i < 3; i++) player->step();
  EXPECT_EQ(ant->alpha, 3);
  EXPECT_EQ(ant->fade_in_target, 255);
}

TEST_F(PlayerKeys, PauseHoldsTheLayersAndQuitEndsThePlay) {
  GenLayer *gen = dynamic_cast<GenLayer *>(layer(1));
  ASSERT_NE(gen, nullptr);
  push_key(SDLK_SPACE);
  player->step();
  player->step();  // the picture to hold is taken
  const float held = gen->phase;
  for (int i = 0; i < 3; i++) ASSERT_TRUE(player->step());
  EXPECT_EQ(gen->phase, held);
  EXPECT_EQ(bottom_line(), "paused");
  push_key(SDLK_SPACE);
  player->step();
  player->step();
  EXPECT_NE(gen->phase, held);

  for (SDLKey quit : {SDLK_q, SDLK_ESCAPE}) {
    player->keys()->quit = false;
    push_key(quit);
    EXPECT_FALSE(player->step()) << quit;
  }
  player->keys()->quit = false;
  SDL_Event close{};
  close.type = SDL_QUIT;
  SDL_PushEvent(&close);
  EXPECT_FALSE(player->step());
}

}  // namespace
