#include "link/event_source.h"

#include <system_error>
#include <thread>

namespace zent {

bool EventSource::StartThread(const std::shared_ptr<EventSource>& source) {
  ++live_;
  try {
    std::thread([held = source]() mutable {
      held->Body();
      {
        std::lock_guard lock(held->mutex_);
        held->running_ = false;
      }
      held->changed_.notify_all();
      held.reset();
      --live_;
    }).detach();
  } catch (const std::system_error&) {
    --live_;
    return false;
  }
  return true;
}

void EventSource::RequestStop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
    OnStop();
  }
  changed_.notify_all();
}

bool EventSource::WaitUntilEnded(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [this] { return !running_; });
}

bool EventSource::Pause(std::chrono::milliseconds duration) {
  std::unique_lock lock(mutex_);
  return !changed_.wait_for(lock, duration, [this] { return stop_.load(); });
}

}  // namespace zent
