#include "onvif/soap_requests.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <ctime>
#include <vector>

namespace zent::onvif {

std::string Base64(const std::string& bytes) {
  std::vector<unsigned char> out(4 * ((bytes.size() + 2) / 3) + 1);
  const int n =
      EVP_EncodeBlock(out.data(), reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
  return std::string(reinterpret_cast<const char*>(out.data()), static_cast<std::size_t>(n));
}

std::string PasswordDigest(const std::string& nonce, const std::string& created, const std::string& password) {
  const std::string input = nonce + created + password;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(input.data(), input.size(), digest, &length, EVP_sha1(), nullptr);
  return Base64(std::string(reinterpret_cast<const char*>(digest), length));
}

std::string XmlEscaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string IsoUtc(std::int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm utc{};
  ::gmtime_r(&t, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string SecurityHeader(const std::string& user, const std::string& password, std::int64_t cameraNow) {
  if (user.empty()) return {};
  unsigned char raw[16];
  if (RAND_bytes(raw, sizeof raw) != 1) return {};
  const std::string nonce(reinterpret_cast<const char*>(raw), sizeof raw);
  const std::string created = IsoUtc(cameraNow);
  return "<wsse:Security s:mustUnderstand=\"1\" "
         "xmlns:wsse=\"http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-secext-1.0.xsd\" "
         "xmlns:wsu=\"http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-utility-1.0.xsd\">"
         "<wsse:UsernameToken><wsse:Username>" +
         XmlEscaped(user) +
         "</wsse:Username><wsse:Password Type=\"http://docs.oasis-open.org/wss/2004/01/"
         "oasis-200401-wss-username-token-profile-1.0#PasswordDigest\">" +
         PasswordDigest(nonce, created, password) +
         "</wsse:Password><wsse:Nonce EncodingType=\"http://docs.oasis-open.org/wss/2004/01/"
         "oasis-200401-wss-soap-message-security-1.0#Base64Binary\">" +
         Base64(nonce) + "</wsse:Nonce><wsu:Created>" + created + "</wsu:Created></wsse:UsernameToken></wsse:Security>";
}

std::string AddressingHeader(const std::string& action, const std::string& to) {
  return "<wsa:Action>" + XmlEscaped(action) + "</wsa:Action><wsa:To>" + XmlEscaped(to) + "</wsa:To>";
}

std::string Envelope(const std::string& header, const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
         "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
         "xmlns:wsa=\"http://www.w3.org/2005/08/addressing\" "
         "xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\" "
         "xmlns:tev=\"http://www.onvif.org/ver10/events/wsdl\" "
         "xmlns:wsnt=\"http://docs.oasis-open.org/wsn/b-2\" "
         "xmlns:trt=\"http://www.onvif.org/ver10/media/wsdl\" "
         "xmlns:tt=\"http://www.onvif.org/ver10/schema\">"
         "<s:Header>" +
         header + "</s:Header><s:Body>" + body + "</s:Body></s:Envelope>";
}

std::string GetSystemDateAndTime() { return "<tds:GetSystemDateAndTime/>"; }
std::string GetCapabilities() { return "<tds:GetCapabilities><tds:Category>All</tds:Category></tds:GetCapabilities>"; }
std::string GetServices() {
  return "<tds:GetServices><tds:IncludeCapability>false</tds:IncludeCapability></tds:GetServices>";
}

std::string CreatePullPointSubscription(int terminationSeconds) {
  return "<tev:CreatePullPointSubscription><tev:InitialTerminationTime>PT" + std::to_string(terminationSeconds) +
         "S</tev:InitialTerminationTime></tev:CreatePullPointSubscription>";
}

std::string PullMessages(int timeoutSeconds, int messageLimit) {
  return "<tev:PullMessages><tev:Timeout>PT" + std::to_string(timeoutSeconds) + "S</tev:Timeout><tev:MessageLimit>" +
         std::to_string(messageLimit) + "</tev:MessageLimit></tev:PullMessages>";
}

std::string Renew(int terminationSeconds) {
  return "<wsnt:Renew><wsnt:TerminationTime>PT" + std::to_string(terminationSeconds) +
         "S</wsnt:TerminationTime></wsnt:Renew>";
}

std::string Unsubscribe() { return "<wsnt:Unsubscribe/>"; }
std::string GetProfiles() { return "<trt:GetProfiles/>"; }

std::string GetStreamUri(const std::string& profileToken) {
  return "<trt:GetStreamUri><trt:StreamSetup><tt:Stream>RTP-Unicast</tt:Stream><tt:Transport><tt:Protocol>RTSP"
         "</tt:Protocol></tt:Transport></trt:StreamSetup><trt:ProfileToken>" +
         XmlEscaped(profileToken) + "</trt:ProfileToken></trt:GetStreamUri>";
}

}  // namespace zent::onvif
