#pragma once
// A fixed number of threads taking jobs from a bounded queue: work beyond the bound is refused at
// once, never queued without end.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace zent {

class JobPool {
 public:
  using Job = std::function<void(bool cancelled)>;
  JobPool(int threads, std::size_t maxQueued);
  ~JobPool();  // Stop
  JobPool(const JobPool&) = delete;
  JobPool& operator=(const JobPool&) = delete;

  // False when the queue is full or the pool stopped: the job is not taken.
  bool Post(Job job);
  // Runs what is running to its end, hands every queued job `cancelled`, joins the threads.
  void Stop();

 private:
  void Work();
  const std::size_t maxQueued_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Job> queue_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace zent
