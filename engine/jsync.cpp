#include "jsync.h"

#include "jutils.h"

JSyncThread::JSyncThread() : thread() {
  if (pthread_mutex_init(&mutex, nullptr)) error("error initializing POSIX thread mutex");
  if (pthread_attr_init(&attr)) error("error initializing POSIX thread attribute");
  if (pthread_mutex_init(&feed_mutex, nullptr))
    error("error initializing POSIX thread feed mutex");
  if (pthread_cond_init(&feed_cond, nullptr))
    error("error initializing POSIX thread feed condtition");
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
}

JSyncThread::~JSyncThread() {
  if (pthread_mutex_destroy(&mutex)) error("error destroying POSIX thread mutex");
  if (pthread_attr_destroy(&attr)) error("error destroying POSIX thread attribute");
  if (pthread_mutex_destroy(&feed_mutex)) error("error destroying POSIX thread feed mutex");
  if (pthread_cond_destroy(&feed_cond)) error("error destroying POSIX thread feed attribute");
}

int JSyncThread::start() {
  alive = true;
  int res = pthread_create(&thread, &attr, kickoff, this);
  if (res) alive = false;
  return res;
}

void *JSyncThread::kickoff(void *arg) {
  JSyncThread *self = static_cast<JSyncThread *>(arg);
  self->run();
  self->alive = false;  // the thread's last touch of the object
  return nullptr;
}
