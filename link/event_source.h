#pragma once
// One camera's source of events on a thread of its own: the camera's event channel, its ONVIF
// events, or nothing but triggers from outside. Each reports to a SessionHost; each is stopped
// cooperatively: RequestStop never waits, and from then on the source calls nobody.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace zent {

class EventSource {
 public:
  EventSource() = default;
  virtual ~EventSource() = default;
  EventSource(const EventSource&) = delete;
  EventSource& operator=(const EventSource&) = delete;

  void RequestStop();
  bool Running() const { return running_; }
  // True once the thread has ended. For tests and program exit, never for a window.
  bool WaitUntilEnded(std::chrono::milliseconds timeout);
  // Sources whose thread has not ended yet, in the whole process.
  static int LiveSources() { return live_; }

 protected:
  // Runs `source`'s Body on a thread nobody joins (a window may be waiting in a call the source
  // makes to it); false when no thread could be started.
  static bool StartThread(const std::shared_ptr<EventSource>& source);
  virtual void Body() = 0;
  // With mutex_ held, as a stop is asked for: cut short whatever the thread waits in.
  virtual void OnStop() {}
  bool Stopping() const { return stop_; }
  // Waits, or less when a stop comes; false when it did.
  bool Pause(std::chrono::milliseconds duration);

  std::mutex mutex_;

 private:
  std::condition_variable changed_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> running_{true};
  static inline std::atomic<int> live_{0};
};

}  // namespace zent
