// The worker pool shares a job's pieces out: every piece runs once
// whatever the counts, jobs from several threads and jobs started inside a
// piece finish, and a new thread count takes effect between jobs.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "worker_pool.h"

namespace {

TEST(WorkerPool, EveryPieceRunsOnceOnAnyNumberOfThreads) {
  const struct {
    int threads, pieces;
  } rows[] = {{1, 0}, {1, 5}, {2, 1}, {2, 2}, {2, 37}, {4, 3}, {8, 1000}};
  for (const auto &r : rows) {
    WorkerPool pool(r.threads);
    EXPECT_EQ(pool.threads(), r.threads);
    std::vector<std::atomic<int>> runs(r.pieces);
    for (int round = 0; round < 3; round++) pool.run(r.pieces, [&](int i) { runs[i]++; });
    for (int i = 0; i < r.pieces; i++)
      EXPECT_EQ(runs[i].load(), 3) << r.threads << " threads, piece " << i;
  }
}

TEST(WorkerPool, JobsFromSeveralThreadsAndFromInsideAPieceFinish) {
  WorkerPool pool(3);
  std::atomic<long> sum{0};
  auto job = [&] {
    for (int round = 0; round < 50; round++)
      pool.run(4, [&](int i) {
        // A piece that runs a job of its own: the caller works on it, so
        // it finishes even with every worker busy.
        pool.run(3, [&](int k) { sum += (i + 1) * (k + 1); });
      });
  };
  std::thread a(job), b(job);
  job();
  a.join();
  b.join();
  EXPECT_EQ(sum.load(), 3L * 50 * (1 + 2 + 3 + 4) * (1 + 2 + 3));
}

TEST(WorkerPool, ANewCountTakesEffectAndZeroIsTheCores) {
  WorkerPool pool(1);
  std::atomic<int> ran{0};
  const std::thread::id caller = std::this_thread::get_id();
  std::atomic<bool> elsewhere{false};
  pool.run(64, [&](int) {
    if (std::this_thread::get_id() != caller) elsewhere = true;
    ran++;
  });
  EXPECT_FALSE(elsewhere) << "one thread is the caller alone";
  pool.set_threads(0);
  EXPECT_EQ(pool.threads(), WorkerPool::cores());
  pool.set_threads(100000);
  EXPECT_EQ(pool.threads(), WorkerPool::kMaxThreads);
  pool.set_threads(2);
  pool.run(64, [&](int) { ran++; });
  EXPECT_EQ(ran.load(), 128);
}

}  // namespace
