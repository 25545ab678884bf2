#pragma once
// Logging in again after the camera dropped the session: how long to wait before each attempt.

#include <chrono>
#include <string>
#include <vector>

namespace zent {

struct ReloginSchedule {
  // Waits before the first, second, … attempt; the last one repeats for as long as it takes.
  std::vector<std::chrono::milliseconds> delays{std::chrono::seconds(5), std::chrono::seconds(10),
                                                std::chrono::seconds(20), std::chrono::seconds(40),
                                                std::chrono::seconds(60)};

  // The wait before attempt `attempt` (0: the first after a drop).
  std::chrono::milliseconds DelayFor(std::size_t attempt) const;
};

// "Disconnected Network. Logging in again in N s.", said when the wait starts.
std::string ReloginStatusLine(std::chrono::milliseconds delay);

}  // namespace zent
