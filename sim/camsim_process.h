#pragma once
// Runs zent-camsim, the stand-in camera, as a child process on free loopback ports.

#include "sim/child_process.h"

namespace camsim {

class CamSimProcess : public ChildProcess {
 public:
  explicit CamSimProcess(std::vector<std::string> arguments = {});

  int EventPort() const { return eventPort_; }
  int VideoPort() const { return videoPort_; }
  int OnvifPort() const { return onvifPort_; }  // 0 unless started with --onvif-port

 private:
  int eventPort_ = 0;
  int videoPort_ = 0;
  int onvifPort_ = 0;
};

// The monotonic time stamp ("t=SECONDS") of a zent-camsim output line, in seconds.
double MonotonicStamp(const std::string& line);

}  // namespace camsim
