/*  Runtime support: log lines and verbosity, the status-text hook, logged
 *  allocation, the random generator and the copy routine. */
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "test_support.h"

using kt::StderrCapture;

TEST(Log, LineFormatsAtEachVerbosity) {
  const std::string always = "[*] n 1\n .  a x\n[!] e q\n";
  const struct {
    int asked, level;
    std::string out, last;  // warning and func do not even format when gated
  } rows[] = {{-5, 0, always, "e q"},
              {0, 0, always, "e q"},
              {1, 1, always + "[W] w 7\n", "w 7"},
              {2, 2, always + "[W] w 7\n[F] f 2.5\n", "f 2.5"},
              {3, 2, always + "[W] w 7\n[F] f 2.5\n", "f 2.5"}};
  for (const auto &r : rows) {
    SCOPED_TRACE(r.asked);
    set_debug(r.asked);
    EXPECT_EQ(get_debug(), r.level);
    StderrCapture cap;
    notice("n %d", 1);
    act("a %s", "x");
    error("e %c", 'q');
    warning("w %u", 7u);
    func("f %.1f", 2.5);
    EXPECT_EQ(cap.text(), r.out);
    EXPECT_EQ(last_msg(), r.last);
  }
  set_debug(0);
}

// Log lines stop at 253 characters, the status text at 49 (48 formatted).
TEST(Log, LongTextsAreCut) {
  char status[64];
  set_osd(status);
  memset(status, 'X', sizeof status);
  StderrCapture cap;
  error("%s", std::string(300, 'a').c_str());
  show_osd();
  EXPECT_EQ(std::string(status), std::string(49, 'a'));
  EXPECT_EQ(status[51], 'X') << "wrote past the 51-byte buffer";
  show_osd("%s-%d", std::string(60, 'f').c_str(), 5);
  EXPECT_EQ(std::string(status), std::string(48, 'f'));
  notice("%s", "100% done %d");
  EXPECT_EQ(cap.text(), "[!] " + std::string(253, 'a') + "\n[*] 100% done %d\n");
}

TEST(Log, LinesFromSeveralThreadsStayWhole) {
  const std::string body = " .  line from a thread, long enough to be torn apart";
  StderrCapture cap;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; t++)
    threads.emplace_back([&] {
      for (int i = 0; i < 200; i++) act("%s", body.c_str() + 4);
    });
  for (auto &th : threads) th.join();
  EXPECT_EQ(kt::count_lines(cap.text(), body), 800);
}

TEST(Jalloc, MisuseAndTracesAreLogged) {
  set_debug(2);
  StderrCapture cap;
  void *p = jalloc(nullptr, 100);
  void *q = jalloc(p, 16);  // misuse: warned, a new block all the same
  ASSERT_TRUE(p && q && p != q);
  EXPECT_TRUE(jfree(q));
  EXPECT_FALSE(jfree(nullptr));
  char want[512];
  snprintf(want, sizeof want,
           "[M] allocated memory at %p sized 100 bytes\n"
           "[W] requested malloc on a non-NULL pointer\n"
           "[M] allocated memory at %p sized 16 bytes\n[M] freeing memory at address %p\n"
           "[W] requested free on a NULL pointer\n",
           p, q, q);
  EXPECT_EQ(cap.text(), want);
  EXPECT_TRUE(jfree(p));
  set_debug(0);
}

TEST(Fastrand, FollowsThe32BitLcg) {
  fastsrand(0);
  EXPECT_EQ(fastrand(), 12345u);
  fastsrand(1);
  EXPECT_EQ(fastrand(), 1103527590u);
  EXPECT_EQ(fastrand(), 2524885223u);
  EXPECT_EQ(fastrand(), 662824084u);
}

