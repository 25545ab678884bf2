#include "web/job_pool.h"

namespace zent {

JobPool::JobPool(int threads, std::size_t maxQueued) : maxQueued_(maxQueued) {
  for (int i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
}

JobPool::~JobPool() { Stop(); }

bool JobPool::Post(Job job) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_ || queue_.size() >= maxQueued_) return false;
    queue_.push_back(std::move(job));
  }
  ready_.notify_one();
  return true;
}

void JobPool::Stop() {
  {
    std::lock_guard lock(mutex_);
    if (stopping_ && threads_.empty()) return;
    stopping_ = true;
  }
  ready_.notify_all();
  for (std::thread& thread : threads_) thread.join();
  threads_.clear();
  std::deque<Job> left;
  {
    std::lock_guard lock(mutex_);
    left.swap(queue_);
  }
  for (Job& job : left) job(true);
}

void JobPool::Work() {
  for (;;) {
    Job job;
    {
      std::unique_lock lock(mutex_);
      ready_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      job = std::move(queue_.front());
      queue_.pop_front();
    }
    job(false);
  }
}

}  // namespace zent
