// Text drawing: the scroller's frame with a full screen of lines and the
// OSD's three full lines, each read against the frame memcpy floor.
#include <cstdlib>
#include <string>

#include "bench_support.h"
#include "kolvex.h"
#include "scroll_layer.h"

namespace {

// A scroller whose 60 lines of 70 characters cover the screen: every line
// rendered, none near the top, so each frame copies all of them.
void ScrollFeedFullScreen(benchmark::State &state) {
  ScrollLayer scroll;
  scroll.init(&kb::engine());
  std::string text;
  for (int i = 0; i < 70; i++) text += (char)('!' + i % 90);
  const int lines = (kb::kH - 10) / 8 + 1;  // the oldest still below the top
  for (int i = 0; i < lines; i++) scroll.append(text.c_str());
  while (scroll.last->pos < 10) scroll.feed();  // the youngest line shows
  for (auto _ : state) {
    for (txtline *l = scroll.first; l; l = l->next) l->pos -= scroll.step;  // stay put
    benchmark::DoNotOptimize(scroll.feed());
    benchmark::ClobberMemory();
  }
  int shown = 0;
  for (txtline *l = scroll.first; l; l = l->next) shown++;
  state.counters["lines"] = shown;
  state.SetBytesProcessed((int64_t)state.iterations() * kb::kFrame);
}

// The OSD's three lines at their 49-character limit, drawn as the frame
// loop does.
void OsdThreeFullLines(benchmark::State &state) {
  Osd &osd = kb::engine().osd;
  std::string text;
  for (int i = 0; i < 49; i++) text += (char)('A' + i % 26);
  osd.print_top("%s", text.c_str());
  osd.print_mid("%s", text.c_str());
  osd.print_low("%s", text.c_str());
  for (auto _ : state) {
    osd.cafudda();
    benchmark::ClobberMemory();
  }
  osd.clean();
}

}  // namespace

KOLVEX_BENCH_MEMCPY_FLOOR();
BENCHMARK(ScrollFeedFullScreen)->Name("scroll/feed_full_screen_640x480");
BENCHMARK(OsdThreeFullLines)->Name("osd/three_full_lines");
