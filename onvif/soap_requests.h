#pragma once
// The SOAP 1.2 requests the program sends an ONVIF camera, and their WS-Security log-in.

#include <cstdint>
#include <string>

namespace zent::onvif {

// A UsernameToken with a PasswordDigest: Base64(SHA-1(nonce + created + password)), where
// `created` is the camera's time (ours moved by its offset), so a camera with a wrong clock still
// takes it. `nonce` is 16 fresh random bytes; empty user: no header at all.
std::string SecurityHeader(const std::string& user, const std::string& password, std::int64_t cameraNow);
std::string PasswordDigest(const std::string& nonce, const std::string& created, const std::string& password);
std::string Base64(const std::string& bytes);
std::string XmlEscaped(const std::string& text);
// "2026-12-09T03:40:00Z"
std::string IsoUtc(std::int64_t seconds);

// A whole envelope: the header's parts (security, addressing) and the body's one element.
std::string Envelope(const std::string& header, const std::string& body);
// WS-Addressing for a request to a subscription: its action and the address it goes to.
std::string AddressingHeader(const std::string& action, const std::string& to);

namespace action {
inline constexpr const char* kGetSystemDateAndTime = "http://www.onvif.org/ver10/device/wsdl/GetSystemDateAndTime";
inline constexpr const char* kGetCapabilities = "http://www.onvif.org/ver10/device/wsdl/GetCapabilities";
inline constexpr const char* kGetServices = "http://www.onvif.org/ver10/device/wsdl/GetServices";
inline constexpr const char* kCreatePullPoint =
    "http://www.onvif.org/ver10/events/wsdl/EventPortType/CreatePullPointSubscriptionRequest";
inline constexpr const char* kPullMessages =
    "http://www.onvif.org/ver10/events/wsdl/PullPointSubscription/PullMessagesRequest";
inline constexpr const char* kRenew = "http://docs.oasis-open.org/wsn/bw-2/SubscriptionManager/RenewRequest";
inline constexpr const char* kUnsubscribe =
    "http://docs.oasis-open.org/wsn/bw-2/SubscriptionManager/UnsubscribeRequest";
inline constexpr const char* kGetProfiles = "http://www.onvif.org/ver10/media/wsdl/GetProfiles";
inline constexpr const char* kGetStreamUri = "http://www.onvif.org/ver10/media/wsdl/GetStreamUri";
}  // namespace action

std::string GetSystemDateAndTime();
std::string GetCapabilities();
std::string GetServices();
std::string CreatePullPointSubscription(int terminationSeconds);
std::string PullMessages(int timeoutSeconds, int messageLimit);
std::string Renew(int terminationSeconds);
std::string Unsubscribe();
std::string GetProfiles();
std::string GetStreamUri(const std::string& profileToken);

}  // namespace zent::onvif
