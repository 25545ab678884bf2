#include "link/relogin.h"

#include <algorithm>
#include <cstdio>

namespace zent {

std::chrono::milliseconds ReloginSchedule::DelayFor(std::size_t attempt) const {
  if (delays.empty()) return std::chrono::seconds(60);
  return delays[std::min(attempt, delays.size() - 1)];
}

std::string ReloginStatusLine(std::chrono::milliseconds delay) {
  char text[96];
  std::snprintf(text, sizeof text, "Disconnected Network. Logging in again in %lld s.",
                static_cast<long long>((delay.count() + 999) / 1000));
  return text;
}

}  // namespace zent
