#pragma once
// One camera's recording cycle without a window: log in, keep the video running while armed,
// record each event for the profile's minutes, log in again after a drop. A plain state
// machine: its host does the work, and the caller feeds it what happened and the time, so it
// can be driven by any loop and tested without sockets or clocks.

#include <chrono>
#include <optional>
#include <string>

#include "link/relogin.h"
#include "link/session_host.h"

namespace zent {

class CycleHost {
 public:
  virtual ~CycleHost() = default;
  virtual void StartSession() = 0;  // log in, with the same camera and credentials every time
  virtual void StopSession() = 0;
  virtual void StartVideo() = 0;
  virtual void StopVideo() = 0;  // closes an open recording with its index
  // Marks the event and creates the next recording; false when it could not (the host said why).
  virtual bool StartRecording() = 0;
  virtual void StopRecording() = 0;
  virtual void Status(const std::string& text) = 0;
};

struct CycleSettings {
  int fileMinutes = 10;
  std::chrono::milliseconds minute{60000};
  bool relogin = true;
  ReloginSchedule reloginSchedule;
  // After the camera changed its picture size, as long as the desktop program waits.
  std::chrono::milliseconds modeChangePause{10000};
};

class RecordingCycle {
 public:
  using Clock = std::chrono::steady_clock;

  RecordingCycle(CycleHost& host, CycleSettings settings);

  void Start(Clock::time_point now);
  // Stops everything; an open recording is closed. Nothing happens after this.
  void Stop();

  void LoginAccepted(Clock::time_point now);
  void CameraEvent(Clock::time_point now);
  void SessionEnded(SessionEnd end, Clock::time_point now);
  void VideoModeChanged(Clock::time_point now);
  // Acts on whatever came due by `now`.
  void Tick(Clock::time_point now);
  // When Tick has something to do next; nothing while only waiting for the camera.
  std::optional<Clock::time_point> NextDeadline() const;

  bool Recording() const { return recordingUntil_.has_value(); }
  bool VideoRunning() const { return video_ == Video::Running; }

 private:
  enum class Session { Off, LoggingIn, LoggedIn, WaitingToLogIn, GaveUp };
  enum class Video { Off, Running, Pausing };

  void EndRecording();

  CycleHost& host_;
  const CycleSettings settings_;
  bool stopped_ = false;
  Session session_ = Session::Off;
  Video video_ = Video::Off;
  std::size_t reloginAttempt_ = 0;
  std::optional<Clock::time_point> recordingUntil_;
  Clock::time_point reloginAt_;
  Clock::time_point videoAgainAt_;
};

}  // namespace zent
