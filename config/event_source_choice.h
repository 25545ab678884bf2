#pragma once
// Which source starts a camera's recordings, as the Options name it per camera address:
// "camera" (its own event channel on the profile's private port; the default), "onvif" or
// "onvif:PORT" (ONVIF events from the device service on that port, 80 by default), "external"
// (only triggers from outside), "motion" (motion in the camera's picture, and triggers).

#include <optional>
#include <string>

namespace zent {

struct EventSourceChoice {
  enum class Kind { Camera, Onvif, External, Motion };
  Kind kind = Kind::Camera;
  int port = 80;  // Onvif: the device service's port
  bool operator==(const EventSourceChoice&) const = default;
};

// Nothing when `text` is none of the above; an empty text is the default.
std::optional<EventSourceChoice> ParseEventSource(const std::string& text);
// The name the Options, the status lines and the notices use: "camera", "onvif", "external", "motion".
const char* SourceName(EventSourceChoice::Kind kind);
// The Options' own spelling: "onvif:8000" where the port is not 80.
std::string EventSourceText(const EventSourceChoice& choice);

}  // namespace zent
