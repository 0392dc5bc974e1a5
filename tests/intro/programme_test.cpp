// The whole programme as a viewer sees it, frame by frame, in-process on a
// virtual clock: every OSD text on its line at its step, the layer stack,
// blit modes and fades of every scene, the screen cleared only when it
// should be, nothing black for long, 5503 frames. The expected timeline is
// written out below from the programme's script, not from the code.
#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <algorithm>
#include <string>
#include <vector>

#include "intro.h"

namespace {

struct Frame {
  std::string osd[3];   // top, mid, low as shown ("" when off)
  std::string stack;    // listed layers topmost first, "name:blit"
  int alpha[4] = {-1, -1, -1, -1};  // gen, numeri, formica, scroll when listed
  bool clear = false;
  int lit = 0;          // sampled screen pixels that are not black
};

std::vector<Frame> frames;
int64_t virtual_us = 0;
int closing_lines = -1, closing_blanks = 0;  // the closing scroller when it comes up

const char *label(Layer *l) {
  if (l == gen) return "gen";
  if (l == numeri) return "numeri";
  if (l == formica) return "formica";
  if (l == scroll) return "scroll";
  return "other";
}

int slot(Layer *l) {
  return l == gen ? 0 : l == numeri ? 1 : l == formica ? 2 : l == scroll ? 3 : -1;
}

// One timed frame has been drawn and shown: take it.
void record() {
  Frame f;
  const Osd &o = kolvex->osd;
  if (o.show_top) f.osd[0] = o.top_text;
  if (o.show_mid) f.osd[1] = o.mid_text;
  if (o.show_low) f.osd[2] = o.low_text;
  kolvex->layers.lock();
  for (Entry *e = kolvex->layers.begin(); e; e = e->next) {
    Layer *l = static_cast<Layer *>(e);
    f.stack += std::string(f.stack.empty() ? "" : " ") + label(l) + ":" + std::to_string(l->blit);
    if (slot(l) >= 0) f.alpha[slot(l)] = l->alpha;
  }
  kolvex->layers.unlock();
  if (closing_lines < 0 && f.alpha[2] >= 0 && scroll) {
    closing_lines = 0;
    scroll->lock_feed();
    for (txtline *l = scroll->first; l; l = l->next) {
      closing_lines++;
      closing_blanks += std::string(l->text) == " ";
    }
    scroll->unlock_feed();
  }
  f.clear = kolvex->clear_all;
  const uint32_t *px = (const uint32_t *)kolvex->screen->get_surface();
  for (int i = 0; i < 640 * 480; i += 97) f.lit += (px[i] & 0x00FFFFFF) != 0;
  frames.push_back(f);
}

void clock_time(struct timeval *tv) {
  if (kolvex) kolvex->lockstep = true;  // the same frames on every run
  tv->tv_sec = (time_t)(2004 + virtual_us / 1000000);
  tv->tv_usec = (suseconds_t)(virtual_us % 1000000);
}

void clock_sleep(const struct timespec *) {
  record();
  virtual_us = (int64_t)frames.size() * 1000000 / 24;
}

const KolvexClock test_clock = {clock_time, clock_sleep};

// The script: O(line, text) prints, C cleans, R(n) runs n seconds (fades run
// 2, a mutate is four runs of 2), S(stack) is the list from then on, K(on)
// the screen clearing, X marks the frame the scroller must show text.
struct Op {
  char op;
  int n;
  const char *text;
};
Op O(int line, const char *t) { return {'O', line, t}; }
Op R(int s) { return {'R', s, nullptr}; }
Op S(const char *s) { return {'S', 0, s}; }
Op K(int on) { return {'K', on, nullptr}; }
const Op C = {'C', 0, nullptr}, X = {'X', 0, nullptr};
#define MUTATE R(2), R(2), R(2), R(2)

const std::vector<Op> kSetUp = {
    K(1), O(0, ":: Orvanta intro"), O(1, "load images..."), R(1), O(1, "load effects..."), R(1),
    O(1, "init scroller..."), O(1, "init particle generator..."), R(1), S("gen:9"),
    O(1, "connecting to Divezerider"), R(1), C, K(0), R(10)};

const std::vector<Op> kScenes = {
    // 1-4
    O(0, "awakening."), R(2), C, R(3),
    O(1, "a strange thing called consciousness"), R(4), C, MUTATE,
    O(0, "i feel my thoughts, as a swarming flow"), R(3),
    O(1, "but i can't focus my essence, my body"), R(3),
    O(2, "it's a continuous wake and sleep again"), R(3), C,
    O(1, "somebody else must be counting."), R(3), C, MUTATE, R(3),
    // 5-7
    O(0, "my language, my memory is an operating machine"), R(2), C, R(1),
    O(1, "i don't feel my body. i don't know where i am"), R(2), C, R(1),
    O(2, "where is the root of all this? who is inventing?"), R(2), C, R(1), C, MUTATE,
    // 8-10
    S("numeri:9 gen:9"), R(2), R(3),
    O(0, "you are a neural installation, REZA8 tower E5."), R(2),
    O(1, "those are the last processes of your consciousness,"), R(2),
    O(2, "your magic box of numbers."), R(2), R(3), C,
    R(2), MUTATE, R(2), R(1), S("gen:9"), R(1),
    // 11
    O(0, "WHO ARE YOU? where am i going?"), R(1), C, O(1, "give me eyes!"), R(1), C,
    O(2, "i need food!"), R(1), C, O(1, "    i have no history"), R(1), C, R(1),
    O(1, "    why do i have questions?"), R(1), C, R(1),
    O(1, "    i can't memorize any answer."), R(1), C, R(1),
    // 12-14
    MUTATE, R(2), S("scroll:9 gen:9"), R(2), R(1), S("scroll:9"),
    O(0, "You're employed in the balistic department"), R(3),
    O(1, "You are here delete your past with trajectories"), R(2),
    O(2, "We keep you alive for that."), R(8), C, R(2),
    O(1, "but now you should rest"), R(3), C, O(1, "it was an intense day, today"), R(3), C,
    O(1, "you are the only human here"), R(3), C, O(1, "you must be tired"), R(3), C,
    O(1, "we take care of you"), R(3), C,
    // 15-16
    O(1, "your memory will be backuped."), R(2), K(1), R(5), C, R(5), X, K(0), R(2), R(2),
    S(""), S("formica:9 scroll:1"), R(2), R(5), S("formica:9 scroll:9"), R(2), R(50)};

// Expected frames of a script, appended to `out`; marks collects X frames.
void expand(const std::vector<Op> &script, std::vector<Frame> &out, Frame &state,
            std::vector<size_t> &marks) {
  for (const Op &op : script) {
    switch (op.op) {
      case 'O': state.osd[op.n] = std::string(op.text).substr(0, 49); break;
      case 'C': state.osd[0] = state.osd[1] = state.osd[2] = ""; break;
      case 'S': state.stack = op.text; break;
      case 'K': state.clear = op.n; break;
      case 'X': marks.push_back(out.size() - 1); break;
      case 'R': out.insert(out.end(), 24 * op.n + 1, state); break;
    }
  }
}

size_t setup_frames = 0;

void every_frame_shows_the_scripted_text_stack_and_clearing() {
  std::vector<Frame> want;
  std::vector<size_t> marks;
  Frame state;
  expand(kSetUp, want, state, marks);
  ASSERT_EQ(setup_frames, want.size()) << "set-up length";
  expand(kScenes, want, state, marks);
  ASSERT_EQ(want.size(), 5503u);
  ASSERT_EQ(frames.size(), want.size()) << "programme length in frames";
  for (size_t i = 0; i < want.size(); i++) {
    const char *where = i < setup_frames ? "set-up" : "scenes";
    for (int line = 0; line < 3; line++)
      ASSERT_EQ(frames[i].osd[line], want[i].osd[line]) << where << " frame " << i << " line " << line;
    ASSERT_EQ(frames[i].stack, want[i].stack) << where << " frame " << i;
    ASSERT_EQ(frames[i].clear, want[i].clear) << where << " frame " << i;
  }
  // The first scroller still has text to show when scene 15 ends.
  ASSERT_EQ(marks.size(), 1u);
  EXPECT_GT(frames[marks[0]].lit, 100) << "scene 15 ends on an empty screen";
  EXPECT_EQ(frames[marks[0]].alpha[3], 200) << "the scroller faded in to 200";
}

void fades_move_one_step_a_frame() {
  size_t numeri_first = 0;
  for (size_t i = 1; i < frames.size(); i++) {
    for (int s = 0; s < 4; s++) {
      const int a = frames[i - 1].alpha[s], b = frames[i].alpha[s];
      // (a new stack may hold a new layer under an old name)
      if (a >= 0 && b >= 0 && frames[i - 1].stack == frames[i].stack) {
        ASSERT_LE(std::abs(b - a), 1) << "layer " << s << " frame " << i;
      }
    }
    if (!numeri_first && frames[i].alpha[1] >= 0) numeri_first = i;
  }
  // Scene 8: the numbers rise from 0 to 200 in 200 frames, then hold.
  ASSERT_GT(numeri_first, 0u);
  EXPECT_EQ(frames[numeri_first].alpha[1], 1);
  EXPECT_EQ(frames[numeri_first + 198].alpha[1], 199);
  EXPECT_EQ(frames[numeri_first + 199].alpha[1], 200);
  EXPECT_EQ(frames[numeri_first + 215].alpha[1], 200);  // until scene 9 fades it out
}

// Where each fade comes to rest: lowest and highest alpha over the
// programme, and the last one, per layer (the two scrollers share a slot:
// the closing one is drawn at 255 from scene 16 on).
void fades_reach_their_targets() {
  struct Row {
    const char *layer;
    int slot, lowest, highest, last;
  } rows[] = {{"gen", 0, 3, 99, 99},
              {"numeri", 1, 1, 200, 20},
              {"formica", 2, 1, 40, 40},
              {"scroll", 3, 3, 255, 255}};
  for (const Row &r : rows) {
    int lo = 256, hi = -1, last = -1;
    for (const Frame &f : frames) {
      if (f.alpha[r.slot] < 0) continue;
      lo = std::min(lo, f.alpha[r.slot]);
      hi = std::max(hi, f.alpha[r.slot]);
      last = f.alpha[r.slot];
    }
    EXPECT_EQ(lo, r.lowest) << r.layer;
    EXPECT_EQ(hi, r.highest) << r.layer;
    EXPECT_EQ(last, r.last) << r.layer;
  }
}

void no_black_stretch_after_the_set_up() {
  size_t run = 0, longest = 0, at = 0;
  for (size_t i = setup_frames; i < frames.size(); i++) {
    run = frames[i].lit < 20 ? run + 1 : 0;
    if (run > longest) longest = run, at = i;
  }
  EXPECT_LE(longest, 24u) << "black from frame " << at - longest + 1 << " to " << at;
}

void closing_scroller_comes_up_with_all_its_lines() {
  EXPECT_EQ(closing_lines, 93);
  EXPECT_EQ(closing_blanks, 59);
}

void interrupt_asks_to_quit_terminate_ends_at_once() {
  struct sigaction sa;
  sigaction(SIGTERM, nullptr, &sa);
  EXPECT_EQ(sa.sa_handler, SIG_DFL) << "headless, only SIGTERM's default action ends the intro";
  sigaction(SIGINT, nullptr, &sa);
  EXPECT_EQ(sa.sa_handler, &fsigquit);
}

// One run of the programme (half a minute), every check on it.
TEST(Programme, AsAViewerSeesIt) {
  ASSERT_EQ(chdir(ORVANTA_TEST_STAGE_DIR), 0);  // data and the vertigo plug-in
  kolvex_set_clock(&test_clock);
  orvanta_setup();
  setup_frames = frames.size();
  orvanta_scenes();
  for (auto check : {every_frame_shows_the_scripted_text_stack_and_clearing,
                     fades_move_one_step_a_frame, fades_reach_their_targets,
                     no_black_stretch_after_the_set_up,
                     closing_scroller_comes_up_with_all_its_lines,
                     interrupt_asks_to_quit_terminate_ends_at_once}) {
    check();
  }
  delete kolvex;  // as the intro ends: engine first, then the music
  kolvex = nullptr;
  music_teardown();
  kolvex_set_clock(nullptr);
}

}  // namespace
