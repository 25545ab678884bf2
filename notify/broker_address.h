#pragma once
// A broker's URL, "mqtt://host:1883" or "mqtts://host:8883", read by libcurl's URL parser.

#include <string>

namespace zent {

struct BrokerAddress {
  std::string host;
  int port = 1883;
  bool tls = false;
  // "mqtt://host:port", the form its line in the credentials file takes.
  std::string Key() const { return "mqtt://" + host + ":" + std::to_string(port); }
  // For status lines: scheme, host and port, never a user or password written into the URL.
  std::string Shown() const { return std::string(tls ? "mqtts://" : "mqtt://") + host + ":" + std::to_string(port); }
};

// False with the reason in `error` for anything but mqtt:// or mqtts:// with a host.
bool ParseBrokerUrl(const std::string& url, BrokerAddress& address, std::string& error);

// A webhook's URL as a status line may show it: without a user, password or query.
std::string ShownUrl(const std::string& url);

}  // namespace zent
