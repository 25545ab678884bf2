#pragma once
// What the recording window tells the window that owns it. Every call comes on the GUI thread;
// the owner keeps the recording state, the recording window only reports what happened.

#include <string>

#include "record/video_listener.h"

class RecordingHost {
 public:
  virtual ~RecordingHost() = default;

  // Saving began: the recording's length counts from now.
  virtual void RecordingStarted() = 0;
  // Saving could not begin; the window said why and hides, its viewer kept for the next event.
  virtual void RecordingRefused() = 0;
  // The recording's length is up (the window's timer the owner set).
  virtual void RecordingTimeUp() = 0;
  // The user closed the window: its viewer is gone, a new recorder is needed.
  virtual void RecordingWindowClosed() = 0;
  // The camera changed its picture size. False when a change is already being handled: the
  // window then ignores this one.
  virtual bool VideoModeChanged() = 0;
  virtual void AddStatusLine(const std::string& text) = 0;

  // What the viewer reported that is news: its text is a status line; a recording's file begun,
  // saved, refused or deleted is in it too.
  virtual void VideoReported(const zent::VideoReport& report) = 0;
};
