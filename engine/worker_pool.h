/*  Kolvex - the frame's worker threads
 *
 *  A fixed set of threads sharing out the pieces of a job: the bands of
 *  the screen, the rows of a colour conversion, the slices of a scaled
 *  video frame, the pictures of a PNG capture. The thread that runs a job
 *  works on its pieces beside the workers and returns once all are done,
 *  so a pool of one thread is the caller alone (no thread is made), and a
 *  job started from inside a piece never waits on itself. Any thread may
 *  run a job; jobs run by several threads at once share the workers.
 *
 *  Pieces are handed out in order but finish in any order: a job whose
 *  pieces write apart (rows, bands, files) gives the same bytes on any
 *  number of threads.
 */
#ifndef KOLVEX_WORKER_POOL_H
#define KOLVEX_WORKER_POOL_H

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class WorkerPool {
 public:
  // `threads` in all, the caller counted: 0 is the machine's cores.
  explicit WorkerPool(int threads = 0);
  ~WorkerPool();  // the workers joined; no job may be running

  // The threads a job runs on, the caller counted (at least 1).
  int threads() const { return threads_; }
  // Another count (0: the machine's cores), clamped to 1..kMaxThreads.
  // Between jobs: waits for the workers to finish what they have.
  void set_threads(int threads);

  // piece(i) for every i in [0, count), on the caller and the workers;
  // returns when every piece has returned. count <= 0 runs nothing.
  void run(int count, const std::function<void(int)> &piece);

  // The processor cores this process may use (at least 1).
  static int cores();
  static constexpr int kMaxThreads = 256;

 private:
  struct Job;
  void start(int threads);
  void stop();
  void work();
  bool take(Job *&job, int &index);  // the next piece of any job; mutex held

  int threads_ = 1;
  std::mutex mutex_;
  std::condition_variable wake_, done_;
  std::vector<Job *> jobs_;  // jobs with pieces not yet handed out
  std::vector<std::thread> workers_;
  bool quit_ = false;

  WorkerPool(const WorkerPool &) = delete;
  WorkerPool &operator=(const WorkerPool &) = delete;
};

#endif
