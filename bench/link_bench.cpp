// zent-bench-link: how fast a camera event reaches the window, and the keep-alive round trip,
// over real loopback against zent-camsim.

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "bench/bench_stats.h"
#include "link/event_session.h"
#include "sim/camsim_process.h"

namespace {

using Clock = std::chrono::steady_clock;  // CLOCK_MONOTONIC, the clock zent-camsim stamps with

double Seconds(Clock::time_point t) { return std::chrono::duration<double>(t.time_since_epoch()).count(); }

class BenchHost : public zent::SessionHost {
 public:
  void LoginAccepted() override {}
  void SessionEnded(const zent::SessionEnding& ending) override {
    if (!ending.message.empty()) std::fprintf(stderr, "session ended: %s\n", ending.message.c_str());
  }
  void AddStatusLine(const std::string& text) override {
    const auto now = Clock::now();
    std::lock_guard lock(mutex_);
    if (text == "OK keep ZENT connection.") keepAliveSent_ = now;
    if (text == "Waiting Event Message...") {
      if (keepAliveSent_)
        keepAlive_.push_back(std::chrono::duration<double, std::milli>(now - *keepAliveSent_).count());
      keepAliveSent_.reset();
      ++waits_;
      changed_.notify_all();
    }
  }
  void CameraEvent(const zent::EventOrigin&) override {
    const auto now = Clock::now();
    std::lock_guard lock(mutex_);
    eventTimes_.push_back(Seconds(now));
  }

  bool WaitForWaits(int count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(5), [&] { return waits_ >= count; });
  }
  std::vector<double> EventTimes() {
    std::lock_guard lock(mutex_);
    return eventTimes_;
  }
  std::vector<double> KeepAlives() {
    std::lock_guard lock(mutex_);
    return keepAlive_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int waits_ = 0;
  std::optional<Clock::time_point> keepAliveSent_;
  std::vector<double> eventTimes_;
  std::vector<double> keepAlive_;
};

}  // namespace

int main(int argc, char** argv) {
  const int events = argc > 1 ? std::atoi(argv[1]) : 1000;
  camsim::CamSimProcess camera;
  auto host = std::make_shared<BenchHost>();
  zent::SessionSettings settings;
  settings.cameraAddress = "127.0.0.1";
  settings.privatePort = camera.EventPort();
  settings.userId = "admin";
  settings.password = "kwolt";
  auto session = zent::EventSession::Start(settings, host);
  if (!session || !host->WaitForWaits(1)) {
    std::fprintf(stderr, "zent-bench-link: the session did not log in\n");
    return 1;
  }

  std::vector<double> sentAt;
  for (int i = 0; i < events; ++i) {
    const std::size_t from = camera.LineCount();
    camera.Command("event");
    const auto line = camera.WaitForLine("send 0520", std::chrono::seconds(5), from);
    if (!line || !host->WaitForWaits(i + 2)) {
      std::fprintf(stderr, "zent-bench-link: event %d was lost\n", i);
      return 1;
    }
    sentAt.push_back(camsim::MonotonicStamp(*line));
  }
  session->RequestStop();
  session->WaitUntilEnded(std::chrono::seconds(2));

  const std::vector<double> received = host->EventTimes();
  std::vector<double> eventMs;
  for (std::size_t i = 0; i < received.size() && i < sentAt.size(); ++i)
    eventMs.push_back((received[i] - sentAt[i]) * 1000.0);
  const std::vector<double> keepAliveMs = host->KeepAlives();

  std::printf("%-34s %10s %10s %10s %10s\n", "over loopback, ms", "median", "p90", "p99", "max");
  auto row = [](const char* name, const std::vector<double>& v) {
    std::printf("%-34s %10.3f %10.3f %10.3f %10.3f\n", name, bench::Percentile(v, 0.5), bench::Percentile(v, 0.9),
                bench::Percentile(v, 0.99), bench::Percentile(v, 1.0));
  };
  row("0520 sent -> camera event call", eventMs);
  row("0500 sent -> next wait (+1 ms pause)", keepAliveMs);
  std::printf("events: %zu of %d delivered\n", eventMs.size(), events);
  std::printf(
      "RESULT events=%zu event_ms_median=%.3f event_ms_p99=%.3f keepalive_ms_median=%.3f keepalive_ms_p99=%.3f\n",
      eventMs.size(), bench::Percentile(eventMs, 0.5), bench::Percentile(eventMs, 0.99),
      bench::Percentile(keepAliveMs, 0.5), bench::Percentile(keepAliveMs, 0.99));
  return eventMs.size() == static_cast<std::size_t>(events) ? 0 : 1;
}
