#pragma once
// A session host that writes down every call, for tests of the event channel without windows.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "link/session_host.h"

namespace zent::testing {

class FakeSessionHost : public SessionHost {
 public:
  struct Call {
    std::string what;  // "status: TEXT", "box: TEXT", "login", "event", "reset"
    std::chrono::steady_clock::time_point when;
  };

  void AddStatusLine(const std::string& text) override { Record("status: " + text); }
  void ShowMessage(const std::string& text) override { Record("box: " + text); }
  void LoginAccepted() override { Record("login"); }
  void CameraEvent() override {
    Record("event");
    if (onCameraEvent) onCameraEvent();
  }
  void ResetButtons() override { Record("reset"); }
  void SessionEnded(SessionEnd end) override {
    std::lock_guard lock(mutex_);
    ended_ = end;
  }
  std::optional<SessionEnd> Ended() {
    std::lock_guard lock(mutex_);
    return ended_;
  }

  // Runs inside CameraEvent, on the session's thread, before it returns.
  std::function<void()> onCameraEvent;

  std::vector<std::string> Calls() {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const auto& c : calls_) out.push_back(c.what);
    return out;
  }
  std::vector<Call> TimedCalls() {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  // Waits until the `count`-th call equal to `what` was made.
  bool WaitFor(const std::string& what, std::chrono::milliseconds timeout, int count = 1) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
      int seen = 0;
      for (const auto& c : calls_) seen += c.what == what;
      return seen >= count;
    });
  }

 private:
  void Record(std::string what) {
    std::lock_guard lock(mutex_);
    calls_.push_back({std::move(what), std::chrono::steady_clock::now()});
    changed_.notify_all();
  }
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Call> calls_;
  std::optional<SessionEnd> ended_;
};

}  // namespace zent::testing
