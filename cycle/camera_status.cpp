#include "cycle/camera_status.h"

namespace zent {

CameraStatus::Change CameraStatus::Apply(const CycleEvent& event) {
  using Kind = CycleEvent::Kind;
  switch (event.kind) {
    case Kind::LoggedIn:
      if (everLoggedIn) ++reconnects;
      loggedIn = everLoggedIn = true;
      dropsSinceLogin = 0;
      gaveUp = false;
      return Change::State;
    case Kind::RecorderReady: recorderReady = true; return Change::State;
    case Kind::CameraEvent:
      ++events;
      ++eventsBySource[event.origin.source];
      lastOrigin = event.origin;
      return Change::Event;
    case Kind::SessionDropped:
      loggedIn = recorderReady = false;
      ++dropsSinceLogin;
      return Change::State;
    case Kind::GaveUp:
      loggedIn = recorderReady = false;
      gaveUp = true;
      return Change::State;
    default: return Change::None;
  }
}

CameraStatus::Change CameraStatus::Apply(const VideoReport& report) {
  using Kind = VideoReport::Kind;
  switch (report.kind) {
    case Kind::Connected:
    case Kind::StreamBack:
      if (report.kind == Kind::StreamBack) ++reconnects;
      video = true;
      return Change::State;
    case Kind::NoVideo:
    case Kind::StreamLost: video = false; return Change::State;
    case Kind::RecordingStarted:
      recording = true;
      recordingPath = report.path;
      ++recordings;
      return Change::Recording;
    case Kind::RecordingSaved:
    case Kind::RecordingFailed:
      recording = false;
      recordingPath.clear();
      return Change::Recording;
    case Kind::RecordingDeleted: return Change::Recording;
    default: return Change::None;
  }
}

}  // namespace zent
