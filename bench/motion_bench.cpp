// zent-bench-motion: what motion detection costs and how soon it starts a recording.
//   1. CPU of detection alone, per camera: a stream captured from the stand-in (Motion JPEG
//      1280 x 720, 15 fps, a still scene with a block crossing it now and then) and from GStreamer's
//      RTSP server (H.264 640 x 360, 10 fps, a moving ball: a sub-stream; and H.264 1280 x 720,
//      15 fps, key frames only: a main stream) is run through the detector at its own pace; beside
//      it, ffmpeg decoding the same bytes to -f null at the same reduced size.
//   2. From the first moved frame the stand-in sends (Motion JPEG 640 x 360, 10 fps) to the
//      recording's start in a whole headless camera, N times.
//   3. K motion cameras (Motion JPEG 1280 x 720, 15 fps) in one zent-recorder: its CPU while they
//      are watched, then a block crossing every picture at once: K recordings, frames lost.
// Usage: zent-bench-motion [MOVES] [K]

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_stats.h"
#include "bench/proc_stats.h"
#include "bench/recording_starts.h"
#include "motion/motion_pictures.h"
#include "record/packet_source.h"
#include "service/camera_recorder.h"
#include "sim/camsim_process.h"
#include "sim/rtsp_server_process.h"
#include "tests/kit/avi_probe.h"
#include "tests/kit/profiles.h"
#include "tests/kit/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;  // CLOCK_MONOTONIC, the clock zent-camsim stamps with
using namespace std::chrono_literals;

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double ChildrenCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct ParametersFreer {
  void operator()(AVCodecParameters* p) const { avcodec_parameters_free(&p); }
};

// A stream as it came in: its packets, in order, and what decodes them.
struct Capture {
  std::vector<zent::PacketPtr> packets;
  std::unique_ptr<AVCodecParameters, ParametersFreer> parameters{avcodec_parameters_alloc()};
  double fps = 0;
  double Seconds() const { return static_cast<double>(packets.size()) / fps; }
};

// Reads `url` for `seconds`, calling `during` once a second; writes the bytes to `file` as a
// raw stream ffmpeg can read (JPEGs one after another, or H.264 behind its parameter sets).
bool CaptureStream(const std::string& url, double fps, double seconds, const std::string& file, Capture& capture,
                   const std::function<void(int)>& during = {}) {
  int error = 0;
  const AVIOInterruptCB never{nullptr, nullptr};
  const std::unique_ptr<zent::PacketSource> source = zent::OpenPacketSource(url, never, error);
  if (!source) {
    std::fprintf(stderr, "zent-bench-motion: %s: %s\n", url.c_str(), zent::SourceErrorText(error).c_str());
    return false;
  }
  avcodec_parameters_copy(capture.parameters.get(), &source->Parameters());
  capture.fps = fps;
  std::ofstream out(file, std::ios::binary);
  if (capture.parameters->extradata_size > 0)
    out.write(reinterpret_cast<const char*>(capture.parameters->extradata), capture.parameters->extradata_size);
  const auto start = Clock::now();
  int second = -1;
  while (Clock::now() - start < std::chrono::duration<double>(seconds)) {
    zent::PacketPtr packet = zent::NewPacket();
    if (source->Read(*packet) < 0) return false;
    out.write(reinterpret_cast<const char*>(packet->data), packet->size);
    capture.packets.push_back(std::move(packet));
    const int now = static_cast<int>(std::chrono::duration<double>(Clock::now() - start).count());
    if (now != second && during) during(now);
    second = now;
  }
  return !capture.packets.empty();
}

struct Replay {
  double cpuPercent = 0;  // of one core, at the stream's own pace
  std::uint64_t decoded = 0;
  int events = 0;
};

// The detector over the captured stream, timed as it arrived: the CPU it takes, not the time.
Replay Detect(const Capture& capture, bool everyPicture) {
  zent::MotionPictures pictures(everyPicture);
  zent::MotionSettings settings;
  settings.refireAfter = 10s;
  zent::MotionDetector detector(settings);
  Replay replay;
  const auto t0 = Clock::now();
  const double cpu0 = ThreadCpuSeconds();
  for (std::size_t i = 0; i < capture.packets.size(); ++i) {
    const auto at = t0 + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(i / capture.fps));
    if (auto picture = pictures.Take(*capture.packets[i], *capture.parameters, at, detector.Unsure()))
      replay.events += detector.Feed(*picture, at).has_value();
  }
  replay.cpuPercent = 100 * (ThreadCpuSeconds() - cpu0) / capture.Seconds();
  replay.decoded = pictures.Decoded();
  return replay;
}

// ffmpeg decoding the same bytes to nothing at the detector's size, on one thread.
double Reference(const std::string& input, double streamSeconds) {
  const std::string command = "ffmpeg -nostdin -v error -threads 1 " + input +
                              " -filter_threads 1 -vf scale=160:90,format=gray -f null - </dev/null";
  const double cpu0 = ChildrenCpuSeconds();
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "zent-bench-motion: %s failed\n", command.c_str());
  return 100 * (ChildrenCpuSeconds() - cpu0) / streamSeconds;
}

struct Row {
  const char* name;
  Replay ours;
  double ffmpeg;
};

bool DetectionCost(const std::string& folder, std::vector<Row>& rows) {
  {
    camsim::CamSimProcess sim({"--size", "1280x720", "--fps", "15", "--still"});
    Capture capture;
    // 20 s: a block crosses in the 6th to 9th and in the 14th to 16th second.
    if (!CaptureStream("http://127.0.0.1:" + std::to_string(sim.VideoPort()) + "/", 15, 20, folder + "/mjpeg", capture,
                       [&](int second) {
                         if (second == 5) sim.Command("move 3");
                         if (second == 13) sim.Command("move 2");
                       }))
      return false;
    rows.push_back({"Motion JPEG 1280x720 15 fps (lowres)", Detect(capture, false),
                    Reference("-lowres 3 -f mjpeg -framerate 15 -i " + folder + "/mjpeg", capture.Seconds())});
  }
  if (!camsim::RtspServerProcess::Available()) {
    std::fprintf(stderr, "zent-bench-motion: no GStreamer RTSP server, no H.264 figures\n");
    return true;
  }
  {
    camsim::RtspServerProcess ball({"--pattern", "ball", "--size", "640x360", "--fps", "10", "--gop-seconds", "2"});
    Capture capture;
    if (!CaptureStream("rtsp://127.0.0.1:" + std::to_string(ball.Port()) + "/stream1", 10, 20, folder + "/sub.h264",
                       capture))
      return false;
    rows.push_back({"H.264 640x360 10 fps sub-stream (all)", Detect(capture, true),
                    Reference("-f h264 -framerate 10 -i " + folder + "/sub.h264", capture.Seconds())});
  }
  {
    camsim::RtspServerProcess main({"--size", "1280x720", "--fps", "15", "--gop-seconds", "2", "--kbit", "3000"});
    Capture capture;
    if (!CaptureStream("rtsp://127.0.0.1:" + std::to_string(main.Port()) + "/stream1", 15, 20, folder + "/main.h264",
                       capture))
      return false;
    rows.push_back(
        {"H.264 1280x720 15 fps main (key frames)", Detect(capture, false),
         Reference("-skip_frame nokey -f h264 -framerate 15 -i " + folder + "/main.h264", capture.Seconds())});
  }
  return true;
}

bool Latency(const std::string& folder, int moves, std::vector<double>& latencyMs) {
  camsim::CamSimProcess sim({"--size", "640x360", "--fps", "10", "--still", "--user", "cam", "--password", "pw"});
  zent::CameraSetup setup;
  setup.profile = zent::testing::StandInProfile("127.0.0.1", sim.EventPort(), sim.VideoPort(), folder + "/door.avi");
  setup.credentials = {"cam", "pw"};
  setup.preEventSeconds = 1;
  setup.events.kind = zent::EventSourceChoice::Kind::Motion;
  zent::RecorderTuning tuning;
  tuning.minute = 300ms;
  std::FILE* out = std::fopen((folder + "/output.txt").c_str(), "w");
  zent::StatusOutput output(out, folder);
  bench::RecordingStarts starts;
  {
    zent::CameraRecorder camera(setup, output, tuning, {&starts});
    if (!starts.Wait([&] { return starts.ready_ >= 1; })) return false;
    std::this_thread::sleep_for(2s);  // the background is learnt
    for (int i = 0; i < moves; ++i) {
      const std::size_t from = sim.LineCount();
      sim.Command("move 1");
      const auto first = sim.WaitForLine("first moved frame", 5s, from);
      if (!first || !starts.Wait([&] { return static_cast<int>(starts.started_.size()) > i; })) {
        std::fprintf(stderr, "zent-bench-motion: move %d was not recorded\n", i);
        return false;
      }
      latencyMs.push_back((starts.started_[static_cast<std::size_t>(i)] - camsim::MonotonicStamp(*first)) * 1000);
      starts.Wait([&] { return starts.ended_ > i; });
      std::this_thread::sleep_for(2s);  // the block has left; the scene is still again
    }
  }
  std::fclose(out);
  return true;
}

struct Fleet {
  double cpuPercentPerCamera = 0;
  int recordings = 0;
  std::int64_t frames = 0, lost = 0;
};

bool ManyCameras(const std::string& home, int cameras, Fleet& fleet) {
  const std::string documents = home + "/Documents";
  std::filesystem::create_directories(documents);
  std::filesystem::create_directories(home + "/.config/zent-client");
  std::vector<std::unique_ptr<camsim::CamSimProcess>> sims;
  std::vector<zent::CameraProfile> list;
  std::string credentials, events = "[cameraEvents]\n";
  for (int i = 0; i < cameras; ++i) {
    const std::string address = "127.0.0." + std::to_string(2 + i);
    sims.push_back(std::make_unique<camsim::CamSimProcess>(std::vector<std::string>{
        "--address", address, "--size", "1280x720", "--fps", "15", "--still", "--user", "cam", "--password", "pw"}));
    list.push_back(zent::testing::StandInProfile(address, sims.back()->EventPort(), sims.back()->VideoPort(),
                                                 documents + "/cam" + std::to_string(i) + ".avi"));
    credentials += address + " cam pw\n";
    events += address + "=motion\n";
  }
  zent::testing::WriteCameraList(documents, list);
  std::ofstream(home + "/.config/zent-client/credentials") << credentials;
  ::chmod((home + "/.config/zent-client/credentials").c_str(), 0600);
  std::ofstream(home + "/.config/zent-client/zent-client.ini") << events;

  camsim::ChildProcess recorder(ZENT_RECORDER_PATH, {},
                                {"HOME=" + home, "XDG_CONFIG_HOME=" + home + "/.config", "CREDENTIALS_DIRECTORY="});
  for (int i = 0; i < 200 && recorder.Count("for motion.") < cameras; ++i) std::this_thread::sleep_for(100ms);
  if (recorder.Count("for motion.") < cameras) {
    std::fprintf(stderr, "not every camera is watched:\n%s", recorder.Output().c_str());
    return false;
  }
  std::this_thread::sleep_for(7s);  // the pre-event buffers fill
  const double cpu0 = bench::CpuSeconds(recorder.Pid());
  const auto wall0 = Clock::now();
  std::this_thread::sleep_for(20s);
  fleet.cpuPercentPerCamera = 100 * (bench::CpuSeconds(recorder.Pid()) - cpu0) /
                              std::chrono::duration<double>(Clock::now() - wall0).count() / cameras;
  for (const auto& sim : sims) sim->Command("move 2");
  for (int i = 0; i < 1200 && recorder.Count("Saved ") < cameras; ++i) std::this_thread::sleep_for(100ms);
  recorder.Signal(SIGTERM);
  recorder.WaitForExit(10s);
  for (const auto& entry : std::filesystem::directory_iterator(documents)) {
    if (entry.path().extension() != ".avi") continue;
    ++fleet.recordings;
    const zent::testing::AviProbe probe = zent::testing::ProbeAvi(entry.path());
    fleet.frames += static_cast<std::int64_t>(probe.cameraFrames.size());
    for (std::size_t i = 1; i < probe.cameraFrames.size(); ++i)
      if (probe.cameraFrames[i] != probe.cameraFrames[i - 1] + 1)
        fleet.lost += static_cast<std::int64_t>(probe.cameraFrames[i] - probe.cameraFrames[i - 1]) - 1;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int moves = argc > 1 ? std::atoi(argv[1]) : 10;
  const int cameras = argc > 2 ? std::atoi(argv[2]) : 16;
  zent::testing::TempDir dir;

  std::vector<Row> rows;
  if (!DetectionCost(dir.path(), rows)) return 1;
  std::printf("%-42s %12s %10s %8s %12s\n", "detection alone, % of one core", "zent", "decoded", "events",
              "ffmpeg -f null");
  for (const Row& row : rows)
    std::printf("%-42s %12.2f %10llu %8d %12.2f\n", row.name, row.ours.cpuPercent,
                static_cast<unsigned long long>(row.ours.decoded), row.ours.events, row.ffmpeg);

  std::vector<double> latencyMs;
  if (!Latency(dir.path(), moves, latencyMs)) return 1;
  std::printf("\n%-46s %10s %10s %10s\n", "Motion JPEG 640x360 10 fps, ms", "median", "p99", "max");
  std::printf("%-46s %10.1f %10.1f %10.1f\n", "first moved frame -> recording starts",
              bench::Percentile(latencyMs, 0.5), bench::Percentile(latencyMs, 0.99), bench::Percentile(latencyMs, 1));

  Fleet fleet;
  if (!ManyCameras(dir.file("fleet"), cameras, fleet)) return 1;
  std::printf(
      "\n%d motion cameras (Motion JPEG 1280x720 15 fps) in one zent-recorder: %.2f %% of a core each "
      "while watched (reading the stream too); %d recordings, %lld frames, %lld lost\n",
      cameras, fleet.cpuPercentPerCamera, fleet.recordings, static_cast<long long>(fleet.frames),
      static_cast<long long>(fleet.lost));

  std::printf("RESULT mjpeg_cpu_percent=%.2f mjpeg_ffmpeg_percent=%.2f", rows[0].ours.cpuPercent, rows[0].ffmpeg);
  if (rows.size() > 2)
    std::printf(
        " h264_sub_cpu_percent=%.2f h264_sub_ffmpeg_percent=%.2f h264_key_cpu_percent=%.2f "
        "h264_key_ffmpeg_percent=%.2f",
        rows[1].ours.cpuPercent, rows[1].ffmpeg, rows[2].ours.cpuPercent, rows[2].ffmpeg);
  std::printf(
      " latency_ms_median=%.1f latency_ms_p99=%.1f cameras=%d recorder_cpu_percent_per_camera=%.2f "
      "recordings=%d frames_lost=%lld\n",
      bench::Percentile(latencyMs, 0.5), bench::Percentile(latencyMs, 0.99), cameras, fleet.cpuPercentPerCamera,
      fleet.recordings, static_cast<long long>(fleet.lost));
  const bool met = rows[0].ours.cpuPercent <= 2 && (rows.size() < 2 || rows[1].ours.cpuPercent <= 2) &&
                   bench::Percentile(latencyMs, 1) <= 300 && fleet.recordings == cameras && fleet.lost == 0;
  return met ? 0 : 1;
}
