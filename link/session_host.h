#pragma once
// What an event channel session needs from the window that started it. Every call comes from
// the session's own thread; the blocking ones return once the window has dealt with them.

#include <string>

namespace zent {

// How a session ended, when it was not stopped by its window.
enum class SessionEnd {
  Dropped,  // the camera closed, broke off or went silent, or could not be reached: worth trying again
  Final,    // the camera refused the log-in, or the settings cannot work: trying again cannot help
};

class SessionHost {
 public:
  virtual ~SessionHost() = default;

  virtual void AddStatusLine(const std::string& text) = 0;
  // A modal box with an OK button; returns when the user dismissed it.
  virtual void ShowMessage(const std::string& text) = 0;
  // The camera accepted the user: arm recording.
  virtual void LoginAccepted() = 0;
  // The camera reported an event; returns once the window has handled it.
  virtual void CameraEvent() = 0;
  // Log-In enabled, Disconnect disabled.
  virtual void ResetButtons() = 0;
  // The session's last call. With SessionSettings::keepTrying, a Dropped session showed no box and
  // did not reset the buttons: the window is to log in again.
  virtual void SessionEnded(SessionEnd end) = 0;
};

}  // namespace zent
