#pragma once
// A camera's recordings as its cycle starts and ends them, timed on CLOCK_MONOTONIC (the clock
// zent-camsim stamps its lines with), for benchmarks that measure from the camera to a recording.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "cycle/recording_cycle.h"

namespace bench {

class RecordingStarts : public zent::CycleObserver {
 public:
  void OnCycleEvent(const zent::CycleEvent& event) override {
    std::lock_guard lock(mutex_);
    const double now = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    if (event.kind == zent::CycleEvent::Kind::RecordingStarted) started_.push_back(now);
    if (event.kind == zent::CycleEvent::Kind::RecordingEnded) ++ended_;
    if (event.kind == zent::CycleEvent::Kind::RecorderReady) ++ready_;
    changed_.notify_all();
  }
  bool Wait(const std::function<bool()>& done) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(15), done);
  }
  std::vector<double> started_;  // seconds
  int ended_ = 0, ready_ = 0;
  std::mutex mutex_;
  std::condition_variable changed_;
};

}  // namespace bench
