#include "worker_pool.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>

struct WorkerPool::Job {
  const std::function<void(int)> *piece;
  int count;
  int next = 0;      // the next piece to hand out
  int finished = 0;  // pieces returned
};

WorkerPool::WorkerPool(int threads) { start(threads); }

WorkerPool::~WorkerPool() { stop(); }

int WorkerPool::cores() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return n;
  }
  const unsigned n = std::thread::hardware_concurrency();
  return n ? (int)n : 1;
}

void WorkerPool::set_threads(int threads) {
  const int n = std::clamp(threads > 0 ? threads : cores(), 1, kMaxThreads);
  if (n == threads_) return;
  stop();
  start(n);
}

void WorkerPool::start(int threads) {
  threads_ = std::clamp(threads > 0 ? threads : cores(), 1, kMaxThreads);
  quit_ = false;
  for (int i = 1; i < threads_; i++)
    workers_.emplace_back([this] {
      pthread_setname_np(pthread_self(), "kolvex-work");
      work();
    });
}

void WorkerPool::stop() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  for (auto &t : workers_) t.join();
  workers_.clear();
}

bool WorkerPool::take(Job *&job, int &index) {
  while (!jobs_.empty()) {
    Job *j = jobs_.front();
    if (j->next < j->count) {
      job = j;
      index = j->next++;
      if (j->next == j->count) jobs_.erase(jobs_.begin());  // all handed out
      return true;
    }
    jobs_.erase(jobs_.begin());
  }
  return false;
}

void WorkerPool::work() {
  std::unique_lock<std::mutex> hold(mutex_);
  for (;;) {
    Job *job;
    int index;
    if (take(job, index)) {
      hold.unlock();
      (*job->piece)(index);
      hold.lock();
      // The job may end the moment its last piece is counted: nothing of
      // it is touched after.
      if (++job->finished == job->count) done_.notify_all();
      continue;
    }
    if (quit_) return;
    wake_.wait(hold);
  }
}

void WorkerPool::run(int count, const std::function<void(int)> &piece) {
  if (count <= 0) return;
  if (threads_ == 1 || count == 1) {
    for (int i = 0; i < count; i++) piece(i);
    return;
  }
  Job job{&piece, count};
  std::unique_lock<std::mutex> hold(mutex_);
  jobs_.push_back(&job);
  hold.unlock();
  wake_.notify_all();
  hold.lock();
  // The caller takes pieces of its own job only: one of another job could
  // be long and keep this one waiting.
  while (job.next < job.count) {
    const int index = job.next++;
    if (job.next == job.count) jobs_.erase(std::find(jobs_.begin(), jobs_.end(), &job));
    hold.unlock();
    piece(index);
    hold.lock();
    ++job.finished;
  }
  done_.wait(hold, [&] { return job.finished == job.count; });
}
