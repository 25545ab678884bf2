#include "sim/rtsp_server_process.h"

#include <cstdlib>
#include <stdexcept>

namespace camsim {
namespace {

std::vector<std::string> ScriptAndArguments(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), ZENT_RTSP_SERVER_SCRIPT);
  return arguments;
}

}  // namespace

RtspServerProcess::RtspServerProcess(std::vector<std::string> arguments)
    : ChildProcess("/usr/bin/python3", ScriptAndArguments(std::move(arguments))) {
  port_ = NumberAfter("rtsp port ", std::chrono::seconds(20));
  if (port_ == 0) throw std::runtime_error("the RTSP server did not start");
}

bool RtspServerProcess::Available() {
  return std::system(
             "/usr/bin/python3 -c 'import gi; gi.require_version(\"GstRtspServer\", \"1.0\"); "
             "from gi.repository import GstRtspServer' >/dev/null 2>&1") == 0;
}

}  // namespace camsim
