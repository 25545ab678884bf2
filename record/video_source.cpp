#include "record/video_source.h"

#include <algorithm>
#include <cstdio>

namespace zent {
namespace {

std::string PercentEncode(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                            c == '.' || c == '_' || c == '~';
    if (unreserved) {
      out += static_cast<char>(c);
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", c);
      out += escaped;
    }
  }
  return out;
}

void ReplaceAll(std::string& text, const std::string& what, const std::string& with) {
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
    text.replace(at, what.size(), with);
}

}  // namespace

std::string SourceUrl(const VideoSource& source) {
  std::string url = source.urlTemplate;
  if (url.empty()) {
    const bool rtsp = source.port == 554 || source.port == 8554;
    url = rtsp ? "rtsp://{address}:{port}/" : "http://{address}:{port}/";
  }
  ReplaceAll(url, "{address}", source.address);
  ReplaceAll(url, "{port}", std::to_string(source.port & 0xFFFF));
  if (source.user.empty() && source.password.empty()) return url;
  const std::size_t scheme = url.find("://");
  const std::size_t at = scheme == std::string::npos ? 0 : scheme + 3;
  return url.insert(at, PercentEncode(source.user) + ":" + PercentEncode(source.password) + "@");
}

std::string UrlWithoutCredentials(const std::string& url) {
  const std::size_t scheme = url.find("://");
  const std::size_t start = scheme == std::string::npos ? 0 : scheme + 3;
  const std::size_t end = std::min(url.find_first_of("/?#", start), url.size());
  const std::size_t at = url.rfind('@', end == 0 ? 0 : end - 1);
  if (at == std::string::npos || at < start) return url;
  return url.substr(0, start) + url.substr(at + 1);
}

std::string SourceLabel(const VideoSource& source) {
  return source.address + ":" + std::to_string(source.port & 0xFFFF);
}

}  // namespace zent
