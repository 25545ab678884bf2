#include "record/video_source.h"

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

}  // namespace

std::string SourceUrl(const VideoSource& source) {
  const bool rtsp = source.port == 554 || source.port == 8554;
  std::string url = rtsp ? "rtsp://" : "http://";
  if (!source.user.empty() || !source.password.empty())
    url += PercentEncode(source.user) + ":" + PercentEncode(source.password) + "@";
  url += SourceLabel(source) + "/";
  return url;
}

std::string SourceLabel(const VideoSource& source) {
  return source.address + ":" + std::to_string(source.port & 0xFFFF);
}

}  // namespace zent
