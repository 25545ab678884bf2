#include "notify/camera_notifier.h"

#include "notify/notices.h"

namespace zent {

CameraNotifier::CameraNotifier(NoticeSink& sink, const std::string& prefix, const std::string& cameraAddress)
    : sink_(sink), camera_(TopicName(cameraAddress)) {
  for (const Notice& notice : DiscoveryNotices(prefix, camera_, cameraAddress)) sink_.Send(notice);
  sink_.Send(MotionNotice(camera_, false));
  SayState("starting");
}

void CameraNotifier::SayState(const std::string& reason) {
  const bool online = status_.loggedIn && status_.video;
  // A new reason is news too: why a camera is offline changes as it is logged in again.
  if (stateSent_ && online == online_ && reason == reason_) return;
  online_ = online;
  reason_ = reason;
  stateSent_ = true;
  sink_.Send(StatusNotice(camera_, online, reason, std::chrono::system_clock::now()));
}

void CameraNotifier::OnCycleEvent(const CycleEvent& event) {
  const auto now = std::chrono::system_clock::now();
  status_.Apply(event);
  switch (event.kind) {
    case CycleEvent::Kind::CameraEvent:
      // At once, before any recording: the fastest path from the camera to a phone.
      sink_.Send(EventNotice(camera_, now, ++sequence_, event.origin));
      if (!status_.recording) sink_.Send(MotionNotice(camera_, true));
      break;
    case CycleEvent::Kind::LoggedIn:
      SayState(status_.video ? "logged in, video arriving" : "logged in, waiting for video");
      break;
    case CycleEvent::Kind::SessionDropped: SayState("event channel dropped; logging in again"); break;
    case CycleEvent::Kind::GaveUp: SayState("event channel ended; not logging in again"); break;
    case CycleEvent::Kind::RecordingEnded:
      if (status_.recording) break;  // the saved report turns the motion off
      sink_.Send(MotionNotice(camera_, false));
      break;
    default: break;
  }
}

void CameraNotifier::OnVideoReport(const VideoReport& report) {
  using Kind = VideoReport::Kind;
  const auto now = std::chrono::system_clock::now();
  status_.Apply(report);
  switch (report.kind) {
    case Kind::Connected:
    case Kind::StreamBack:
      SayState(status_.loggedIn ? "logged in, video arriving" : "video arriving, not logged in");
      break;
    case Kind::NoVideo:
    case Kind::StreamLost: SayState(report.text); break;
    default: break;
  }
  for (const Notice& notice : RecordingNotices(camera_, report, now)) sink_.Send(notice);
  for (const Notice& notice : HealthNotices(camera_, report, now)) sink_.Send(notice);
  if (report.kind == Kind::RecordingSaved || report.kind == Kind::RecordingFailed) {
    // The event is over once its file is.
    sink_.Send(MotionNotice(camera_, false));
  }
}

}  // namespace zent
