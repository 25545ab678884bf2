// A camera's ONVIF answer is untrusted input: every reading of it must hold whatever it says.

#include <cstddef>
#include <cstdint>
#include <string>

#include "onvif/onvif_answers.h"
#include "onvif/onvif_session.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const zent::onvif::Answer answer(text);
  (void)answer.Fault();
  (void)answer.SystemTime();
  (void)answer.ServiceAddress("Events", "events/wsdl");
  (void)answer.SubscriptionMade();
  (void)answer.Renewed();
  (void)answer.ProfileTokens();
  (void)answer.StreamUri();
  zent::onvif::EdgeDetector edges({});
  for (const auto& notification : answer.PulledMessages().notifications) (void)edges.Feed(notification);
  (void)zent::onvif::ParseDateTime(text);
  (void)zent::onvif::ParseDurationSeconds(text);
  return 0;
}
