#pragma once
// Where the viewer takes the camera's video from.

#include <cstdint>
#include <string>

namespace zent {

struct VideoSource {
  std::string address;
  std::int32_t port = 0;
  std::string user;
  std::string password;
  // Where the camera serves its video, with {address} and {port} filled in, e.g.
  // "rtsp://{address}:{port}/stream1". Empty: the built-in rule below.
  std::string urlTemplate;
};

// The URL the viewer opens: the template filled in, or by default http://ADDRESS:PORT/ (rtsp://…
// for the RTSP ports 554 and 8554); with USER:PASSWORD@ after the scheme, percent-encoded.
std::string SourceUrl(const VideoSource& source);
// ADDRESS:PORT, for reports: never the credentials.
std::string SourceLabel(const VideoSource& source);
// `url` without the ID and password in its authority, for what a person reads: a URL template may
// carry them too.
std::string UrlWithoutCredentials(const std::string& url);

}  // namespace zent
