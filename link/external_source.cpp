#include "link/external_source.h"

namespace zent {

std::shared_ptr<ExternalSource> ExternalSource::Start(std::shared_ptr<SessionHost> host) {
  std::shared_ptr<ExternalSource> source(new ExternalSource(std::move(host)));
  return StartThread(source) ? source : nullptr;
}

std::string TriggerLine(const EventOrigin& origin) {
  return ">>> Trigger from " + (origin.by.empty() ? std::string("outside") : origin.by) +
         (origin.reason.empty() ? "." : ": " + origin.reason);
}

void ExternalSource::Body() {
  if (!Stopping()) host_->AddStatusLine("Waiting for triggers from outside.");
  if (!Stopping()) host_->LoginAccepted();
}

}  // namespace zent
