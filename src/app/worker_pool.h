// The threads that run business calls for the HTTP service, behind a bounded queue: when the
// queue is full a call is refused at once (the service answers 503) instead of piling up.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace rembiz::app {

class WorkerPool {
 public:
  // `threads` workers and at most `queue_limit` jobs waiting for a worker (both at least one).
  WorkerPool(size_t threads, size_t queue_limit);
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;
  ~WorkerPool();

  // Queues the job; false (and the job is dropped) when the queue is full or the pool stops.
  // Jobs must not throw (wrap them in a std::packaged_task to carry a failure back).
  bool TrySubmit(std::function<void()> job);
  // Refuses new jobs, lets the queued and running ones finish and joins the workers.
  void Shutdown();

  size_t Threads() const { return workers_.size(); }
  // Jobs queued and not yet taken by a worker.
  size_t Waiting() const;
  size_t QueueLimit() const { return queue_limit_; }
  // Workers running a job right now.
  size_t Busy() const { return busy_.load(); }

 private:
  void Work();

  const size_t queue_limit_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  bool stopping_ = false;
  std::atomic<size_t> busy_ = 0;
  std::vector<std::thread> workers_;
};

}  // namespace rembiz::app
