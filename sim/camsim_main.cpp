// zent-camsim: a stand-in network camera on loopback for tests, benchmarks and the demo.

#include <arpa/inet.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sim/event_server.h"
#include "sim/onvif_device.h"
#include "sim/sim_log.h"
#include "sim/video_server.h"

namespace {

void Usage() {
  std::fprintf(stderr,
               "usage: zent-camsim [options]\n"
               "  --address 127.0.0.N       the loopback address to serve on (default 127.0.0.1)\n"
               "  --event-port N            event channel port (0: any free port; default 11000)\n"
               "  --user ID --password PW   accept only this user (default: anyone)\n"
               "  --event-every SECONDS     send an event this often (default: only on command)\n"
               "  --auth-answer NNNN        answer the authentication packet with this unit\n"
               "  --close-after-auth-packet close the connection right after the packet\n"
               "  --video-port N            MJPEG over HTTP port (0: any free port; default 8080)\n"
               "  --size WxH --fps N        picture size and frame rate (default 640x480, 15)\n"
               "  --quality Q               JPEG quality 1-100 (default 75)\n"
               "  --still                   a still scene with sensor noise instead of the sweeping bar\n"
               "  --onvif-port N            serve an ONVIF device there too (0: any free port)\n"
               "  --onvif-clock-offset S    the device's clock is S seconds off\n"
               "  --onvif-digest            HTTP Digest instead of WS-Security\n"
               "  --onvif-no-renew          refuse every Renew\n"
               "  --onvif-termination S     subscriptions live at most S seconds (default 60)\n"
               "  --onvif-stream-uri URL    what GetStreamUri answers\n"
               "commands on standard input, one a line:\n"
               "  event | split-event | broken | invalid | answer NNNN | send NNNN | silent | close | half-close\n"
               "  refuse | accept | size WxH | video-off | video-on | quit\n"
               "  move SECONDS (a block crosses the still scene) | light DELTA (all of it brighter by DELTA)\n"
               "  onvif-motion on|off | onvif-input on|off | reboot\n");
}

}  // namespace

int main(int argc, char** argv) {
  camsim::EventOptions events;
  camsim::VideoOptions video;
  camsim::OnvifOptions onvif;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        Usage();
        std::exit(2);
      }
      return argv[++i];
    };
    if (arg == "--address") {
      // A stand-in camera never serves beyond this machine.
      in_addr parsed{};
      if (::inet_pton(AF_INET, value().c_str(), &parsed) != 1 || (ntohl(parsed.s_addr) >> 24) != 127) return Usage(), 2;
      events.address = ntohl(parsed.s_addr);
    } else if (arg == "--event-port") events.port = std::atoi(value().c_str());
    else if (arg == "--user") events.user = value();
    else if (arg == "--password") events.password = value();
    else if (arg == "--event-every") events.eventEverySeconds = std::atof(value().c_str());
    else if (arg == "--auth-answer") events.authAnswer = value();
    else if (arg == "--close-after-auth-packet") events.closeAfterAuthPacket = true;
    else if (arg == "--video-port") video.port = std::atoi(value().c_str());
    else if (arg == "--size") {
      if (std::sscanf(value().c_str(), "%dx%d", &video.width, &video.height) != 2) return Usage(), 2;
    } else if (arg == "--fps") video.fps = std::atof(value().c_str());
    else if (arg == "--quality") video.quality = std::atoi(value().c_str());
    else if (arg == "--still") video.still = true;
    else if (arg == "--onvif-port") onvif.port = std::atoi(value().c_str());
    else if (arg == "--onvif-clock-offset") onvif.clockOffsetSeconds = std::atol(value().c_str());
    else if (arg == "--onvif-digest") onvif.digestOnly = true;
    else if (arg == "--onvif-no-renew") onvif.refuseRenew = true;
    else if (arg == "--onvif-termination") onvif.maxTerminationSeconds = std::atoi(value().c_str());
    else if (arg == "--onvif-stream-uri") onvif.streamUri = value();
    else {
      Usage();
      return arg == "--help" ? 0 : 2;
    }
  }
  signal(SIGPIPE, SIG_IGN);
  video.address = events.address;
  video.user = events.user;
  video.password = events.password;
  onvif.address = events.address;
  onvif.user = events.user;
  onvif.password = events.password;
  if (video.fps <= 0 || video.width < 16 || video.height < 16) {
    Usage();
    return 2;
  }

  camsim::EventServer eventServer(events);
  if (!eventServer.Listen()) {
    std::fprintf(stderr, "zent-camsim: cannot listen on port %d: %s\n", events.port, std::strerror(errno));
    return 1;
  }

  camsim::VideoServer videoServer(video);
  if (!videoServer.Start()) {
    std::fprintf(stderr, "zent-camsim: cannot listen on port %d: %s\n", video.port, std::strerror(errno));
    return 1;
  }

  camsim::OnvifDevice onvifDevice(onvif);
  if (!onvifDevice.Start()) {
    std::fprintf(stderr, "zent-camsim: cannot serve ONVIF on port %d\n", onvif.port);
    return 1;
  }

  std::string stdinBuffer;
  bool stdinOpen = true;
  for (;;) {
    std::vector<pollfd> fds;
    if (stdinOpen) fds.push_back({STDIN_FILENO, POLLIN, 0});
    eventServer.AddPollFds(fds);
    if (::poll(fds.data(), fds.size(), eventServer.MillisToNextEvent()) < 0 && errno != EINTR) return 1;
    eventServer.OnTimers();
    eventServer.OnPoll(fds);
    if (!stdinOpen || fds.empty() || fds[0].fd != STDIN_FILENO || fds[0].revents == 0) continue;

    char chunk[256];
    const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (n <= 0) {
      stdinOpen = false;  // keep serving; a closed input is no reason to stop
      continue;
    }
    stdinBuffer.append(chunk, static_cast<std::size_t>(n));
    for (std::size_t end; (end = stdinBuffer.find('\n')) != std::string::npos;) {
      // The argument is the rest of the line after one blank, so "send  520" sends " 520".
      const std::string line = stdinBuffer.substr(0, end);
      stdinBuffer.erase(0, end + 1);
      const std::size_t blank = line.find(' ');
      const std::string word = line.substr(0, blank);
      const std::string argument = blank == std::string::npos ? "" : line.substr(blank + 1);
      if (word.empty()) continue;
      if (word == "quit") return 0;
      if (!eventServer.Command(word, argument) && !videoServer.Command(word, argument) &&
          !onvifDevice.Command(word, argument))
        camsim::Log("unknown command %s", word.c_str());
    }
  }
}
