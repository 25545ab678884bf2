#pragma once
// Runs GStreamer's RTSP server (sim/rtsp_server.py) on a loopback port for tests and benchmarks:
// a real RTSP peer that no one here wrote.

#include <string>
#include <vector>

#include "sim/child_process.h"

namespace camsim {

class RtspServerProcess : public ChildProcess {
 public:
  // `arguments` as rtsp_server.py takes them: --codec, --size, --fps, --user, --port, …
  explicit RtspServerProcess(std::vector<std::string> arguments = {});

  int Port() const { return port_; }

  // Whether the server can run here at all: python3 with GStreamer's RTSP server bindings.
  static bool Available();

 private:
  int port_ = 0;
};

}  // namespace camsim
