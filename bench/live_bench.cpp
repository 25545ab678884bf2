// zent-bench-live: live view and monitoring of zent-recorder. From opening a camera's live URL to
// the first complete picture received (a 1080p30 Motion JPEG stand-in; 1080p30 H.264 from
// GStreamer's RTSP server with a key frame every 2 s), the CPU that 8 viewers of the 1080p Motion
// JPEG camera add and the connections they open to it, what a viewer that stops reading costs in
// memory and in recorded frames, and a scrape of /metrics with 100 cameras.

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_stats.h"
#include "bench/proc_stats.h"
#include "sim/camsim_process.h"
#include "sim/rtsp_server_process.h"
#include "tests/kit/profiles.h"
#include "tests/kit/temp_home.h"
#include "web/camera_board.h"
#include "web/metrics.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Whether `bytes` hold a whole first picture: a multipart part of its declared length, or an MP4's
// header and its first fragment's media data.
bool WholePicture(const std::string& bytes, bool mp4) {
  if (!mp4) {
    const std::size_t at = bytes.find("Content-Length: ");
    const std::size_t body = bytes.find("\r\n\r\n", at);
    return at != std::string::npos && body != std::string::npos &&
           bytes.size() >= body + 4 + std::stoul(bytes.substr(at + 16));
  }
  for (std::size_t at = 0; at + 8 <= bytes.size();) {
    const std::uint32_t size = (std::uint8_t(bytes[at]) << 24) | (std::uint8_t(bytes[at + 1]) << 16) |
                               (std::uint8_t(bytes[at + 2]) << 8) | std::uint8_t(bytes[at + 3]);
    if (size < 8 || at + size > bytes.size()) return false;
    if (bytes.compare(at + 4, 4, "mdat") == 0) return true;
    at += size;
  }
  return false;
}

double FirstPictureMs(int port, const httplib::Headers& session, const std::string& camera, bool mp4) {
  httplib::Client client("127.0.0.1", port);
  std::string bytes;
  double ms = -1;
  const auto start = Clock::now();
  client.Get("/api/cameras/" + camera + "/live", session, [&](const char* data, std::size_t n) {
    bytes.append(data, n);
    if (!WholePicture(bytes, mp4)) return true;
    ms = Ms(Clock::now() - start);
    return false;
  });
  return ms;
}

// Established connections from this machine to `port` (the recorder's to the camera's video).
int ConnectionsTo(int port) {
  std::ifstream tcp("/proc/net/tcp");
  int count = 0;
  std::string line;
  std::getline(tcp, line);
  while (std::getline(tcp, line)) {
    char remote[64] = {}, state[8] = {};
    if (std::sscanf(line.c_str(), "%*s %*s %63s %7s", remote, state) != 2) continue;
    const std::string text = remote;
    if (std::string(state) == "01" && std::stoi(text.substr(text.find(':') + 1), nullptr, 16) == port) ++count;
  }
  return count;
}

double MetricValue(httplib::Client& client, const httplib::Headers& auth, const std::string& name) {
  const auto answer = client.Get("/metrics", auth);
  if (!answer) return -1;
  const std::size_t at = answer->body.find("\n" + name + " ");
  return at == std::string::npos ? -1 : std::atof(answer->body.c_str() + at + name.size() + 2);
}

}  // namespace

int main() {
  if (!camsim::RtspServerProcess::Available()) {
    std::printf("GStreamer's RTSP server is not installed (scripts/setup installs it)\n");
    return 1;
  }
  zent::testing::TempHome home;
  const std::string folder = home.path() + "/recordings";
  std::filesystem::create_directories(folder);
  camsim::CamSimProcess door({"--address", "127.0.0.2", "--size", "1920x1080", "--fps", "30", "--quality", "85",
                              "--user", "cam", "--password", "live"});
  camsim::CamSimProcess yardEvents(
      {"--address", "127.0.0.3", "--size", "320x240", "--fps", "1", "--user", "cam", "--password", "live"});
  camsim::RtspServerProcess yard(
      {"--codec", "h264", "--size", "1920x1080", "--fps", "30", "--gop-seconds", "2", "--kbit", "4000"});
  zent::testing::WriteCameraList(
      home.documents(),
      {zent::testing::StandInProfile("127.0.0.2", door.EventPort(), door.VideoPort(), folder + "/door.avi"),
       zent::testing::StandInProfile("127.0.0.3", yardEvents.EventPort(), yard.Port(), folder + "/yard.avi")});
  const std::string config = home.config() + "/zent-client";
  std::filesystem::create_directories(config);
  zent::testing::WriteFile(config + "/credentials", "127.0.0.2 cam live\n127.0.0.3 cam live\n");
  ::chmod((config + "/credentials").c_str(), 0600);
  zent::testing::WriteFile(config + "/zent-client.ini",
                           "[cameraVideoUrl]\n127.0.0.3=rtsp://127.0.0.1:{port}/stream1\n");
  const std::string env = "env HOME=" + home.path() + " XDG_CONFIG_HOME=" + home.config() + " ";
  if (std::system(
          ("printf 'bench-pass-1\\n' | " + env + ZENT_RECORDER_PATH + " --add-user bench >/dev/null").c_str()) != 0)
    return 1;
  const std::string tokenFile = home.path() + "/token";
  if (std::system((env + ZENT_RECORDER_PATH + " --add-token bench > " + tokenFile + " 2>/dev/null").c_str()) != 0)
    return 1;
  std::string token;
  std::ifstream(tokenFile) >> token;
  const int port = 19000 + ::getpid() % 1000;
  camsim::ChildProcess recorder(ZENT_RECORDER_PATH, {"--web", "127.0.0.1:" + std::to_string(port)}, home.Environment());
  if (!recorder.WaitForLine("web page at", 10s)) return 1;
  httplib::Client client("127.0.0.1", port);
  const httplib::Headers machine{{"Authorization", "Bearer " + token}};
  for (const auto deadline = Clock::now() + 20s; Clock::now() < deadline; std::this_thread::sleep_for(200ms)) {
    const auto health = client.Get("/healthz", machine);
    if (health && health->status == 200) break;
  }
  auto login = client.Post("/api/login", R"({"user":"bench","password":"bench-pass-1"})", "application/json");
  if (!login || login->status != 200) return 1;
  const std::string cookie =
      login->get_header_value("Set-Cookie").substr(0, login->get_header_value("Set-Cookie").find(';'));
  const httplib::Headers session{{"Cookie", cookie}};
  std::this_thread::sleep_for(3s);  // the H.264 feed holds a key frame group

  // From opening the live URL to the first whole picture, with a pause between so that the
  // openings fall anywhere in the key-frame interval.
  std::vector<double> mjpegMs, h264Ms;
  for (int i = 0; i < 15; ++i) {
    mjpegMs.push_back(FirstPictureMs(port, session, "127_0_0_2", false));
    h264Ms.push_back(FirstPictureMs(port, session, "127_0_0_3", true));
    std::this_thread::sleep_for(std::chrono::milliseconds(137 * (i % 7)));
  }

  // 8 viewers of the 1080p Motion JPEG camera: CPU added, connections to the camera.
  const auto cpuOver = [&](std::chrono::seconds length) {
    const double before = bench::CpuSeconds(recorder.Pid());
    std::this_thread::sleep_for(length);
    return (bench::CpuSeconds(recorder.Pid()) - before) / std::chrono::duration<double>(length).count() * 100.0;
  };
  const double idlePercent = cpuOver(10s);
  const int connectionsBefore = ConnectionsTo(door.VideoPort());
  std::atomic<bool> watching{true};
  std::atomic<long> framesSeen{0};
  std::vector<std::thread> viewers;
  for (int i = 0; i < 8; ++i)
    viewers.emplace_back([&] {
      httplib::Client viewer("127.0.0.1", port);
      viewer.Get("/api/cameras/127_0_0_2/live", session, [&](const char* data, std::size_t n) {
        for (std::string_view text(data, n); !text.empty();) {
          const std::size_t at = text.find("--zentframe");
          if (at == std::string_view::npos) break;
          ++framesSeen;
          text.remove_prefix(at + 1);
        }
        return watching.load();
      });
    });
  std::this_thread::sleep_for(1s);
  const int connectionsWatched = ConnectionsTo(door.VideoPort());
  const double watchedPercent = cpuOver(10s);
  watching = false;
  for (auto& viewer : viewers) viewer.join();

  // A viewer that stops reading, while the camera records an event.
  const double budgetBefore = MetricValue(client, machine, "zent_memory_budget_used_bytes");
  const double rssBefore = bench::StatusMegabytes(recorder.Pid(), "VmRSS");
  const int stalled = ::socket(AF_INET, SOCK_STREAM, 0);
  const int small = 4096;
  ::setsockopt(stalled, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(stalled, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return 1;
  const std::string request = "GET /api/cameras/127_0_0_2/live HTTP/1.1\r\nHost: x\r\nCookie: " + cookie + "\r\n\r\n";
  if (::send(stalled, request.data(), request.size(), 0) < 0) return 1;
  door.Command("event");
  if (!recorder.WaitForLine("Recording to", 10s)) return 1;
  std::this_thread::sleep_for(8s);
  const double budgetStalled = MetricValue(client, machine, "zent_memory_budget_used_bytes");
  const double rssStalled = bench::StatusMegabytes(recorder.Pid(), "VmRSS");
  const double dropped =
      MetricValue(client, machine, "zent_camera_frames_dropped_total{camera=\"127_0_0_2\",address=\"127.0.0.2\"}");
  ::close(stalled);

  // /metrics with 100 cameras, as the server writes it.
  zent::CameraBoard board;
  zent::CameraFeeds feeds;
  std::vector<std::string> addresses;
  for (int i = 0; i < 100; ++i) addresses.push_back("10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250));
  board.SetCameras(addresses);
  for (const auto& a : addresses) feeds.For(a);
  std::vector<double> scrapeMs;
  std::size_t scrapeBytes = 0;
  for (int i = 0; i < 200; ++i) {
    const auto start = Clock::now();
    scrapeBytes = zent::MetricsText(board.Cameras(), feeds, {}).size();
    scrapeMs.push_back(Ms(Clock::now() - start));
  }
  std::vector<double> httpScrapeMs;
  for (int i = 0; i < 50; ++i) {
    const auto start = Clock::now();
    client.Get("/metrics", machine);
    httpScrapeMs.push_back(Ms(Clock::now() - start));
  }
  recorder.Signal(SIGTERM);
  recorder.WaitForExit(10s);

  std::printf("\n%-62s %10s\n", "", "value");
  std::printf("%-62s %10.1f\n", "first whole picture, 1080p30 Motion JPEG, median ms", bench::Percentile(mjpegMs, 0.5));
  std::printf("%-62s %10.1f\n", "  worst of 15, ms", bench::Percentile(mjpegMs, 1.0));
  std::printf("%-62s %10.1f\n", "first whole picture, 1080p30 H.264 (2-s key frames), median ms",
              bench::Percentile(h264Ms, 0.5));
  std::printf("%-62s %10.1f\n", "  worst of 15, ms", bench::Percentile(h264Ms, 1.0));
  std::printf("%-62s %10.1f\n", "recorder CPU, no viewers, % of a core", idlePercent);
  std::printf("%-62s %10.1f\n", "recorder CPU, 8 live viewers of 1080p MJPEG, % of a core", watchedPercent);
  std::printf("%-62s %10ld\n", "frames the 8 viewers received in ~11 s", framesSeen.load());
  std::printf("%-62s %4d -> %d\n", "connections to the camera's video", connectionsBefore, connectionsWatched);
  std::printf("%-62s %10.1f\n", "a viewer that stops reading: memory budget used grew by, MB",
              (budgetStalled - budgetBefore) / 1e6);
  std::printf("%-62s %10.1f\n", "  resident memory grew by, MB", rssStalled - rssBefore);
  std::printf("%-62s %10.0f\n", "  frames the recording dropped meanwhile", dropped);
  std::printf("%-62s %10.3f\n", "/metrics text of 100 cameras, median ms", bench::Percentile(scrapeMs, 0.5));
  std::printf("%-62s %10zu\n", "  its size, bytes", scrapeBytes);
  std::printf("%-62s %10.3f\n", "/metrics over HTTP (2 cameras), median ms", bench::Percentile(httpScrapeMs, 0.5));
  std::printf(
      "RESULT mjpeg_first_ms=%.1f h264_first_ms=%.1f viewers8_added_core_percent=%.2f camera_connections=%d->%d "
      "stalled_budget_mb=%.1f stalled_rss_mb=%.1f recording_dropped=%.0f metrics100_ms=%.3f\n",
      bench::Percentile(mjpegMs, 0.5), bench::Percentile(h264Ms, 0.5), watchedPercent - idlePercent, connectionsBefore,
      connectionsWatched, (budgetStalled - budgetBefore) / 1e6, rssStalled - rssBefore, dropped,
      bench::Percentile(scrapeMs, 0.5));
  return 0;
}
