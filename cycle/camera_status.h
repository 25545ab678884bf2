#pragma once
// One camera's state as its cycle's events and the video engine's reports tell it, read the same
// way by everything that shows a camera (the web page's board, the notifications, the health
// alarm): logged in, video arriving, recorder ready, recording and into which file, and the
// counters a monitor wants.

#include <cstdint>
#include <map>
#include <string>

#include "cycle/recording_cycle.h"

namespace zent {

struct CameraStatus {
  bool loggedIn = false;
  bool video = false;
  bool recorderReady = false;  // ready for the next event
  bool recording = false;
  std::string recordingPath;  // the file being written while recording
  std::uint64_t events = 0;
  std::map<std::string, std::uint64_t> eventsBySource;  // "camera", "onvif", "external", "motion"
  EventOrigin lastOrigin;
  std::uint64_t recordings = 0;
  std::uint64_t reconnects = 0;  // log-ins after the first, and the video coming back
  int dropsSinceLogin = 0;       // the event channel's drops since it was last logged in
  bool gaveUp = false;           // not logging in again by itself
  bool everLoggedIn = false;

  // What an event or report was, for those that pass it on.
  enum class Change { None, State, Event, Recording };
  Change Apply(const CycleEvent& event);
  Change Apply(const VideoReport& report);
};

}  // namespace zent
