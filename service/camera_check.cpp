#include "service/camera_check.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "link/event_session.h"
#include "record/packet_source.h"
#include "record/video_source.h"

namespace zent {
namespace {

using Clock = std::chrono::steady_clock;

// Empty when a TCP connection to the port could be made within the time-out; else why not.
std::string ConnectError(const std::string& address, int port, std::chrono::milliseconds timeout) {
  const std::optional<std::uint32_t> host = ResolveHostName(address);
  if (!host) return "unknown server name";
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::strerror(errno);
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(static_cast<std::uint16_t>(port));
  peer.sin_addr.s_addr = *host;
  std::string error;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0) {
    if (errno != EINPROGRESS) {
      error = std::strerror(errno);
    } else {
      pollfd wait{fd, POLLOUT, 0};
      int result = 0;
      socklen_t length = sizeof result;
      if (::poll(&wait, 1, static_cast<int>(timeout.count())) != 1) error = "no answer";
      else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &result, &length) != 0 || result != 0)
        error = std::strerror(result ? result : errno);
    }
  }
  ::close(fd);
  return error;
}

struct Deadline {
  Clock::time_point at;
  static int Passed(void* self) { return Clock::now() > static_cast<Deadline*>(self)->at ? 1 : 0; }
};

std::string VideoError(const VideoSource& source, std::chrono::milliseconds timeout) {
  Deadline deadline{Clock::now() + timeout};
  int error = 0;
  if (OpenPacketSource(SourceUrl(source), {&Deadline::Passed, &deadline}, error)) return {};
  return SourceErrorText(error);
}

struct Verdict {
  std::string eventError;
  std::string videoError;
};

int EventPort(const CameraSetup& camera) {
  return camera.events.kind == EventSourceChoice::Kind::Onvif ? camera.events.port : camera.profile.privatePort;
}

std::string Answer(const std::string& error) { return error.empty() ? "answers" : "does not answer (" + error + ")"; }

}  // namespace

bool CheckCameras(const std::vector<CameraSetup>& cameras, std::FILE* out, std::chrono::milliseconds timeout) {
  std::vector<Verdict> verdicts(cameras.size());
  std::vector<std::thread> checks;
  // All at once: a camera that does not answer costs its time-out once, not once per camera.
  for (std::size_t i = 0; i < cameras.size(); ++i) {
    checks.emplace_back([&, i] {
      const CameraSetup& camera = cameras[i];
      if (camera.events.kind == EventSourceChoice::Kind::Motion) {
        if (!camera.motionUrlTemplate.empty()) verdicts[i].eventError = VideoError(camera.MotionVideo(), timeout);
      } else if (camera.events.kind != EventSourceChoice::Kind::External) {
        verdicts[i].eventError = ConnectError(camera.Address(), EventPort(camera), timeout);
      }
      if (!AskedOfTheCamera(camera)) verdicts[i].videoError = VideoError(camera.Video(), timeout);
    });
  }
  for (auto& check : checks) check.join();

  bool allAnswer = true;
  for (std::size_t i = 0; i < cameras.size(); ++i) {
    const CameraSetup& camera = cameras[i];
    VideoSource shown = camera.Video();  // the URL as the camera serves it, without the ID and password
    shown.user.clear();
    shown.password.clear();
    std::fprintf(out, "%s\n  records to %s, %d min per event, as user %s\n", camera.Address().c_str(),
                 camera.profile.savePath.c_str(), camera.profile.fileMinutes, camera.credentials.userId.c_str());
    switch (camera.events.kind) {
      case EventSourceChoice::Kind::Camera:
        std::fprintf(out, "  event port %s:%d %s\n", camera.Address().c_str(), camera.profile.privatePort,
                     Answer(verdicts[i].eventError).c_str());
        break;
      case EventSourceChoice::Kind::Onvif:
        std::fprintf(out, "  events from ONVIF, device service http://%s:%d/onvif/device_service %s\n",
                     camera.Address().c_str(), camera.events.port, Answer(verdicts[i].eventError).c_str());
        break;
      case EventSourceChoice::Kind::External:
        std::fprintf(out, "  events only from outside (the web page, MQTT)\n");
        break;
      case EventSourceChoice::Kind::Motion:
        if (camera.motionUrlTemplate.empty()) std::fprintf(out, "  events from motion in its video\n");
        else
          std::fprintf(out, "  events from motion in %s %s\n",
                       MotionSourceSettingsFor(camera, nullptr).subStreamLabel.c_str(),
                       Answer(verdicts[i].eventError).c_str());
        break;
    }
    if (AskedOfTheCamera(camera)) std::fprintf(out, "  video asked of the camera (ONVIF) at each log-in\n");
    else
      std::fprintf(out, "  video %s %s\n", UrlWithoutCredentials(SourceUrl(shown)).c_str(),
                   Answer(verdicts[i].videoError).c_str());
    allAnswer = allAnswer && verdicts[i].eventError.empty() && verdicts[i].videoError.empty();
  }
  std::fflush(out);
  return allAnswer;
}

}  // namespace zent
