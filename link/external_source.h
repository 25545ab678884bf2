#pragma once
// A camera recorded only on triggers from outside (the web page, MQTT): there is nothing to log in
// to, so the source says so and hands the recorder over at once.

#include <memory>
#include <string>

#include "link/event_source.h"
#include "link/session_host.h"

namespace zent {

// The status line of a trigger from outside: who sent it and what it said, e.g.
// ">>> Trigger from token doorbell: front door".
std::string TriggerLine(const EventOrigin& origin);

class ExternalSource : public EventSource {
 public:
  static std::shared_ptr<ExternalSource> Start(std::shared_ptr<SessionHost> host);

 private:
  explicit ExternalSource(std::shared_ptr<SessionHost> host) : host_(std::move(host)) {}
  void Body() override;

  const std::shared_ptr<SessionHost> host_;
};

}  // namespace zent
