#include "loader.h"

#include "factory.h"

Loader::Loader() : worker_(&Loader::work, this) {}

Loader::~Loader() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  worker_.join();
}

uint64_t Loader::request(const std::string &source) {
  uint64_t ticket;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ticket = next_++;
    queue_.emplace_back(ticket, source);
  }
  wake_.notify_all();
  return ticket;
}

std::vector<Loader::Done> Loader::take() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Done> out;
  out.swap(finished_);
  return out;
}

Loader::Done Loader::wait(uint64_t ticket) {
  std::unique_lock<std::mutex> lock(mutex_);
  waits_++;
  while (true) {
    for (auto it = finished_.begin(); it != finished_.end(); ++it) {
      if (it->ticket != ticket) continue;
      Done d = std::move(*it);
      finished_.erase(it);
      return d;
    }
    done_.wait(lock);
  }
}

size_t Loader::waiting() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.size() + busy_ + finished_.size();
}

void Loader::hold(bool on) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    held_ = on;
  }
  wake_.notify_all();
}

void Loader::work() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    wake_.wait(lock, [this] { return quit_ || (!held_ && !queue_.empty()); });
    if (quit_) return;
    Done d;
    d.ticket = queue_.front().first;
    d.source = queue_.front().second;
    queue_.pop_front();
    busy_++;
    lock.unlock();
    d.layer = make_layer(d.source.c_str(), d.err);
    lock.lock();
    busy_--;
    finished_.push_back(std::move(d));
    done_.notify_all();
  }
}
