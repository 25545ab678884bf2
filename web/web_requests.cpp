#include "web/web_requests.h"

namespace zent {

std::string SessionToken(const HttpRequest& request) {
  static const std::string key = "zent_session=";
  const std::string cookies = request.Header("Cookie");
  for (std::size_t at = cookies.find(key); at != std::string::npos; at = cookies.find(key, at + 1)) {
    if (at != 0 && cookies[at - 1] != ' ' && cookies[at - 1] != ';') continue;
    const std::size_t start = at + key.size();
    return cookies.substr(start, cookies.find(';', start) - start);
  }
  return {};
}

bool ThroughProxy(const HttpRequest& request) {
  return request.HasHeader("Forwarded") || request.HasHeader("X-Forwarded-For") || request.HasHeader("Via");
}

bool IsLoopback(const std::string& address) {
  return address.rfind("127.", 0) == 0 || address == "::1" || address.rfind("::ffff:127.", 0) == 0;
}

}  // namespace zent
