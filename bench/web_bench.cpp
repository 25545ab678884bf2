// zent-bench-web [N]: zent-recorder's web page over N recordings (10,000) of one camera. Measures
// the first page of the list, the thumbnails in headless Chromium on a cold cache, the MP4 of a 65-s 1080p H.264
// recording (first byte, whole, against ffmpeg -c copy -movflags +faststart on the same file), the server's CPU per
// viewer playing a 1080p Motion JPEG recording at 30 fps, and 50 such viewers at once while the camera records; then
// what strangers cost: a logged-in user's camera list while 200 slow clients hold connections, and the service's memory
// during 64 wrong log-ins at once.

#include <httplib.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_stats.h"
#include "bench/proc_stats.h"
#include "sim/camsim_process.h"
#include "tests/kit/avi_probe.h"
#include "tests/kit/profiles.h"
#include "tests/kit/raw_client.h"
#include "tests/kit/temp_home.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Json = nlohmann::json;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

std::string Name(std::time_t t) {
  std::tm local{};
  ::localtime_r(&t, &local);
  char text[32];
  std::strftime(text, sizeof text, "door_%Y%m%d_%H%M%S.avi", &local);
  return text;
}

bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
  zent::testing::TempHome home;
  const std::string folder = home.path() + "/recordings";
  std::filesystem::create_directories(folder);

  std::printf("making %d recordings, a 65-s 1080p H.264 and a 10-s 1080p30 Motion JPEG one...\n", count);
  const std::string clip = home.path() + "/clip.avi";
  if (!zent::testing::WriteTestAvi(clip, 20, 320, 240)) return 1;
  const std::time_t now = std::time(nullptr);
  for (int i = 0; i < count; ++i)
    std::filesystem::create_hard_link(clip, folder + "/" + Name(now - 7 * 86400 + 3600 + i * (6 * 86400 / count)));
  const std::string h264 = folder + "/" + Name(now - 120), mjpeg = folder + "/" + Name(now - 60);
  if (!Run("ffmpeg -v error -f lavfi -i testsrc2=size=1920x1080:rate=30 -t 65 -c:v libx264 -preset ultrafast "
           "-b:v 4M -g 60 -bf 0 -pix_fmt yuv420p " +
           h264) ||
      !Run("ffmpeg -v error -f lavfi -i testsrc2=size=1920x1080:rate=30 -t 10 -c:v mjpeg -q:v 4 " + mjpeg))
    return 1;

  camsim::CamSimProcess camera(
      {"--address", "127.0.0.2", "--size", "1280x720", "--fps", "15", "--user", "cam", "--password", "web"});
  zent::testing::WriteCameraList(
      home.documents(),
      {zent::testing::StandInProfile("127.0.0.2", camera.EventPort(), camera.VideoPort(), folder + "/door.avi")});
  const std::string config = home.config() + "/zent-client";
  std::filesystem::create_directories(config);
  zent::testing::WriteFile(config + "/credentials", "127.0.0.2 cam web\n");
  ::chmod((config + "/credentials").c_str(), 0600);
  if (!Run("printf 'bench-pass-1\\n' | env HOME=" + home.path() + " XDG_CONFIG_HOME=" + home.config() + " " +
           ZENT_RECORDER_PATH + " --add-user bench >/dev/null"))
    return 1;
  const int port = 18000 + ::getpid() % 1000;
  std::vector<std::string> environment = home.Environment();
  camsim::ChildProcess recorder(ZENT_RECORDER_PATH, {"--web", "127.0.0.1:" + std::to_string(port)}, environment);
  if (!recorder.WaitForLine("web page at", 10s) || !recorder.WaitForLine("Waiting Event Message", 10s)) return 1;

  httplib::Client client("127.0.0.1", port);
  auto login = client.Post("/api/login", R"({"user":"bench","password":"bench-pass-1"})", "application/json");
  if (!login || login->status != 200) return 1;
  const std::string cookie =
      login->get_header_value("Set-Cookie").substr(0, login->get_header_value("Set-Cookie").find(';'));
  const httplib::Headers session{{"Cookie", cookie}};

  // The first page of the list, the first time and then as it is asked again.
  std::vector<double> pageMs;
  for (int i = 0; i < 21; ++i) {
    const auto start = Clock::now();
    auto answer = client.Get("/api/recordings?camera=127_0_0_2&page=0", session);
    pageMs.push_back(Ms(Clock::now() - start));
    if (!answer || answer->status != 200) return 1;
  }
  const double firstPageMs = pageMs.front();
  pageMs.erase(pageMs.begin());

  // The page in Chromium before any thumbnail was asked for: how soon the pictures in view show.
  std::string pageResult = "(no Chromium or puppeteer-core: scripts/setup installs them)";
  if (FILE* node = ::popen(
          ("node " WEB_PAGE_BENCH " http://127.0.0.1:" + std::to_string(port) + " bench bench-pass-1 2>&1").c_str(),
          "r")) {
    char line[512];
    while (std::fgets(line, sizeof line, node)) {
      if (std::getenv("ZENT_BENCH_TRACE")) std::fputs(line, stdout);
      if (std::string(line).rfind("RESULT ", 0) == 0) pageResult = std::string(line + 7, std::strlen(line + 7) - 1);
    }
    ::pclose(node);
  }

  // The MP4: first byte and whole, against ffmpeg's own remux of the same file.
  const std::string id = "127_0_0_2~" + Name(now - 120).substr(5, 15);
  double firstByteMs = -1, wholeMs = 0;
  std::size_t mp4Bytes = 0;
  {
    const auto start = Clock::now();
    auto answer = client.Get("/api/recordings/" + id + "/video.mp4", session, [&](const char*, std::size_t n) {
      if (firstByteMs < 0) firstByteMs = Ms(Clock::now() - start);
      mp4Bytes += n;
      return true;
    });
    wholeMs = Ms(Clock::now() - start);
    if (!answer || answer->status != 200) return 1;
  }
  const auto ffmpegStart = Clock::now();
  Run("ffmpeg -v error -y -i " + h264 + " -c copy -movflags +faststart " + home.path() + "/ffmpeg.mp4");
  const double ffmpegMs = Ms(Clock::now() - ffmpegStart);

  // Viewers of the 1080p Motion JPEG recording, each asking for 30 frames a second.
  const std::string mjpegId = "127_0_0_2~" + Name(now - 60).substr(5, 15);
  const Json frames = Json::parse(client.Get("/api/recordings/" + mjpegId + "/frames", session)->body);
  const int frameCount = frames["count"];
  auto watch = [&](std::chrono::seconds length, std::atomic<long>& served) {
    httplib::Client viewer("127.0.0.1", port);
    const auto start = Clock::now();
    for (int n = 0; Clock::now() - start < length; ++n) {
      std::this_thread::sleep_until(start + n * std::chrono::microseconds(33333));
      auto answer =
          viewer.Get("/api/recordings/" + mjpegId + "/frame/" + std::to_string(n % frameCount) + ".jpg", session);
      if (answer && answer->status == 200) ++served;
    }
  };
  std::atomic<long> oneServed{0};
  const double cpu0 = bench::CpuSeconds(recorder.Pid());
  watch(10s, oneServed);
  const double onePercent = (bench::CpuSeconds(recorder.Pid()) - cpu0) / 10.0 * 100.0;

  // Fifty at once while the camera records an event.
  camera.Command("event");
  if (!recorder.WaitForLine("Recording to", 10s)) return 1;
  std::atomic<long> manyServed{0};
  std::vector<std::thread> viewers;
  for (int i = 0; i < 50; ++i) viewers.emplace_back([&] { watch(20s, manyServed); });
  for (auto& viewer : viewers) viewer.join();

  // 200 strangers, 50 from each of four addresses, each sending its request's head a byte at a
  // time; meanwhile a logged-in user asks for the cameras.
  std::vector<std::unique_ptr<zent::testing::RawClient>> strangers;
  for (int i = 0; i < 200; ++i) {
    const std::string from = "127.0.0." + std::to_string(10 + i / 50);
    strangers.push_back(std::make_unique<zent::testing::RawClient>(port, from.c_str(), 100ms));
    strangers.back()->Send("G");
  }
  std::vector<double> camerasMs;
  int camerasFailed = 0;
  for (int i = 0; i < 30; ++i) {
    for (auto& stranger : strangers) stranger->Send("E");
    const auto start = Clock::now();
    auto answer = client.Get("/api/cameras", session);
    camerasMs.push_back(Ms(Clock::now() - start));
    camerasFailed += !answer || answer->status != 200;
    std::this_thread::sleep_for(100ms);
  }
  int strangersHeld = 0;
  for (auto& stranger : strangers) strangersHeld += stranger->Connected() && stranger->Send("T");
  strangers.clear();

  // 64 wrong log-ins at once, each from an address and for a name of its own so that no limiter
  // turns them away: what the password checks cost in memory, at most and after.
  std::this_thread::sleep_for(500ms);
  const double idleMb = bench::StatusMegabytes(recorder.Pid(), "VmRSS");
  std::atomic<bool> sampling{true};
  double peakMb = idleMb;
  std::thread sampler([&] {
    while (sampling) {
      peakMb = std::max(peakMb, bench::StatusMegabytes(recorder.Pid(), "VmRSS"));
      std::this_thread::sleep_for(2ms);
    }
  });
  std::atomic<int> checked{0}, busy{0};
  std::vector<std::thread> guesses;
  for (int i = 0; i < 64; ++i)
    guesses.emplace_back([&, i] {
      const std::string from = "127.0." + std::to_string(1 + i / 200) + "." + std::to_string(1 + i % 200);
      zent::testing::RawClient guess(port, from.c_str());
      const std::string body = R"({"user":"guess)" + std::to_string(i) + R"(","password":"wrong-pass-1"})";
      guess.Send("POST /api/login HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nContent-Length: " +
                 std::to_string(body.size()) + "\r\n\r\n" + body);
      const std::string answer = guess.Read(10s, "}");
      checked += answer.rfind("HTTP/1.1 401", 0) == 0;
      busy += answer.rfind("HTTP/1.1 503", 0) == 0;
    });
  for (auto& guess : guesses) guess.join();
  std::this_thread::sleep_for(300ms);
  sampling = false;
  sampler.join();
  const double afterMb = bench::StatusMegabytes(recorder.Pid(), "VmRSS");

  recorder.Signal(SIGTERM);
  recorder.WaitForExit(10s);
  const auto saved = recorder.WaitForLine("Saved ", 1s);
  const int dropped = recorder.Count("dropping frames");

  std::printf("\n%-52s %10s\n", "", "value");
  std::printf("%-52s %10.1f\n", "first page of the list, first time, ms", firstPageMs);
  std::printf("%-52s %10.1f\n", "first page of the list, again (median), ms", bench::Percentile(pageMs, 0.5));
  std::printf("%-52s %s\n", "thumbnails in Chromium, cold cache:", pageResult.c_str());
  std::printf("%-52s %10.1f\n", "MP4 of 65-s 1080p H.264: first byte, ms", firstByteMs);
  std::printf("%-52s %10.1f\n", "MP4: whole, ms", wholeMs);
  std::printf("%-52s %10.1f\n", "ffmpeg -c copy -movflags +faststart, ms", ffmpegMs);
  std::printf("%-52s %10.1f\n", "one viewer of 1080p MJPEG at 30 fps, % of a core", onePercent);
  std::printf("%-52s %10ld\n", "frames served to one viewer in 10 s", oneServed.load());
  std::printf("%-52s %10ld\n", "frames served to 50 viewers in 20 s", manyServed.load());
  std::printf("%-52s %10d\n", "'dropping frames' lines while they watched", dropped);
  std::printf("%-52s %10.1f\n", "/api/cameras beside 200 slow strangers, median ms", bench::Percentile(camerasMs, 0.5));
  std::printf("%-52s %10.1f\n", "/api/cameras beside 200 slow strangers, max ms", bench::Percentile(camerasMs, 1.0));
  std::printf("%-52s %10d\n", "/api/cameras failed", camerasFailed);
  std::printf("%-52s %10d\n", "strangers still connected after 3 s", strangersHeld);
  std::printf("%-52s %10.1f\n", "service's memory before the log-ins, MB", idleMb);
  std::printf("%-52s %10.1f\n", "64 wrong log-ins at once: peak MB above idle", peakMb - idleMb);
  std::printf("%-52s %10.1f\n", "64 wrong log-ins at once: MB kept after", afterMb - idleMb);
  std::printf("%-52s %7d/%d\n", "64 wrong log-ins at once: checked / told to retry", checked.load(), busy.load());
  std::printf("%s\n", saved ? saved->c_str() : "(no recording saved)");
  std::printf(
      "RESULT recordings=%d first_page_ms=%.1f page_ms=%.1f mp4_first_byte_ms=%.1f mp4_ms=%.1f ffmpeg_ms=%.1f "
      "mp4_ratio=%.2f viewer_core_percent=%.2f served_50=%ld dropped_lines=%d cameras_ms=%.1f login_peak_mb=%.1f "
      "login_kept_mb=%.1f %s\n",
      count, firstPageMs, bench::Percentile(pageMs, 0.5), firstByteMs, wholeMs, ffmpegMs, wholeMs / ffmpegMs,
      onePercent, manyServed.load(), dropped, bench::Percentile(camerasMs, 0.5), peakMb - idleMb, afterMb - idleMb,
      pageResult.c_str());
  return 0;
}
