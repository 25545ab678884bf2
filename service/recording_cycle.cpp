#include "service/recording_cycle.h"

#include <algorithm>

namespace zent {

RecordingCycle::RecordingCycle(CycleHost& host, CycleSettings settings) : host_(host), settings_(std::move(settings)) {}

void RecordingCycle::Start(Clock::time_point) {
  if (session_ != Session::Off || stopped_) return;
  host_.Status("Connecting server...");
  session_ = Session::LoggingIn;
  host_.StartSession();
}

void RecordingCycle::Stop() {
  if (stopped_) return;
  stopped_ = true;
  EndRecording();
  if (session_ == Session::LoggingIn || session_ == Session::LoggedIn) host_.StopSession();
  if (video_ == Video::Running) host_.StopVideo();
  session_ = Session::Off;
  video_ = Video::Off;
}

void RecordingCycle::LoginAccepted(Clock::time_point) {
  if (stopped_ || session_ != Session::LoggingIn) return;
  session_ = Session::LoggedIn;
  reloginAttempt_ = 0;
  // Logged in again after a drop, the video never stopped: a recording goes on to its end.
  if (video_ == Video::Off) {
    host_.StartVideo();
    video_ = Video::Running;
  }
}

void RecordingCycle::CameraEvent(Clock::time_point now) {
  if (stopped_ || session_ != Session::LoggedIn || video_ != Video::Running || Recording()) return;
  if (!host_.StartRecording()) return;  // armed still: the next event tries again
  recordingUntil_ = now + std::max(0, settings_.fileMinutes) * settings_.minute;
}

void RecordingCycle::SessionEnded(SessionEnd end, Clock::time_point now) {
  if (stopped_ || (session_ != Session::LoggingIn && session_ != Session::LoggedIn)) return;
  if (end == SessionEnd::Dropped && settings_.relogin) {
    const std::chrono::milliseconds delay = settings_.reloginSchedule.DelayFor(reloginAttempt_++);
    host_.Status(ReloginStatusLine(delay));
    session_ = Session::WaitingToLogIn;
    reloginAt_ = now + delay;
    return;
  }
  // Nothing will log in again by itself: the camera refused us, or we were told not to try.
  session_ = Session::GaveUp;
  EndRecording();
  if (video_ == Video::Running) host_.StopVideo();
  video_ = Video::Off;
  host_.Status("Not logging in again until the configuration is reloaded.");
}

void RecordingCycle::VideoModeChanged(Clock::time_point now) {
  if (stopped_ || video_ != Video::Running) return;
  host_.Status("[[[ Video Mode is Changed. ]]]");
  EndRecording();
  host_.StopVideo();
  video_ = Video::Pausing;
  videoAgainAt_ = now + settings_.modeChangePause;
}

void RecordingCycle::Tick(Clock::time_point now) {
  if (stopped_) return;
  if (recordingUntil_ && now >= *recordingUntil_) EndRecording();
  if (session_ == Session::WaitingToLogIn && now >= reloginAt_) {
    host_.Status("Connecting server...");
    session_ = Session::LoggingIn;
    host_.StartSession();
  }
  if (video_ == Video::Pausing && now >= videoAgainAt_) {
    if (session_ == Session::GaveUp) {
      video_ = Video::Off;
    } else {
      host_.StartVideo();
      video_ = Video::Running;
    }
  }
}

std::optional<RecordingCycle::Clock::time_point> RecordingCycle::NextDeadline() const {
  std::optional<Clock::time_point> next = recordingUntil_;
  auto consider = [&next](Clock::time_point at) {
    if (!next || at < *next) next = at;
  };
  if (session_ == Session::WaitingToLogIn) consider(reloginAt_);
  if (video_ == Video::Pausing) consider(videoAgainAt_);
  if (stopped_) next.reset();
  return next;
}

void RecordingCycle::EndRecording() {
  if (!recordingUntil_) return;
  recordingUntil_.reset();
  host_.StopRecording();
}

}  // namespace zent
