// The player's keys, pressed through SDL's event queue while it plays, and
// what they do to the layers, the window's status line and the programme
// that goes out.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <tuple>

#include "player_fixture.h"
#include "replay.h"
#include "test_support.h"

namespace {

void push(SDLKey sym, SDLMod mod = KMOD_NONE, Uint8 type = SDL_KEYDOWN) {
  SDL_Event e{};
  e.type = e.key.type = type;
  e.key.state = SDL_PRESSED;
  e.key.keysym.sym = sym;
  e.key.keysym.mod = mod;
  ASSERT_EQ(SDL_PushEvent(&e), 0);
}

class PlayerKeys : public ::testing::Test {
 protected:
  void SetUp() override {
    set_debug(0);
    player = pt::open_player({"--fps", "100", "--size", "320x240", "layer_gen",
                              PLAYER_DATA_DIR "/ant.png", "--alpha", "32"}, opt);
    ASSERT_NE(player, nullptr);
    player->context()->lockstep = true;  // a layer's frame is made when step() returns
  }
  Layer *layer(int n) { return player->stack()[n - 1]; }
  std::string bottom_line() { return player->status(); }
  PlayerOptions opt;
  std::unique_ptr<Player> player;
};

TEST_F(PlayerKeys, SelectBlitAlphaAndHideActOnTheSelectedLayer) {
  const struct Row {
    SDLKey sym;
    SDLMod mod;
    int selected, blit, alpha, shown;
    const char *line;
  } rows[] = {
      {SDLK_1, KMOD_NONE, 1, BLIT_RGB, 255, 1, "layer 1 GEO: RGB"},
      {SDLK_b, KMOD_LSHIFT, 1, BLIT_RGB, 255, 1, "layer 1 GEO: OVER"},
      {SDLK_b, KMOD_NONE, 1, BLIT_RGB, 255, 1, "layer 1 GEO: RGB"},
      {SDLK_MINUS, KMOD_NONE, 1, BLIT_ALPHA, 239, 1, "layer 1 GEO: ALPHA 239"},
      {SDLK_TAB, KMOD_NONE, 2, BLIT_ALPHA, 32, 1, "layer 2 ant.png: ALPHA 32"},
      {SDLK_PLUS, KMOD_NONE, 2, BLIT_ALPHA, 48, 1, "layer 2 ant.png: ALPHA 48"},
      {SDLK_TAB, KMOD_RSHIFT, 1, BLIT_ALPHA, 239, 1, "layer 1 GEO: ALPHA 239"},
      {SDLK_h, KMOD_NONE, 1, BLIT_ALPHA, 239, 0, "layer 1 GEO: hidden"},
      {SDLK_2, KMOD_NONE, 2, BLIT_ALPHA, 48, 1, "layer 2 ant.png: ALPHA 48"},
      {SDLK_KP1, KMOD_NONE, 1, BLIT_ALPHA, 239, 0, "layer 1 GEO: ALPHA 239, hidden"},
      {SDLK_h, KMOD_NONE, 1, BLIT_ALPHA, 239, 1, "layer 1 GEO: shown"},
  };
  ASSERT_EQ(player->keys()->selected(), layer(2));  // the top one at the start
  for (const Row &r : rows) {
    push(r.sym, r.mod);
    ASSERT_TRUE(player->step());
    Layer *l = layer(r.selected);
    EXPECT_EQ(std::make_tuple(player->keys()->selected(), (int)l->blit, (int)l->alpha,
                              l->active ? 1 : 0, bottom_line()),
              std::make_tuple(l, r.blit, r.alpha, r.shown, std::string(r.line)));
  }
  // The last line stays two seconds of frames.
  for (int i = 1; i < 2 * opt.fps; i++) player->step();
  EXPECT_EQ(bottom_line(), rows[10].line);
  player->step();
  EXPECT_EQ(bottom_line(), "");
}

TEST_F(PlayerKeys, PauseHoldsTheLayersAndQuitEndsThePlay) {
  GenLayer *gen = dynamic_cast<GenLayer *>(layer(1));
  ASSERT_NE(gen, nullptr);
  push(SDLK_SPACE);
  player->step();
  player->step();  // the picture to hold is taken
  const float held = gen->phase;
  for (int i = 0; i < 3; i++) ASSERT_TRUE(player->step());
  EXPECT_EQ(gen->phase, held);
  EXPECT_EQ(bottom_line(), "paused");
  push(SDLK_SPACE);
  player->step();
  player->step();
  EXPECT_NE(gen->phase, held);

  // A key that changes the stack while paused shows on the held picture,
  // and the layers still do not move.
  ViewPort *screen = player->context()->screen.get();
  push(SDLK_SPACE);
  player->step();
  player->step();
  const float held2 = gen->phase;
  const std::vector<uint8_t> before = kt::screen_bytes(*screen);
  push(SDLK_h);  // the ant, on top
  player->step();
  player->step();
  EXPECT_NE(kt::screen_bytes(*screen), before) << "hidden, the ant still shows";
  EXPECT_EQ(gen->phase, held2);
  push(SDLK_SPACE);
  player->step();

  for (SDLKey quit : {SDLK_q, SDLK_ESCAPE, SDLK_UNKNOWN}) {  // the last: the window closed
    player->controls()->quit = false;
    push(quit, KMOD_NONE, quit ? SDL_KEYDOWN : SDL_QUIT);
    EXPECT_FALSE(player->step()) << quit;
  }
}

// --seconds is programme time: a held picture goes out, and counts.
// Keys that change nothing (modifiers alone, keys no layer or effect
// takes) are not recorded and tell nothing; one the layer takes is.
TEST_F(PlayerKeys, KeysThatChangeNothingAreNotRecorded) {
  kt::TempDir dir;
  opt.record_file = dir.path + "/show.txt";
  ShowRecorder recorder;
  std::string err;
  ASSERT_TRUE(attach_controls(*player, opt, Show(), recorder, err)) << err;
  push(SDLK_1);  // the generator, which takes the arrows left and right
  ASSERT_TRUE(player->step());
  const struct Row {
    SDLKey sym;
    SDLMod mod;
    bool taken;
  } rows[] = {
      {SDLK_LSHIFT, KMOD_LSHIFT, false}, {SDLK_RSHIFT, KMOD_RSHIFT, false},
      {SDLK_LCTRL, KMOD_LCTRL, false},   {SDLK_RALT, KMOD_RALT, false},
      {SDLK_LSUPER, KMOD_NONE, false},   {SDLK_CAPSLOCK, KMOD_CAPS, false},
      {SDLK_F5, KMOD_NONE, false},       {SDLK_x, KMOD_NONE, false},
      {SDLK_UP, KMOD_NONE, false},       {SDLK_RIGHT, KMOD_NONE, true},
  };
  int taken = 0;
  for (const Row &r : rows) {
    SCOPED_TRACE(SDL_GetKeyName(r.sym));
    const uint64_t changes = player->controls()->changes;
    const std::string before = player->status();
    push(r.sym, r.mod);
    ASSERT_TRUE(player->step());
    EXPECT_EQ(player->controls()->changes - changes, r.taken ? 1u : 0u);
    if (!r.taken) {
      EXPECT_EQ(player->status(), before) << "a key that changes nothing tells nothing";
    }
    taken += r.taken;
  }
  recorder.end(player->frame());
  const std::vector<uint8_t> bytes = kt::read_file(opt.record_file);
  const std::string text(bytes.begin(), bytes.end());
  int keys = 0;
  for (size_t at = text.find("/key "); at != std::string::npos; at = text.find("/key ", at + 1))
    keys++;
  EXPECT_EQ(keys, taken) << text;
  EXPECT_TRUE(kt::contains(text, "/layer/1/key \"right\"\n")) << text;
}

// What goes out is the programme: keys that only tell something (a layer
// selected, a screenshot, Shift) leave every captured frame as it was
// without them, the show's own bottom line included. The window shows the
// status line under the picture, and a screenshot is the frame that went;
// one that cannot be written says why.
TEST(PlayerProgramme, KeysThatOnlyTellLeaveTheProgrammeAlone) {
  set_debug(0);
  kt::TempDir dir;
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir.path.c_str()), 0);
  const struct Press {
    int before_frame;
    SDLKey sym;
  } presses[] = {{5, SDLK_1}, {5, SDLK_LSHIFT}, {8, SDLK_s}, {12, SDLK_TAB}};
  const int shot_frame = 9;  // the frame after the one 's' was pressed in
  for (const char *run : {"quiet", "keys"}) {
    SCOPED_TRACE(run);
    PlayerOptions opt;
    // One thread: each picture is on disk as its frame ends (more gather
    // frames to encode them at once).
    std::unique_ptr<Player> player = pt::open_player(
        {"--fps", "25", "--seconds", "1", "--size", "160x120", "--threads", "1", "--capture", run,
         "--format", "png", "--quiet", "layer_gen", PLAYER_DATA_DIR "/ant.png", "--alpha", "96"},
        opt);
    ASSERT_NE(player, nullptr);
    std::string said, err;
    ASSERT_EQ(player->controls()->set("/osd/low", {ControlArg::string("the show's line")}, said,
                                      err),
              ControlStatus::done);
    const bool keys = std::string(run) == "keys";
    while (true) {
      for (const Press &p : presses)
        if (keys && p.before_frame == player->frame()) push(p.sym);
      if (!player->step()) break;
      if (!keys || player->frame() != 7) continue;
      // "layer 1 GEO: RGB" in the window: in its bottom rows, nowhere else.
      const kt::Picture out = kt::read_png(std::string(run) + "/frame_000007.png");
      Context &ctx = *player->context();
      int over = 0, elsewhere = 0;
      for (int y = 0; y < out.h; y++)
        for (int x = 0; x < out.w; x++)
          for (int c = 0; c < 3; c++)
            if (out.at(x, y)[c] != kt::screen_pixel(ctx, x, y)[2 - c])
              (y < out.h - 10 ? elsewhere : over)++;
      EXPECT_GT(over, 0) << player->status();
      EXPECT_EQ(elsewhere, 0);
    }
    EXPECT_EQ(player->session()->finish(), 0);
  }
  for (int i = 1; i <= 26; i++) {
    char name[32];
    snprintf(name, sizeof name, "/frame_%06d.png", i);
    const std::vector<uint8_t> quiet = kt::read_file(std::string("quiet") + name);
    ASSERT_FALSE(quiet.empty()) << name;
    EXPECT_EQ(kt::read_file(std::string("keys") + name), quiet) << name;
  }
  const kt::Picture shot = kt::read_png("kolvex-0001.png");
  char went[32];
  snprintf(went, sizeof went, "quiet/frame_%06d.png", shot_frame + 1);
  const kt::Picture frame = kt::read_png(went);
  EXPECT_EQ(std::make_tuple(shot.w, shot.h, shot.rgb),
            std::make_tuple(frame.w, frame.h, frame.rgb));
  // One that cannot be written says why in the window's line.
  EXPECT_EQ(mkdir("kolvex-0002.png.part", 0700), 0);  // where it is written first
  PlayerOptions again;
  std::unique_ptr<Player> player = pt::open_player({"--size", "64x48", "layer_gen"}, again);
  push(SDLK_s);
  const bool stepped = player && player->step() && player->step();
  EXPECT_EQ(chdir(cwd), 0);
  ASSERT_TRUE(stepped);
  EXPECT_EQ(player->status(), "can't write kolvex-0002.png: Is a directory");
}

// frei0r on a layer: [ ] , . step the parameters (the line tells the
// value), b/B go from its mixer to the nine modes and OVER, and back.
TEST(PlayerFrei0rKeys, StepParametersAndCycleBlends) {
  set_debug(0);
  PlayerOptions opt;
  std::unique_ptr<Player> player =
      pt::open_player({"--size", "64x48", "layer_gen", "frei0r.nois0r", "--blit",
                       "frei0r.darken", "--effect", "frei0r.brightness:brightness=0.5"}, opt);
  ASSERT_NE(player, nullptr);
  Layer *noise = player->stack()[1];
  const struct Row {
    SDLKey sym;
    SDLMod mod;
    const char *line;
    bool blend;
  } rows[] = {
      {SDLK_PERIOD, KMOD_NONE, "layer 2 frei0r.nois0r: brightness 0.55", true},
      {SDLK_COMMA, KMOD_NONE, "layer 2 frei0r.nois0r: brightness 0.5", true},
      {SDLK_RIGHTBRACKET, KMOD_NONE, "layer 2 frei0r.nois0r: brightness 0.5", true},
      {SDLK_b, KMOD_NONE, "layer 2 frei0r.nois0r: RGB", false},
      {SDLK_b, KMOD_LSHIFT, "layer 2 frei0r.nois0r: frei0r.darken", true},
      {SDLK_b, KMOD_LSHIFT, "layer 2 frei0r.nois0r: OVER", true},
      {SDLK_b, KMOD_LSHIFT, "layer 2 frei0r.nois0r: ALPHA 255", false},
  };
  for (const Row &r : rows) {
    push(r.sym, r.mod);
    ASSERT_TRUE(player->step());
    EXPECT_EQ(player->status(), std::string(r.line));
    EXPECT_EQ(noise->get_blend() != nullptr, r.blend) << r.line;
  }
}

}  // namespace
