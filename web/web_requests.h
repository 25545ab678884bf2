#pragma once
// What every part of the web page reads of a request the same way.

#include <string>

#include "web/http_server.h"

namespace zent {

// The session cookie's token; empty when there is none.
std::string SessionToken(const HttpRequest& request);

// A request a proxy passed on (Forwarded, X-Forwarded-For, Via): its address is not the client's.
bool ThroughProxy(const HttpRequest& request);

bool IsLoopback(const std::string& address);

// Recording and camera ids as the routes match them.
inline const std::string kCameraIdPattern = "([A-Za-z0-9_-]{1,64})";
inline const std::string kRecordingIdPattern = "([A-Za-z0-9_-]{1,64}~[0-9_-]{1,40})";

}  // namespace zent
