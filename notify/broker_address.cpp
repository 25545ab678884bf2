#include "notify/broker_address.h"

#include <curl/curl.h>

#include <cstdlib>
#include <memory>

namespace zent {
namespace {

struct UrlFreer {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct TextFreer {
  void operator()(char* text) const { curl_free(text); }
};
using UrlPtr = std::unique_ptr<CURLU, UrlFreer>;

std::string Part(CURLU* url, CURLUPart part) {
  char* text = nullptr;
  if (curl_url_get(url, part, &text, 0) != CURLUE_OK) return {};
  std::unique_ptr<char, TextFreer> owned(text);
  return text;
}

}  // namespace

bool ParseBrokerUrl(const std::string& url, BrokerAddress& address, std::string& error) {
  UrlPtr parsed(curl_url());
  if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
    error = "not a URL (mqtt://HOST:PORT or mqtts://HOST:PORT)";
    return false;
  }
  const std::string scheme = Part(parsed.get(), CURLUPART_SCHEME);
  if (scheme != "mqtt" && scheme != "mqtts") {
    error = "the URL must begin with mqtt:// or mqtts://";
    return false;
  }
  if (!Part(parsed.get(), CURLUPART_USER).empty() || !Part(parsed.get(), CURLUPART_PASSWORD).empty()) {
    error = "a user or password in the URL would be shown; it belongs in the credentials";
    return false;
  }
  address.tls = scheme == "mqtts";
  address.host = Part(parsed.get(), CURLUPART_HOST);
  const std::string port = Part(parsed.get(), CURLUPART_PORT);
  address.port = port.empty() ? (address.tls ? 8883 : 1883) : std::atoi(port.c_str());
  if (address.host.empty() || address.port <= 0 || address.port > 65535) {
    error = "the URL names no host, or no usable port";
    return false;
  }
  return true;
}

std::string ShownUrl(const std::string& url) {
  UrlPtr parsed(curl_url());
  if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK)
    return "(a URL that cannot be read)";
  curl_url_set(parsed.get(), CURLUPART_USER, nullptr, 0);
  curl_url_set(parsed.get(), CURLUPART_PASSWORD, nullptr, 0);
  curl_url_set(parsed.get(), CURLUPART_QUERY, nullptr, 0);
  curl_url_set(parsed.get(), CURLUPART_FRAGMENT, nullptr, 0);
  return Part(parsed.get(), CURLUPART_URL);
}

}  // namespace zent
