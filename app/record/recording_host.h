#pragma once
// What the recording window tells the window that owns it. Every call comes on the GUI thread;
// the owner keeps the recording state, the recording window only reports what happened.

#include <string>

class RecordingHost {
 public:
  virtual ~RecordingHost() = default;

  // The viewer is laid out and may take the event that showed the window.
  virtual void RecorderReady() = 0;
  virtual void RecordingStarted() = 0;
  // The control was told to stop saving.
  virtual void RecordingStopped() = 0;
  // The recording ran its length; the window hides and keeps its viewer for the next event.
  virtual void RecordingFinished() = 0;
  // The user closed the window: its viewer is gone, a new recorder is needed.
  virtual void RecordingWindowClosed() = 0;
  // The camera changed its picture size. False when a change is already being handled: the
  // window then ignores this one.
  virtual bool VideoModeChanged() = 0;
  virtual void AddStatusLine(const std::string& text) = 0;

  // A recording's file appeared, was finished, or is gone (nothing kept, or deleted for room).
  enum class FileChange { Started, Saved, Removed };
  virtual void RecordingFileChanged(FileChange change, const std::string& path) = 0;
};
