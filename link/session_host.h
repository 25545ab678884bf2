#pragma once
// What an event channel session needs from whoever started it. Every call comes from the
// session's own thread; the blocking ones return once the host has dealt with them.

#include <optional>
#include <string>
#include <vector>

namespace zent {

// Where an event came from, for the people and programs told of it.
struct EventOrigin {
  std::string source = "camera";    // "camera" (its event channel), "onvif", "external", "motion"
  std::string topic = {};           // ONVIF: the topic that fired
  std::string item = {};            // ONVIF: the data item that rose, NAME=VALUE
  std::string reason = {};          // from outside: what the trigger said
  std::string by = {};              // from outside: who sent it (a user, a token, MQTT); never a secret
  std::optional<double> area = {};  // motion: the share of the watched picture that moved, percent
  bool operator==(const EventOrigin&) const = default;
};

// How a session ended, when it was not stopped by its host.
enum class SessionEnd {
  Dropped,  // the camera closed, broke off or went silent, or could not be reached: worth trying again
  Final,    // the camera refused the log-in, or the settings cannot work: trying again cannot help
};

// A session's ending as the user is to learn it: first `message`, then `lines`, in that order.
struct SessionEnding {
  SessionEnd end = SessionEnd::Final;
  std::string message;             // empty when the status lines say it all
  std::vector<std::string> lines;  // status lines that follow the message
  // False only where a setting could not be applied: the session then leaves the user's way
  // out of the log-in (Disconnect) as it was, instead of offering a new log-in.
  bool loginOffered = true;
};

class SessionHost {
 public:
  virtual ~SessionHost() = default;

  virtual void AddStatusLine(const std::string& text) = 0;
  // The camera accepted the user: arm recording.
  virtual void LoginAccepted() = 0;
  // The camera reported an event; returns once the host has handled it.
  virtual void CameraEvent(const EventOrigin& origin) = 0;
  // The camera named where its video is (ONVIF); before LoginAccepted, so the video starts there.
  virtual void VideoFound(const std::string& /*url*/) {}
  // The session's last call, never made once it was asked to stop. The host decides how the
  // message reaches the user (one that waits for a person, or a status line when it will log in
  // again by itself) and returns once it has.
  virtual void SessionEnded(const SessionEnding& ending) = 0;
};

}  // namespace zent
