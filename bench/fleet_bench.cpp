// zent-bench-fleet K: K stand-in cameras at 1280 x 720, 15 fps, all recorded at once by one
// zent-recorder for a one-minute event each. Prints the recorder's CPU, memory, lost frames and
// disk write rate; last, one line "RESULT key=value ...".
//
// usage: zent-bench-fleet [K] [--folder DIR] [--keep]
//   K: 16; DIR, where recordings go: /var/tmp; --keep: leave the recordings and every program's
//   output there

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/camsim_process.h"
#include "bench/proc_stats.h"
#include "tests/kit/avi_probe.h"
#include "tests/kit/profiles.h"

namespace {

using namespace std::chrono_literals;
using bench::CpuSeconds;
using bench::StatusMegabytes;
using Clock = std::chrono::steady_clock;

std::string Address(int camera) { return "127.0.0." + std::to_string(2 + camera); }

}  // namespace

int main(int argc, char** argv) {
  int cameras = 16;
  std::string folder = "/var/tmp";
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--folder" && i + 1 < argc) folder = argv[++i];
    else if (arg == "--keep") keep = true;
    else cameras = std::atoi(argv[i]);
  }
  if (cameras < 1 || cameras > 200) {
    std::fprintf(stderr, "usage: zent-bench-fleet [K] [--folder DIR]\n");
    return 2;
  }

  std::string pattern = folder + "/zent-fleet-XXXXXX";
  if (!::mkdtemp(pattern.data())) {
    std::perror(pattern.c_str());
    return 1;
  }
  const std::string home = pattern;
  const std::string documents = home + "/Documents";
  std::filesystem::create_directories(documents);
  std::filesystem::create_directories(home + "/.config/zent-client");

  std::printf("starting %d stand-in cameras at 1280x720, 15 fps...\n", cameras);
  std::vector<std::unique_ptr<camsim::CamSimProcess>> sims;
  std::vector<zent::CameraProfile> list;
  std::string credentials;
  for (int i = 0; i < cameras; ++i) {
    sims.push_back(std::make_unique<camsim::CamSimProcess>(std::vector<std::string>{
        "--address", Address(i), "--size", "1280x720", "--fps", "15", "--user", "cam", "--password", "fleet"}));
    list.push_back(zent::testing::StandInProfile(Address(i), sims.back()->EventPort(), sims.back()->VideoPort(),
                                                 documents + "/cam" + std::to_string(i) + ".avi"));
    credentials += Address(i) + " cam fleet\n";
  }
  zent::testing::WriteCameraList(documents, list);
  const std::string credentialsFile = home + "/.config/zent-client/credentials";
  std::ofstream(credentialsFile) << credentials;
  ::chmod(credentialsFile.c_str(), 0600);

  camsim::ChildProcess recorder(ZENT_RECORDER_PATH, {},
                                {"HOME=" + home, "XDG_CONFIG_HOME=" + home + "/.config", "CREDENTIALS_DIRECTORY="});
  for (int i = 0; i < 200 && recorder.Count("Successfully connected.") < cameras; ++i)
    std::this_thread::sleep_for(100ms);
  if (recorder.Count("Successfully connected.") < cameras) {
    std::fprintf(stderr, "not every camera connected:\n%s", recorder.Output().c_str());
    return 1;
  }
  std::this_thread::sleep_for(7s);  // the pre-event buffers fill (5 s by default)

  auto camsimCpu = [&] {
    double total = 0;
    for (const auto& sim : sims) total += CpuSeconds(sim->Pid());
    return total;
  };
  const double recorderCpu0 = CpuSeconds(recorder.Pid()), camsimCpu0 = camsimCpu();
  const auto start = Clock::now();
  std::printf("event on every camera; recording a minute...\n");
  for (const auto& sim : sims) sim->Command("event");
  for (int i = 0; i < 1200 && recorder.Count("Saved ") < cameras; ++i) std::this_thread::sleep_for(100ms);
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  const double recorderCpu = CpuSeconds(recorder.Pid()) - recorderCpu0, simCpu = camsimCpu() - camsimCpu0;
  const double peakMb = StatusMegabytes(recorder.Pid(), "VmHWM");
  const int saved = recorder.Count("Saved ");
  // What the recorder itself said of trouble: streams it lost, frames its writers had no room for.
  const int streamsLost = recorder.Count(" lost (");
  long long droppedBySlowDisk = 0;
  {
    std::istringstream lines(recorder.Output());
    for (std::string line; std::getline(lines, line);)
      if (const auto at = line.find(" frames dropped: the disk was too slow"); at != std::string::npos)
        droppedBySlowDisk += std::atoll(line.c_str() + line.rfind('(', at) + 1);
  }
  std::vector<std::filesystem::path> minuteFiles;
  for (const auto& entry : std::filesystem::directory_iterator(documents))
    if (entry.path().extension() == ".avi") minuteFiles.push_back(entry.path());

  // Stopping with every camera recording: each file must be closed with its index.
  for (const auto& sim : sims) sim->Command("event");
  for (int i = 0; i < 100 && recorder.Count("Recording to") < 2 * cameras; ++i) std::this_thread::sleep_for(100ms);
  std::this_thread::sleep_for(2s);
  const auto stopAsked = Clock::now();
  recorder.Signal(SIGTERM);
  const std::optional<int> exit = recorder.WaitForExit(10s);
  const double stopMs = std::chrono::duration<double, std::milli>(Clock::now() - stopAsked).count();

  // Frames the stand-ins themselves skipped: their sender found the connection still full.
  std::int64_t skippedBySender = 0;
  for (const auto& sim : sims) {
    // "video client N ended: sent … dropped D"; the event session's end says no "dropped".
    const std::optional<std::string> ended = sim->WaitForLine(", dropped ", 5s);
    if (ended) skippedBySender += std::atoll(ended->c_str() + ended->find(", dropped ") + 10);
  }

  std::int64_t frames = 0, lost = 0, bytes = 0;
  double seconds = 0;
  int files = 0;
  std::printf("\n%-24s %8s %8s %8s %10s\n", "recording", "frames", "lost", "seconds", "MB");
  int playableAtStop = 0;
  std::map<std::uint64_t, int> gapSizes;  // frames missing in a row (10: 10 or more) → how often
  for (const auto& entry : std::filesystem::directory_iterator(documents)) {
    if (entry.path().extension() != ".avi") continue;
    const zent::testing::AviProbe probe = zent::testing::ProbeAvi(entry.path());
    if (std::find(minuteFiles.begin(), minuteFiles.end(), entry.path()) == minuteFiles.end()) {
      playableAtStop += probe.opened && probe.packets > 0 && zent::testing::DecodeErrors(entry.path()).empty();
      continue;
    }
    std::int64_t gaps = 0;
    for (std::size_t i = 1; i < probe.cameraFrames.size(); ++i)
      if (probe.cameraFrames[i] > probe.cameraFrames[i - 1] + 1) {
        const std::uint64_t gap = probe.cameraFrames[i] - probe.cameraFrames[i - 1] - 1;
        gaps += static_cast<std::int64_t>(gap);
        ++gapSizes[std::min<std::uint64_t>(gap, 10)];
      }
    const std::int64_t size = static_cast<std::int64_t>(entry.file_size());
    std::printf("%-24s %8lld %8lld %8.1f %10.1f\n", entry.path().filename().c_str(),
                static_cast<long long>(probe.packets), static_cast<long long>(gaps), probe.seconds, size / 1e6);
    ++files;
    frames += probe.packets;
    lost += gaps;
    bytes += size;
    seconds = std::max(seconds, probe.seconds);
  }
  // The same stand-ins recorded by one `ffmpeg -c copy` process a camera, as the reference: CPU a
  // frame (from the children's own accounting once they have ended) and memory summed.
  constexpr int kCopySeconds = 30;
  std::filesystem::create_directories(home + "/ffmpeg");
  rusage before{};
  ::getrusage(RUSAGE_CHILDREN, &before);
  std::vector<std::unique_ptr<camsim::ChildProcess>> copies;
  for (int i = 0; i < cameras; ++i)
    copies.push_back(std::make_unique<camsim::ChildProcess>(
        "/usr/bin/ffmpeg",
        std::vector<std::string>{"-nostdin", "-loglevel", "error", "-i",
                                 "http://cam:fleet@" + Address(i) + ":" + std::to_string(sims[i]->VideoPort()) + "/",
                                 "-c", "copy", "-t", std::to_string(kCopySeconds), "-y",
                                 home + "/ffmpeg/cam" + std::to_string(i) + ".avi"}));
  std::this_thread::sleep_for(std::chrono::seconds(kCopySeconds - 3));
  double copyMemoryMb = 0;
  for (const auto& copy : copies) copyMemoryMb += StatusMegabytes(copy->Pid(), "VmHWM");
  for (const auto& copy : copies) copy->WaitForExit(20s);
  rusage after{};
  ::getrusage(RUSAGE_CHILDREN, &after);
  const double copyCpu =
      (after.ru_utime.tv_sec - before.ru_utime.tv_sec) + (after.ru_stime.tv_sec - before.ru_stime.tv_sec) +
      ((after.ru_utime.tv_usec - before.ru_utime.tv_usec) + (after.ru_stime.tv_usec - before.ru_stime.tv_usec)) / 1e6;
  std::int64_t copyFrames = 0;
  for (int i = 0; i < cameras; ++i)
    copyFrames += zent::testing::ProbeAvi(home + "/ffmpeg/cam" + std::to_string(i) + ".avi").packets;

  if (keep) {
    // The recordings with what the recorder and every stand-in said, to look into afterwards.
    std::ofstream(home + "/recorder.log") << recorder.Output();
    for (int i = 0; i < cameras; ++i) std::ofstream(home + "/camsim" + std::to_string(i) + ".log") << sims[i]->Output();
    std::printf("kept in %s\n", home.c_str());
  } else {
    std::filesystem::remove_all(home);
  }
  if (!gapSizes.empty()) {
    std::printf("\ngaps (frames missing in a row: times):");
    for (const auto& [size, count] : gapSizes)
      std::printf(" %llu%s: %d", static_cast<unsigned long long>(size), size == 10 ? "+" : "", count);
    std::printf("\n");
  }

  const double recordedMinutes = cameras * wall / 60.0;
  std::printf("\ncameras %d, recordings %d (saved %d); streams lost %d, frames the writers dropped %lld\n", cameras,
              files, saved, streamsLost, droppedBySlowDisk);
  std::printf("SIGTERM while all %d were recording again: exit %d after %.0f ms, %d files playable\n", cameras,
              exit.value_or(-99), stopMs, playableAtStop);
  std::printf("recorder CPU %.1f s in %.1f s: %.3f of one core, %.2f s per camera per recorded minute\n", recorderCpu,
              wall, recorderCpu / wall, recorderCpu / recordedMinutes);
  std::printf("stand-in cameras CPU %.1f s: %.3f of one core\n", simCpu, simCpu / wall);
  const double msPerFrame = frames > 0 ? 1000 * recorderCpu / static_cast<double>(frames) : 0;
  const double copyMsPerFrame = copyFrames > 0 ? 1000 * copyCpu / static_cast<double>(copyFrames) : 0;
  std::printf(
      "CPU a recorded frame: zent-recorder %.3f ms (one process, peak %.1f MB); %d ffmpeg -c copy %.3f ms "
      "(%lld frames in %d s, memory summed %.1f MB): %.2fx\n",
      msPerFrame, peakMb, cameras, copyMsPerFrame, static_cast<long long>(copyFrames), kCopySeconds, copyMemoryMb,
      copyMsPerFrame > 0 ? msPerFrame / copyMsPerFrame : 0);
  std::printf(
      "peak resident memory %.1f MB; frames %lld, lost %lld; frames the stand-ins skipped over their whole "
      "run (their sender was late or the connection still full): %lld; disk %.1f MB/s\n",
      peakMb, static_cast<long long>(frames), static_cast<long long>(lost), static_cast<long long>(skippedBySender),
      bytes / 1e6 / seconds);
  std::printf(
      "RESULT cameras=%d recordings=%d cpu_cores=%.3f cpu_s_per_camera_minute=%.3f camsim_cores=%.3f "
      "peak_rss_mb=%.1f frames=%lld frames_lost=%lld not_sent=%lld disk_mb_per_s=%.1f stop_ms=%.0f playable_at_stop=%d "
      "cpu_ms_per_frame=%.3f ffmpeg_cpu_ms_per_frame=%.3f ffmpeg_memory_mb=%.1f\n",
      cameras, files, recorderCpu / wall, recorderCpu / recordedMinutes, simCpu / wall, peakMb,
      static_cast<long long>(frames), static_cast<long long>(lost), static_cast<long long>(skippedBySender),
      bytes / 1e6 / seconds, stopMs, playableAtStop, msPerFrame, copyMsPerFrame, copyMemoryMb);
  return files == cameras && lost == 0 && exit == 0 && playableAtStop == cameras ? 0 : 1;
}
