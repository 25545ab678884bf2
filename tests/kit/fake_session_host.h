#pragma once
// A session host that writes down every call, for tests of the event channel without windows. It
// tells an ending as the main window does: a box, or a status line when it logs in again, then
// the ending's lines, then the buttons back unless it logs in again.

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
  void LoginAccepted() override { Record("login"); }
  void CameraEvent(const EventOrigin& origin) override {
    Record(origin.source == "camera" ? "event" : "event: " + origin.source + " " + origin.topic + " " + origin.item);
    if (onCameraEvent) onCameraEvent();
  }
  void VideoFound(const std::string& url) override { Record("video: " + url); }
  void SessionEnded(const SessionEnding& ending) override {
    const bool again = logsInAgain && ending.end == SessionEnd::Dropped;
    if (!ending.message.empty()) Record((again ? "status: " : "box: ") + ending.message);
    for (const std::string& line : ending.lines) Record("status: " + line);
    if (ending.loginOffered && !again) Record("reset");
    std::lock_guard lock(mutex_);
    ended_ = ending.end;
  }
  std::optional<SessionEnd> Ended() {
    std::lock_guard lock(mutex_);
    return ended_;
  }

  // Set before the session starts: a dropped session is followed by a new log-in.
  bool logsInAgain = false;
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
