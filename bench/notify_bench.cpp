// zent-bench-notify: K stand-in cameras recorded by one zent-recorder that tells a local mosquitto
// of every event. Measures the time from a camera's 0520 leaving the stand-in to the event message
// reaching a subscriber, and what the MQTT path costs the recorder: the same run without a broker
// gives the CPU and memory to compare with.

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_stats.h"
#include "bench/proc_stats.h"
#include "notify/notices.h"
#include "sim/camsim_process.h"
#include "tests/kit/mqtt_broker.h"
#include "tests/kit/profiles.h"
#include "tests/kit/temp_home.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string Address(int camera) { return "127.0.0." + std::to_string(2 + camera); }

struct Run {
  double cpuSeconds = 0;  // the recorder's, while the events came
  double seconds = 0;
  double peakMegabytes = 0;
  std::vector<double> latenciesMs;
  int missing = 0;
};

// One run: the recorder with or without the broker, `events` events spread over the cameras at
// one a second each.
Run Measure(const zent::testing::TempHome& home, std::vector<std::unique_ptr<camsim::CamSimProcess>>& sims,
            zent::testing::MqttBroker* broker, int events) {
  Run run;
  std::unique_ptr<zent::testing::MqttSubscriber> subscriber;
  if (broker) {
    subscriber = std::make_unique<zent::testing::MqttSubscriber>(*broker, "zent/+/event");
    subscriber->Subscribed(5s);
  }
  std::vector<std::string> arguments;
  if (broker) arguments = {"--mqtt", broker->Url()};
  camsim::ChildProcess recorder(ZENT_RECORDER_PATH, arguments, home.Environment());
  const int cameras = static_cast<int>(sims.size());
  for (int i = 0; i < 300 && recorder.Count("Successfully connected.") < cameras; ++i)
    std::this_thread::sleep_for(100ms);
  std::this_thread::sleep_for(2s);  // every camera armed, its pre-event seconds buffered
  std::vector<std::size_t> linesBefore;
  for (const auto& sim : sims) linesBefore.push_back(sim->LineCount());

  const double cpu0 = bench::CpuSeconds(recorder.Pid());
  const auto start = Clock::now();
  for (int n = 0; n < events; ++n) {
    // Camera n % K, each once a second, spread evenly over the second.
    std::this_thread::sleep_until(start + std::chrono::microseconds(1'000'000LL * n / cameras));
    sims[static_cast<std::size_t>(n % cameras)]->Command("event");
  }
  std::this_thread::sleep_for(1s);
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  run.cpuSeconds = bench::CpuSeconds(recorder.Pid()) - cpu0;
  run.peakMegabytes = bench::StatusMegabytes(recorder.Pid(), "VmHWM");
  if (!subscriber) return run;

  // The n-th 0520 a stand-in sent is the event with sequence n of its camera.
  std::map<std::string, std::map<int, Clock::time_point>> arrived;
  for (const auto& message : subscriber->Messages()) {
    const auto json = nlohmann::json::parse(message.payload, nullptr, false);
    if (json.is_object()) arrived[json.value("camera", "")][json.value("sequence", 0)] = message.at;
  }
  for (int c = 0; c < cameras; ++c) {
    const std::string output = sims[static_cast<std::size_t>(c)]->Output();
    int sequence = 0;
    std::size_t line = 0;
    for (std::size_t start = 0, end; (end = output.find('\n', start)) != std::string::npos; start = end + 1, ++line) {
      const std::string text = output.substr(start, end - start);
      if (line < linesBefore[static_cast<std::size_t>(c)] || text.find("send 0520") == std::string::npos) continue;
      ++sequence;
      const std::string camera = zent::TopicName(Address(c));
      const auto found = arrived[camera].find(sequence);
      if (found == arrived[camera].end()) {
        ++run.missing;
        continue;
      }
      const double sent = camsim::MonotonicStamp(text);
      const double got = std::chrono::duration<double>(found->second.time_since_epoch()).count();
      run.latenciesMs.push_back((got - sent) * 1000.0);
    }
  }
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  const int cameras = argc > 1 ? std::atoi(argv[1]) : 16;
  const int events = argc > 2 ? std::atoi(argv[2]) : 1000;
  zent::testing::TempHome home;
  zent::testing::MqttBroker broker(home.path(), {});
  if (!broker.Running()) {
    std::fprintf(stderr, "zent-bench-notify: mosquitto did not start\n");
    return 1;
  }
  std::printf("%d stand-in cameras (320x240, 5 fps), %d events at one a second per camera...\n", cameras, events);
  std::vector<std::unique_ptr<camsim::CamSimProcess>> sims;
  std::vector<zent::CameraProfile> list;
  std::string credentials;
  for (int i = 0; i < cameras; ++i) {
    sims.push_back(std::make_unique<camsim::CamSimProcess>(std::vector<std::string>{
        "--address", Address(i), "--size", "320x240", "--fps", "5", "--user", "cam", "--password", "notify"}));
    list.push_back(zent::testing::StandInProfile(Address(i), sims.back()->EventPort(), sims.back()->VideoPort(),
                                                 home.documents() + "/cam" + std::to_string(i) + ".avi"));
    credentials += Address(i) + " cam notify\n";
  }
  zent::testing::WriteCameraList(home.documents(), list);
  const std::string config = home.config() + "/zent-client";
  std::filesystem::create_directories(config);
  zent::testing::WriteFile(config + "/credentials", credentials);
  ::chmod((config + "/credentials").c_str(), 0600);

  const Run with = Measure(home, sims, &broker, events);
  const Run without = Measure(home, sims, nullptr, events);
  const double median = bench::Percentile(with.latenciesMs, 0.5), p99 = bench::Percentile(with.latenciesMs, 0.99);
  const double addedCore = (with.cpuSeconds / with.seconds - without.cpuSeconds / without.seconds) * 100.0;
  std::printf("\n%-44s %12s %12s\n", "", "with MQTT", "without");
  std::printf("%-44s %12.2f %12.2f\n", "recorder CPU, % of a core", with.cpuSeconds / with.seconds * 100.0,
              without.cpuSeconds / without.seconds * 100.0);
  std::printf("%-44s %12.1f %12.1f\n", "recorder peak memory, MB", with.peakMegabytes, without.peakMegabytes);
  std::printf("%-44s %12zu\n", "events measured", with.latenciesMs.size());
  std::printf("%-44s %12d\n", "events without a message", with.missing);
  std::printf("%-44s %12.2f\n", "0520 sent -> event message, median ms", median);
  std::printf("%-44s %12.2f\n", "0520 sent -> event message, p99 ms", p99);
  std::printf("%-44s %12.2f\n", "0520 sent -> event message, max ms", bench::Percentile(with.latenciesMs, 1.0));
  std::printf(
      "RESULT cameras=%d events=%zu missing=%d median_ms=%.2f p99_ms=%.2f mqtt_core_percent=%.2f "
      "mqtt_memory_mb=%.1f\n",
      cameras, with.latenciesMs.size(), with.missing, median, p99, addedCore,
      with.peakMegabytes - without.peakMegabytes);
  return with.missing == 0 ? 0 : 1;
}
