#include "app/worker_pool.h"

#include <algorithm>

namespace rembiz::app {

WorkerPool::WorkerPool(size_t threads, size_t queue_limit)
    : queue_limit_(std::max<size_t>(queue_limit, 1)) {
  threads = std::max<size_t>(threads, 1);
  workers_.reserve(threads);
  for (size_t i = 0; i < threads; ++i) workers_.emplace_back([this] { Work(); });
}

WorkerPool::~WorkerPool() { Shutdown(); }

bool WorkerPool::TrySubmit(std::function<void()> job) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_ || jobs_.size() >= queue_limit_) return false;
    jobs_.push_back(std::move(job));
  }
  wake_.notify_one();
  return true;
}

size_t WorkerPool::Waiting() const {
  std::lock_guard lock(mutex_);
  return jobs_.size();
}

void WorkerPool::Shutdown() {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void WorkerPool::Work() {
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      if (jobs_.empty()) return;  // stopping and nothing left to do
      job = std::move(jobs_.front());
      jobs_.pop_front();
      ++busy_;
    }
    job();
    --busy_;
  }
}

}  // namespace rembiz::app
