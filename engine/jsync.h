/*  Kolvex - layer threads
 *
 *  One detached POSIX thread whose body is the virtual run(), a general lock
 *  and the feed handshake: the thread holds feed_mutex while it produces a
 *  frame and waits on feed_cond between frames; the frame loop signals it
 *  once per composited frame without taking the mutex.
 */
#ifndef KOLVEX_JSYNC_H
#define KOLVEX_JSYNC_H

#include <pthread.h>

#include <atomic>

class JSyncThread {
 public:
  JSyncThread();
  virtual ~JSyncThread();
  virtual void run() {}  // the thread's body; the base returns at once

  int start();  // 0 on success, else the pthread_create error
  static void *kickoff(void *arg);

  void lock() { pthread_mutex_lock(&mutex); }
  void unlock() { pthread_mutex_unlock(&mutex); }
  void lock_feed() { pthread_mutex_lock(&feed_mutex); }
  void unlock_feed() { pthread_mutex_unlock(&feed_mutex); }
  void wait_feed() { pthread_cond_wait(&feed_cond, &feed_mutex); }  // holds feed lock
  void signal_feed() { pthread_cond_signal(&feed_cond); }

  pthread_t thread;
  pthread_attr_t attr;
  pthread_mutex_t mutex;
  pthread_mutex_t feed_mutex;
  pthread_cond_t feed_cond;

  // True from start() until run() has returned: the object must not be
  // destroyed while it is set.
  std::atomic<bool> alive{false};

 private:
  JSyncThread(const JSyncThread &) = delete;
  JSyncThread &operator=(const JSyncThread &) = delete;
};

#endif
