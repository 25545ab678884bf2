#pragma once
// What a camera's ONVIF answers say, read from their XML. An answer is untrusted input like the
// camera's video: at most 1 MiB, read without the network, without a DTD and without entities
// (SOAP allows none), and anything that is not found is simply absent.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zent::onvif {

inline constexpr std::size_t kMaxAnswerBytes = 1 << 20;

struct SoapFault {
  std::string code;     // e.g. "env:Sender"
  std::string subcode;  // the innermost, e.g. "ter:NotAuthorized"
  std::string reason;
  bool NotAuthorized() const;
  // The subscription is not there (the camera restarted, or it ran out): WS-ResourceFramework's
  // ResourceUnknownFault, or a camera's own words for it.
  bool UnknownResource() const;
};

using Items = std::vector<std::pair<std::string, std::string>>;  // SimpleItem Name, Value

struct Notification {
  std::string topic;      // as sent, e.g. "tns1:RuleEngine/CellMotionDetector/Motion"
  std::string operation;  // PropertyOperation: "Initialized", "Changed", "Deleted" or empty
  Items source;
  Items data;
};

struct Subscription {
  std::string address;                                       // the subscription reference's address
  std::optional<std::int64_t> currentTime, terminationTime;  // the camera's clock, seconds since 1970 UTC
};

struct Messages {
  std::vector<Notification> notifications;
  std::optional<std::int64_t> currentTime, terminationTime;
};

// One parsed answer. Not valid() when the text is not a SOAP envelope that could be read.
class Answer {
 public:
  explicit Answer(const std::string& text);
  ~Answer();
  Answer(const Answer&) = delete;
  Answer& operator=(const Answer&) = delete;

  bool Valid() const { return doc_ != nullptr; }
  std::optional<SoapFault> Fault() const;
  // GetSystemDateAndTime: the camera's UTC time.
  std::optional<std::int64_t> SystemTime() const;
  // GetCapabilities or GetServices: the XAddr of the service whose name or namespace has `part`
  // ("Events", "Media"; "events/wsdl", "media/wsdl").
  std::string ServiceAddress(const std::string& capability, const std::string& namespacePart) const;
  std::optional<Subscription> SubscriptionMade() const;  // CreatePullPointSubscription
  Messages PulledMessages() const;                       // PullMessages
  std::optional<Subscription> Renewed() const;           // Renew: the new termination time
  std::vector<std::string> ProfileTokens() const;        // GetProfiles
  std::string StreamUri() const;                         // GetStreamUri

 private:
  void* doc_ = nullptr;   // xmlDoc
  void* body_ = nullptr;  // the envelope's Body element
};

// An xs:dateTime ("2026-12-09T03:40:00Z", with fractions or an offset) as seconds since 1970 UTC.
std::optional<std::int64_t> ParseDateTime(const std::string& text);
// An xs:duration of seconds, minutes and hours ("PT60S", "PT1M"); nothing for anything else.
std::optional<std::int64_t> ParseDurationSeconds(const std::string& text);

}  // namespace zent::onvif
