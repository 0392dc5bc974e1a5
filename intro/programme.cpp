/*  Orvanta 2004 - the programme
 *
 *  Set-up, then sixteen scenes of on-screen text, the particle generator
 *  changing shape, two pictures (one through the "vertigo" effect) and two
 *  text scrollers, to the music: about 226 seconds of frames.
 */
#include <unistd.h>

#include <cstdio>

#include "intro.h"

// A condition the intro cannot run without: the call inside is always made.
// Reported like the C library does, then the process ends at once.
#define vrel_assert(expr, line) \
  ((expr) ? (void)0 : vrel_fail(#expr, line))

static void vrel_fail(const char *expr, unsigned line) {
  fprintf(stderr, "%s:%u: failed assertion `%s'\n", "vrel", line, expr);
  fflush(stderr);
  _exit(EXIT_FAILURE);
}

// The closing scroller: 93 lines, " " for a blank row ("" adds none).
static void closing_lines(ScrollLayer *s, int blanks) {
  for (int i = 0; i < blanks; i++) s->append(" ");
}

static void append_closing_text(ScrollLayer *s) {
  s->append(":: ORVANTA 2004");
  closing_lines(s, 1);
  s->append("you are invited to http://orvanta.example.org/");
  closing_lines(s, 1);
  s->append("at the Old Foundry, Tolvaa, on the 4th, 5th and 6th of June");
  closing_lines(s, 1);
  s->append("    come to meet Liberated Dodozavuvad");
  closing_lines(s, 5);
  s->append("On an international scale it will be a gathering for");
  s->append("hackers, coders, network explorers, radical activists,");
  s->append("cyberfeminists, curious people, inventors, JAH people");
  s->append("cyberpunks, gnus, crypto-anarchists, code poets,");
  s->append("electro nyabinghis, techno beduins, rasta coders & more");
  closing_lines(s, 10);
  s->append("The reality-hacking principle will prevail:");
  s->append("no need to be a geek to be a hacker;");
  s->append("better freely express your creativity,");
  s->append("subvertise common tools to bypass obstacles!");
  closing_lines(s, 10);
  s->append("Three days full of workshops, meeting, discussions & phun");
  s->append("Everyone is welcome, free as of speech");
  s->append("VREL is totally indypendend: no institutions, no sponsors");
  s->append("It simply happens as a Temporaneously Autonomous Zone");
  closing_lines(s, 11);
  s->append("Orvanta intro");
  closing_lines(s, 1);
  s->append("code: the Kolvex developers, on the Kolvex engine");
  closing_lines(s, 1);
  s->append("music: tolvek, with an XM generator of our own");
  closing_lines(s, 1);
  s->append("thanks to everyone who keeps software free to share,");
  s->append("to the people who write trackers and sound libraries,");
  s->append("and to you, for watching until the very end");
  closing_lines(s, 7);
  s->append("greetings to all the coders of small intros,");
  s->append("to the pixel painters and the chip musicians,");
  s->append("to the hacklabs and the free radio stations,");
  s->append("to the people who run the party networks,");
  s->append("and to everyone who stays up late making things");
  closing_lines(s, 9);
  s->append("this intro was written in C++ on the Kolvex engine, free");
  s->append("software you may share and change: kolvex.example.org");
  s->append("VREL runs at 640x480 in 32bit and it's all software rendered");
  s->append("I hope you enjoy the particle generator code");
  s->append("released in December, written with vim");
  closing_lines(s, 1);
  s->append("that's all folks, see you there, don't get lost ina babylon.");
}

// A scroller over the whole screen, or null (logged by the scroller) when it
// cannot be set up: a layer without a frame is never listed.
static ScrollLayer *new_scroller() {
  ScrollLayer *s = new ScrollLayer();
  if (s->init(kolvex)) return s;
  delete s;
  return nullptr;
}

// A debug line per scene, to follow the programme in the log.
static void scene(int n) { func("scene %i", n); }

// ---------------------------------------------------------------------------
// Set-up: 14 seconds of frames
// ---------------------------------------------------------------------------
void orvanta_open() {
  kolvex = new Context();
  // SIGTERM keeps its default action: headless there is no next key press,
  // and kill, timeout and service managers must be able to end the intro.
  signal(SIGINT, fsigquit);
  set_debug(3);
  vrel_assert(kolvex->init(640,480), 166);  // the text the assertion shows
}

void orvanta_setup() {
  if (!kolvex) orvanta_open();
  kolvex->clear_all = true;

  kolvex->osd.print_top(":: Orvanta intro");
  kolvex->osd.print_mid("loading music...");
  cafudda(0);

  music_setup();
  climax = load_music("tolvek-climax.xm");
  vrel_assert(climax, 196);
  notice("music track by tolvek");

  kolvex->osd.print_mid("load images...");
  formica = load_img("ant.png");
  vrel_assert(formica, 208);
  numeri = load_img("code.png");
  vrel_assert(numeri, 209);

  cafudda(1);
  kolvex->osd.print_mid("load effects...");
  vertigo = kolvex->plugger.pick("vertigo");
  cafudda(1);

  kolvex->osd.print_mid("init scroller...");
  scroll = new_scroller();
  if (scroll) {
    scroll->open("dio.c");
    scroll->set_blit(BLIT_ALPHA);
    scroll->alpha = 3;
  }

  kolvex->osd.print_mid("init particle generator...");
  gen = new GenLayer();
  if (!gen->init(kolvex)) {  // logged by the generator; the scenes go on without it
    delete gen;
    gen = nullptr;
  }
  cafudda(1);
  if (gen) {
    gen->set_blit(BLIT_ALPHA);
    gen->alpha = 10;
    kolvex->layers.add(gen);
  }

  Player_Start(climax);

  kolvex->osd.print_mid("connecting to Divezerider");
  cafudda(1);
  kolvex->osd.clean();
  kolvex->clear_all = false;
  cafudda(10);
}

// ---------------------------------------------------------------------------
// The scenes: 212 seconds
// ---------------------------------------------------------------------------
void orvanta_scenes() {
  Osd &osd = kolvex->osd;

  // 1 awakening
  scene(1);
  osd.print_top("awakening.");
  cafudda(2);
  osd.clean();
  cafudda(3);

  // 2
  scene(2);
  osd.print_mid("a strange thing called consciousness");
  cafudda(4);
  osd.clean();
  mutate(false);

  // 3
  scene(3);
  osd.print_top("i feel my thoughts, as a swarming flow");
  cafudda(3);
  osd.print_mid("but i can't focus my essence, my body");
  cafudda(3);
  osd.print_low("it's a continuous wake and sleep again");
  cafudda(3);
  osd.clean();

  // 4
  scene(4);
  osd.print_mid("somebody else must be counting.");
  cafudda(3);
  osd.clean();
  mutate(false);
  cafudda(3);

  // 5
  scene(5);
  osd.print_top("my language, my memory is an operating machine");
  cafudda(2);
  osd.clean();
  cafudda(1);

  // 6
  scene(6);
  osd.print_mid("i don't feel my body. i don't know where i am");
  cafudda(2);
  osd.clean();
  cafudda(1);

  // 7
  scene(7);
  osd.print_low("where is the root of all this? who is inventing?");
  cafudda(2);
  osd.clean();
  cafudda(1);
  osd.clean();
  mutate(false);

  // 8 the numbers come up, through the effect when there is one
  scene(8);
  numeri->alpha = 0;
  numeri->set_blit(BLIT_ALPHA);
  if (vertigo) {
    vertigo->init(&numeri->geo);
    numeri->filters.add(vertigo);
  }
  kolvex->layers.prepend(numeri);
  fade_in(numeri, 200);
  cafudda(3);

  // 9
  scene(9);
  osd.print_top("you are a neural installation, REZA8 tower E5.");
  cafudda(2);
  osd.print_mid("those are the last processes of your consciousness,");
  cafudda(2);
  osd.print_low("your magic box of numbers.");
  fade_out(numeri, 100);
  cafudda(3);
  osd.clean();

  // 10 the numbers go
  scene(10);
  fade_out(numeri, 20);
  keypress(SDLK_x, vertigo, 1);
  mutate(true);
  fade_out(numeri, 0);
  cafudda(1);
  drop_layer(numeri);
  numeri = nullptr;
  cafudda(1);

  // 11
  scene(11);
  osd.print_top("WHO ARE YOU? where am i going?");
  cafudda(1);
  osd.clean();
  osd.print_mid("give me eyes!");
  cafudda(1);
  osd.clean();
  osd.print_low("i need food!");
  cafudda(1);
  osd.clean();
  osd.print_mid("    i have no history");
  cafudda(1);
  osd.clean();
  cafudda(1);
  osd.print_mid("    why do i have questions?");
  cafudda(1);
  osd.clean();
  cafudda(1);
  osd.print_mid("    i can't memorize any answer.");
  cafudda(1);
  osd.clean();
  cafudda(1);

  // 12 the generator gives way to the first scroller
  scene(12);
  mutate(true);
  fade_out(gen, 0);
  if (scroll) kolvex->layers.prepend(scroll);
  fade_in(scroll, 40);
  cafudda(1);
  drop_layer(gen);
  gen = nullptr;

  // 13
  scene(13);
  osd.print_top("You're employed in the balistic department");
  cafudda(3);
  osd.print_mid("You are here delete your past with trajectories");
  cafudda(2);
  osd.print_low("We keep you alive for that.");
  cafudda(8);
  osd.clean();
  cafudda(2);

  // 14
  scene(14);
  const char *rest[] = {"but now you should rest", "it was an intense day, today",
                        "you are the only human here", "you must be tired",
                        "we take care of you"};
  for (const char *line : rest) {
    osd.print_mid("%s", line);
    cafudda(3);
    osd.clean();
  }

  // 15
  scene(15);
  osd.print_mid("your memory will be backuped.");
  fade_in(scroll, 200);
  kolvex->clear_all = true;
  cafudda(5);
  osd.clean();
  cafudda(5);
  kolvex->clear_all = false;
  fade_out(scroll, 0);
  cafudda(2);
  drop_layer(scroll);  // not used again

  // 16 the invitation, under the ant
  scene(16);
  scroll = new_scroller();
  if (scroll) {
    append_closing_text(scroll);
    scroll->step = 1;
    scroll->line_space = 5;
    kolvex->layers.add(scroll);
  }
  formica->alpha = 0;
  formica->set_blit(BLIT_ALPHA);
  kolvex->layers.prepend(formica);
  fade_in(formica, 40);
  cafudda(5);
  fade_in(scroll, 256);  // 0 in the 8-bit target: no fade, alpha 255
  cafudda(50);
}
