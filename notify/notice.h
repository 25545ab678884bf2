#pragma once
// One message for the world outside: an MQTT topic under the prefix and its JSON payload. The
// same payload is what a webhook receives.

#include <string>

namespace zent {

struct Notice {
  std::string topic;    // below the prefix: "door/event", "health"; a discovery topic is absolute
  std::string payload;  // JSON, or a bare word for the availability topics
  bool retained = false;
  bool forWebhooks = true;  // availability and discovery concern only the broker
  bool absoluteTopic = false;
};

// Where notices go: the broker, the webhooks, or both. Never blocks its caller.
class NoticeSink {
 public:
  virtual ~NoticeSink() = default;
  virtual void Send(const Notice& notice) = 0;
};

}  // namespace zent
