// zent-bench-events: ONVIF events against zent-camsim's stand-in device over loopback.
//   1. From the device's answer carrying a motion to the recording's start (a whole headless
//      camera: session, cycle, video engine), N times.
//   2. The CPU of 32 ONVIF cameras idle in their long-polls, in this process.
// Usage: zent-bench-events [EVENTS] [IDLE_SECONDS]

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_stats.h"
#include "bench/proc_stats.h"
#include "bench/recording_starts.h"
#include "onvif/onvif_session.h"
#include "service/camera_recorder.h"
#include "sim/camsim_process.h"
#include "tests/kit/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;  // CLOCK_MONOTONIC, the clock zent-camsim stamps with
using namespace std::chrono_literals;

class IdleHost : public zent::SessionHost {
 public:
  void AddStatusLine(const std::string& text) override {
    if (text == "Subscribed to the camera's events.") ++subscribed;
  }
  void LoginAccepted() override {}
  void CameraEvent(const zent::EventOrigin&) override {}
  void SessionEnded(const zent::SessionEnding& ending) override {
    std::fprintf(stderr, "an idle camera ended: %s\n", ending.message.c_str());
  }
  std::atomic<int> subscribed{0};
};

}  // namespace

int main(int argc, char** argv) {
  const int events = argc > 1 ? std::atoi(argv[1]) : 30;
  const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 30;
  zent::testing::TempDir dir;

  std::vector<double> latencyMs;
  {
    camsim::CamSimProcess device(
        {"--user", "admin", "--password", "kwolt", "--onvif-port", "0", "--size", "640x360", "--fps", "15"});
    zent::CameraSetup setup;
    setup.profile.cameraAddress = "127.0.0.1";
    setup.profile.videoPort = device.VideoPort();
    setup.profile.savePath = dir.file("door.avi");
    setup.profile.insertTime = 1;
    setup.profile.fileMinutes = 1;
    setup.credentials = {"admin", "kwolt"};
    setup.videoUrlTemplate = "http://{address}:{port}/";
    setup.preEventSeconds = 1;
    setup.events = {zent::EventSourceChoice::Kind::Onvif, device.OnvifPort()};
    zent::RecorderTuning tuning;
    tuning.minute = 300ms;  // each recording a third of a second
    std::FILE* out = std::fopen(dir.file("output.txt").c_str(), "w");
    zent::StatusOutput output(out, dir.path());
    bench::RecordingStarts starts;
    {
      zent::CameraRecorder camera(setup, output, tuning, {&starts});
      if (!starts.Wait([&] { return starts.ready_ >= 1; }) || !device.WaitForLine("onvif subscribed", 10s)) {
        std::fprintf(stderr, "zent-bench-events: the camera was not ready\n");
        return 1;
      }
      std::this_thread::sleep_for(1500ms);  // the pre-event buffer fills
      for (int i = 0; i < events; ++i) {
        const std::size_t from = device.LineCount();
        device.Command("onvif-motion on");
        const auto answered = device.WaitForLine("onvif pulled", 10s, from);
        if (!answered || !starts.Wait([&] { return static_cast<int>(starts.started_.size()) > i; })) {
          std::fprintf(stderr, "zent-bench-events: event %d was not recorded\n", i);
          return 1;
        }
        latencyMs.push_back((starts.started_[static_cast<std::size_t>(i)] - camsim::MonotonicStamp(*answered)) * 1000);
        starts.Wait([&] { return starts.ended_ > i && starts.ready_ > i + 1; });
        device.Command("onvif-motion off");
        device.WaitForLine("onvif pulled", 10s, device.LineCount() - 1);
      }
    }
    std::fclose(out);
  }

  // 32 cameras doing nothing but waiting for news: what they cost this process.
  constexpr int kCameras = 32;
  camsim::CamSimProcess device({"--onvif-port", "0"});
  std::vector<std::shared_ptr<IdleHost>> hosts;
  std::vector<std::shared_ptr<zent::onvif::OnvifSession>> sessions;
  for (int i = 0; i < kCameras; ++i) {
    zent::onvif::OnvifSettings settings;
    settings.address = "127.0.0.1";
    settings.port = device.OnvifPort();
    hosts.push_back(std::make_shared<IdleHost>());
    sessions.push_back(zent::onvif::OnvifSession::Start(settings, hosts.back()));
  }
  const auto deadline = Clock::now() + 20s;
  auto allSubscribed = [&] {
    for (const auto& host : hosts)
      if (host->subscribed < 1) return false;
    return true;
  };
  while (!allSubscribed() && Clock::now() < deadline) std::this_thread::sleep_for(50ms);
  if (!allSubscribed()) {
    std::fprintf(stderr, "zent-bench-events: not every idle camera subscribed\n");
    return 1;
  }
  const double cpuBefore = bench::CpuSeconds(::getpid());
  const auto wallBefore = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
  const double cpu = bench::CpuSeconds(::getpid()) - cpuBefore;
  const double wall = std::chrono::duration<double>(Clock::now() - wallBefore).count();
  for (auto& session : sessions) session->RequestStop();
  for (auto& session : sessions) session->WaitUntilEnded(5s);
  const double idlePercent = 100.0 * cpu / wall;

  std::printf("%-46s %10s %10s %10s\n", "over loopback, ms", "median", "p99", "max");
  std::printf("%-46s %10.2f %10.2f %10.2f\n", "device's answer with a motion -> recording starts",
              bench::Percentile(latencyMs, 0.5), bench::Percentile(latencyMs, 0.99), bench::Percentile(latencyMs, 1));
  std::printf("%d ONVIF cameras idle for %.0f s: %.3f CPU s, %.3f %% of one core in all\n", kCameras, wall, cpu,
              idlePercent);
  std::printf("RESULT events=%zu start_ms_median=%.2f start_ms_p99=%.2f idle_cameras=%d idle_cpu_percent=%.3f\n",
              latencyMs.size(), bench::Percentile(latencyMs, 0.5), bench::Percentile(latencyMs, 0.99), kCameras,
              idlePercent);
  return 0;
}
