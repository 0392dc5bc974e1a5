// Two failures at once, on two threads: each reason tells what FFmpeg said
// during its own call, never the other thread's line; a call that said
// nothing gets the bare error.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "ffmpeg_common.h"

TEST(FfmpegReason, EachFailureKeepsWhatItsOwnCallSaid) {
  const struct Row {
    const char *said;
    int code;
    const char *reason;
  } rows[] = {
      {"the receiver hung up", AVERROR(EPIPE), "Broken pipe (the receiver hung up)"},
      {"the disk is full", AVERROR(ENOSPC), "No space left on device (the disk is full)"},
      {nullptr, AVERROR(EIO), "Input/output error"},
  };
  const int n = sizeof rows / sizeof rows[0];
  capture::ff::set_up();
  std::atomic<int> logged{0};
  std::string got[n];
  std::vector<std::thread> threads;
  for (int i = 0; i < n; i++)
    threads.emplace_back([&, i] {
      capture::ff::forget_log();
      if (rows[i].said) av_log(nullptr, AV_LOG_ERROR, "%s\n", rows[i].said);
      // Every thread has logged before any asks why.
      for (logged++; logged < n;) std::this_thread::yield();
      got[i] = capture::ff::reason(rows[i].code);
    });
  for (std::thread &t : threads) t.join();
  for (int i = 0; i < n; i++) EXPECT_EQ(got[i], rows[i].reason);
}
