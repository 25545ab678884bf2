#pragma once
// A camera's ONVIF events as an event source: the camera's clock, a log-in by WS-Security (or
// HTTP Digest where the camera asks for it), a pull-point subscription kept alive by renewals,
// and each rising edge of a watched topic handed over as one event. A refused log-in ends the
// session for good; anything the camera may mend by itself (no answer, a lost subscription, a
// fault) is a drop, logged in again by the recording cycle as the event channel's drops are.

#include <chrono>
#include <functional>
#include <optional>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "link/event_source.h"
#include "link/session_host.h"
#include "onvif/onvif_answers.h"

namespace zent::onvif {

struct OnvifSettings {
  std::string address;  // the configured camera address: every request goes there
  int port = 80;        // the device service's
  std::string user, password;
  bool askVideo = false;            // ask the camera where its video is (no URL in the Options)
  std::vector<std::string> topics;  // parts of the topics that are events; empty: the usual ones
  int terminationSeconds = 60;      // asked for each subscription
  int pullSeconds = 10;             // each PullMessages waits this long for news
};

// The topics cameras use for motion and their inputs.
const std::vector<std::string>& DefaultTopics();

// Tells the events from a camera's notifications: a watched topic whose true/false data item
// rises, or a message of a watched topic that has no such item (a line crossed). "Initialized"
// messages are the state at subscription: remembered, never events.
class EdgeDetector {
 public:
  explicit EdgeDetector(std::vector<std::string> topics);
  // The origin of the event this notification is, or nothing.
  std::optional<EventOrigin> Feed(const Notification& notification);

 private:
  std::vector<std::string> topics_;
  std::map<std::string, bool> state_;  // by topic, source and item
};

class OnvifSession : public EventSource {
 public:
  static std::shared_ptr<OnvifSession> Start(OnvifSettings settings, std::shared_ptr<SessionHost> host);
  ~OnvifSession() override;  // leaves no copy of the password in freed memory

 private:
  class Camera;

  OnvifSession(OnvifSettings settings, std::shared_ptr<SessionHost> host);
  void Body() override;
  SessionEnding Run();
  // The clock, the log-in, the services and (when asked) the video; an ending when it failed.
  std::optional<SessionEnding> LogIn(Camera& camera, std::string& eventsUrl);
  void FindVideo(Camera& camera, const std::string& mediaUrl);
  // Subscriptions, renewed or made again, pulled until a stop or a drop.
  SessionEnding Listen(Camera& camera, const std::string& eventsUrl);
  void Tell(const std::optional<EventOrigin>& origin);
  SessionEnding Drop(const std::string& why);
  void Status(const std::string& text);

  OnvifSettings settings_;
  const std::shared_ptr<SessionHost> host_;
};

}  // namespace zent::onvif
