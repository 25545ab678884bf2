#pragma once
// Whether each camera can record now, for /healthz and for the alarm of a camera that stopped
// recording by itself: the silent failure people fear most in a recorder.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "record/camera_feed.h"
#include "web/camera_board.h"

namespace zent {

struct CameraHealth {
  std::string id;
  std::string address;
  std::vector<std::string> problems;  // empty: healthy
};

// Healthy: logged in, and its video arrived within `videoWithin`. `since` is when the program began
// watching, for cameras that never sent a frame.
std::vector<CameraHealth> HealthOf(const std::vector<CameraState>& cameras, CameraFeeds& feeds,
                                   std::chrono::system_clock::time_point now, std::chrono::milliseconds videoWithin);

struct AlarmLimits {
  std::chrono::milliseconds noVideo{60000};
  int relogins = 3;  // the event channel down past this many attempts to log in again
  std::chrono::milliseconds checkEvery{1000};
};

// Raises a camera's "not recording" once per outage and says once when it is back.
class NotRecordingAlarm {
 public:
  using Raise =
      std::function<void(const std::string& address, const std::string& id, bool down, const std::string& text)>;
  NotRecordingAlarm(CameraBoard& board, CameraFeeds& feeds, Raise raise, AlarmLimits limits = {});
  ~NotRecordingAlarm();
  NotRecordingAlarm(const NotRecordingAlarm&) = delete;
  NotRecordingAlarm& operator=(const NotRecordingAlarm&) = delete;

  // One look at every camera; the thread does this every `checkEvery`.
  void Check(std::chrono::system_clock::time_point now);

 private:
  CameraBoard& board_;
  CameraFeeds& feeds_;
  const Raise raise_;
  const AlarmLimits limits_;
  struct Watched {
    std::chrono::system_clock::time_point since;
    bool down = false;
  };
  std::mutex checkMutex_;                   // a test's Check beside the thread's
  std::map<std::string, Watched> watched_;  // by address
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace zent
