#include "sim/camsim_process.h"

#include <cstdlib>
#include <stdexcept>

namespace camsim {
namespace {

// Free ports unless the caller chose them, so that tests can run side by side.
std::vector<std::string> WithFreePorts(std::vector<std::string> arguments) {
  bool hasEventPort = false, hasVideoPort = false;
  for (const auto& a : arguments) {
    hasEventPort |= a == "--event-port";
    hasVideoPort |= a == "--video-port";
  }
  if (!hasEventPort) arguments.insert(arguments.end(), {"--event-port", "0"});
  if (!hasVideoPort) arguments.insert(arguments.end(), {"--video-port", "0"});
  return arguments;
}

}  // namespace

CamSimProcess::CamSimProcess(std::vector<std::string> arguments)
    : ChildProcess(ZENT_CAMSIM_PATH, WithFreePorts(arguments)) {
  // Its picture is encoded before it serves: seconds for a large one under ThreadSanitizer.
  eventPort_ = NumberAfter("event port ", std::chrono::seconds(30));
  videoPort_ = NumberAfter("video port ", std::chrono::seconds(30));
  if (eventPort_ == 0 || videoPort_ == 0) throw std::runtime_error("zent-camsim did not start");
  for (const auto& a : arguments)
    if (a == "--onvif-port") onvifPort_ = NumberAfter("onvif port ", std::chrono::seconds(10));
}

double MonotonicStamp(const std::string& line) {
  const auto pos = line.find(" t=");
  return pos == std::string::npos ? 0.0 : std::atof(line.c_str() + pos + 3);
}

}  // namespace camsim
