#pragma once
// zent-camsim numbers its frames from 1 on a fixed schedule that starts as it reports its video
// port: which frame it made at a given moment tells a test what a recording must hold.

#include <chrono>
#include <cmath>
#include <cstdint>

#include "sim/camsim_process.h"

namespace zent::testing {

inline std::uint64_t CameraFrameAt(camsim::CamSimProcess& camera, double fps,
                                   std::chrono::steady_clock::time_point at) {
  const auto started = camera.WaitForLine("video port", std::chrono::seconds(1));
  const double t0 = started ? camsim::MonotonicStamp(*started) : 0;
  const double now = std::chrono::duration<double>(at.time_since_epoch()).count();
  return static_cast<std::uint64_t>(std::floor((now - t0) * fps)) + 1;
}

}  // namespace zent::testing
