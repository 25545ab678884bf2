// zent-bench-record: what recording costs. zent-camsim serves 1920 × 1080 at 30 frames per second
// (4:2:2 JPEGs), and GStreamer's RTSP server the same size as H.264 at about 4 Mbit/s with a key
// frame every 2 s; the viewer records with its window hidden and shown at 320 × 260, and, on the
// same stream, ffmpeg's stream copy and a full-size decode to RGB serve as references. Each runs
// in a process of its own so that its CPU time and memory are its alone.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>

#include "bench/pump_events.h"
#include "app/client_app.h"
#include "app/main/main_dlg.h"
#include "app/record/record_dlg.h"
#include "record/clip.h"
#include "record/recording_reader.h"
#include "record/file_writer.h"
#include "record/memory_budget.h"
#include "record/video_engine.h"
#include "bench/bench_stats.h"
#include "sim/camsim_process.h"
#include "sim/rtsp_server_process.h"
#include "tests/kit/avi_probe.h"
#include "tests/kit/profiles.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPreEventSeconds = 5;

// This process's CPU time (user + system), to the clock's own precision: a clip takes milliseconds.
double CpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

class BenchListener : public zent::VideoListener {
 public:
  zent::VideoEngine* engine = nullptr;
  std::atomic<int> pictures{0};
  std::atomic<double> firstFrameMs{-1};
  std::atomic<bool> saved{false};
  void OnVideoPicture(std::shared_ptr<const zent::VideoPicture>) override {
    ++pictures;
    engine->PictureTaken();  // the window takes each picture as it comes
  }
  void OnVideoModeChanged() override {}
  void OnVideoReport(const zent::VideoReport& report) override {
    if (report.kind == zent::VideoReport::Kind::RecordingStarted) firstFrameMs = report.firstFrameMs;
    if (report.kind == zent::VideoReport::Kind::RecordingSaved) saved = true;
    if (report.kind == zent::VideoReport::Kind::RecordingFailed) std::fprintf(stderr, "%s\n", report.text.c_str());
  }
};

// Child: the viewer records for `seconds`, hidden or shown; prints its CPU time while recording.
int RecordScenario(int port, int seconds, const std::string& file, bool shown, const std::string& urlTemplate) {
  BenchListener listener;
  zent::VideoEngine engine(listener);
  listener.engine = &engine;
  engine.SetSource({"127.0.0.1", port, "", "", urlTemplate});
  engine.SetPreEventSeconds(kPreEventSeconds);  // the default: memory is measured with its buffer
  if (shown) engine.SetDisplaySize(320, 260);
  engine.StartView();
  // Connected, frame rate measured, and the pre-event buffer full: a camera that has been running
  // for a while, whose buffer no longer grows.
  std::this_thread::sleep_for(std::chrono::seconds(kPreEventSeconds + 1));
  const double cpuBefore = CpuSeconds();
  std::string error;
  if (engine.StartRecording(file, error).empty()) {
    std::fprintf(stderr, "cannot record: %s\n", error.c_str());
    return 1;
  }
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  engine.StopRecording();
  while (!listener.saved) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const double cpu = CpuSeconds() - cpuBefore;
  engine.StopView();
  std::printf("cpu=%.3f first_frame_ms=%.1f pictures=%d\n", cpu, listener.firstFrameMs.load(),
              listener.pictures.load());
  return 0;
}

// Child: decodes every frame at full size and converts it to RGB, for `seconds`.
int DecodeScenario(const std::string& url, int seconds) {
  av_log_set_level(AV_LOG_QUIET);
  AVFormatContext* input = nullptr;
  AVDictionary* options = nullptr;
  if (url.rfind("rtsp://", 0) == 0) av_dict_set(&options, "rtsp_transport", "tcp", 0);
  const int opened = avformat_open_input(&input, url.c_str(), nullptr, &options);
  av_dict_free(&options);
  if (opened < 0) return 1;
  if (avformat_find_stream_info(input, nullptr) < 0 || input->nb_streams < 1) return 1;
  const AVCodec* codec = avcodec_find_decoder(input->streams[0]->codecpar->codec_id);
  AVCodecContext* decoder = avcodec_alloc_context3(codec);
  avcodec_parameters_to_context(decoder, input->streams[0]->codecpar);
  decoder->thread_count = 1;
  avcodec_open2(decoder, codec, nullptr);
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  SwsContext* scaler = nullptr;
  std::vector<std::uint8_t> rgb;
  const double cpuBefore = CpuSeconds();
  const auto end = Clock::now() + std::chrono::seconds(seconds);
  int frames = 0;
  while (Clock::now() < end && av_read_frame(input, packet) >= 0) {
    if (avcodec_send_packet(decoder, packet) >= 0 && avcodec_receive_frame(decoder, frame) >= 0) {
      // one picture per packet: neither stream here has B-frames
      scaler =
          sws_getCachedContext(scaler, frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                               frame->width, frame->height, AV_PIX_FMT_RGB32, SWS_BILINEAR, nullptr, nullptr, nullptr);
      rgb.resize(static_cast<std::size_t>(frame->width) * frame->height * 4);
      std::uint8_t* planes[4] = {rgb.data()};
      int strides[4] = {frame->width * 4};
      sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, planes, strides);
      ++frames;
    }
    av_packet_unref(packet);
  }
  std::printf("cpu=%.3f frames=%d\n", CpuSeconds() - cpuBefore, frames);
  sws_freeContext(scaler);
  av_frame_free(&frame);
  av_packet_free(&packet);
  avcodec_free_context(&decoder);
  avformat_close_input(&input);
  return 0;
}

// Child: the whole program's path from the camera's event to the first frame in the file, over
// `events` events: event channel, main window, recording window, viewer, file.
int EventScenario(const std::string& size, double fps, int events) {
  const std::string home = std::filesystem::temp_directory_path() / ("zent-bench-home-" + std::to_string(getpid()));
  std::filesystem::create_directories(home + "/Documents");
  setenv("HOME", home.c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int argc = 1;
  char name[] = "zent-bench-record";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);

  camsim::CamSimProcess camera({"--size", size, "--fps", std::to_string(fps)});
  const zent::CameraProfile profile =
      zent::testing::StandInProfile("127.0.0.1", camera.EventPort(), camera.VideoPort(), home + "/Documents/bench.avi");
  std::vector<double> latencies;
  std::vector<std::pair<std::string, double>> recordings;  // file, the event's send time
  std::vector<double> firstFrameOffsets;
  {
    CMainDlg dlg;
    dlg.m_currentProfile = profile;
    dlg.SetMillisecondsPerMinute(300);  // short recordings: what is measured is around them
    dlg.OnLogIn();
    if (!bench::PumpUntil([&] { return dlg.m_bRecorderReady == 1 && dlg.RecordDlg() && dlg.RecordDlg()->m_pViewer; },
                          10000))
      return 1;
    bench::PumpUntil([] { return false; }, 1500);                           // the viewer has measured the frame rate
    bench::PumpUntil([] { return false; }, (kPreEventSeconds + 1) * 1000);  // the buffer reaches back far enough
    Clock::time_point firstFrame;
    bool recordingStarted = false;
    std::string recording;
    QObject::connect(dlg.RecordDlg()->m_pViewer, &ViewerControl::Reported, [&](const zent::VideoReport& report) {
      if (report.kind == zent::VideoReport::Kind::RecordingStarted) {
        firstFrame = Clock::now();
        recordingStarted = true;
        recording = report.path;
      }
    });
    for (int i = 0; i < events; ++i) {
      if (!bench::PumpUntil(
              [&] { return dlg.m_bRecorderReady == 1 && dlg.m_bRecording == 0 && !dlg.RecordDlg()->isVisible(); },
              5000))
        return 1;
      bench::PumpUntil([] { return false; }, 1100);  // a new second: a new file name
      recordingStarted = false;
      const std::size_t from = camera.LineCount();
      camera.Command("event");
      if (!bench::PumpUntil([&] { return recordingStarted; }, 5000)) return 1;
      const auto line = camera.WaitForLine("send 0520", std::chrono::seconds(1), from);
      if (!line) return 1;
      latencies.push_back(
          (std::chrono::duration<double>(firstFrame.time_since_epoch()).count() - camsim::MonotonicStamp(*line)) *
          1000.0);
      recordings.emplace_back(recording, camsim::MonotonicStamp(*line));
    }
    if (!bench::PumpUntil([&] { return dlg.m_bRecording == 0 && !dlg.RecordDlg()->isVisible(); }, 5000)) return 1;
  }
  // Where each file begins against the camera's event: its first frame's number on the camera's
  // frame clock (frame 1 at the "video port" line, one every 1/fps) against the 0520's send time.
  const auto started = camera.WaitForLine("video port", std::chrono::seconds(1));
  const double frameClock = started ? camsim::MonotonicStamp(*started) : 0;
  for (const auto& [file, sent] : recordings) {
    const zent::testing::AviProbe probe = zent::testing::ProbeAvi(file);
    if (probe.cameraFrames.empty()) continue;
    const double made = frameClock + static_cast<double>(probe.cameraFrames.front() - 1) / fps;
    firstFrameOffsets.push_back((made - sent) * 1000.0);
  }
  CClientApp::WaitForSessionsToEnd();
  std::filesystem::remove_all(home);
  std::printf(
      "event_to_frame_ms_median=%.1f event_to_frame_ms_p99=%.1f events=%zu event_to_first_frame_ms=%.1f "
      "event_to_first_frame_ms_max=%.1f\n",
      bench::Percentile(latencies, 0.5), bench::Percentile(latencies, 0.99), latencies.size(),
      bench::Percentile(firstFrameOffsets, 0.5), bench::Percentile(firstFrameOffsets, 1.0));
  return 0;
}

struct ChildResult {
  std::string output;
  double cpu = 0;  // whole process
  double peakMb = 0;
  bool ok = false;
};

ChildResult RunChild(const std::vector<std::string>& arguments) {
  int out[2];
  if (pipe(out) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    std::vector<char*> argv;
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  ChildResult result;
  char buffer[4096];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;)
    result.output.append(buffer, static_cast<std::size_t>(n));
  close(out[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  result.cpu = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  result.peakMb = usage.ru_maxrss / 1024.0;
  result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return result;
}

double Field(const std::string& text, const std::string& key) {
  const auto at = text.find(key + "=");
  return at == std::string::npos ? -1 : std::atof(text.c_str() + at + key.size() + 1);
}

struct Row {
  std::string name;
  double cpuPerMinute = 0;
  double peakMb = 0;
  std::int64_t framesInFile = 0;
  std::int64_t framesSent = 0;  // the camera's frames from the first to the last one in the file
  double lengthError = 0;       // frames between the file's playing time and the camera's time
  double firstFrameMs = -1;
};

Row FromRecording(const std::string& name, const std::string& file, double cpu, double peakMb, double fps,
                  double firstFrameMs) {
  const zent::testing::AviProbe probe = zent::testing::ProbeAvi(file);
  Row row{name};
  row.peakMb = peakMb;
  row.framesInFile = probe.packets;
  if (!probe.cameraFrames.empty())
    row.framesSent = static_cast<std::int64_t>(probe.cameraFrames.back() - probe.cameraFrames.front() + 1);
  const double cameraSeconds = static_cast<double>(row.framesSent) / fps;
  row.lengthError = std::fabs(probe.seconds - cameraSeconds) * fps;
  row.cpuPerMinute = cameraSeconds > 0 ? cpu * 60.0 / cameraSeconds : 0;
  row.firstFrameMs = firstFrameMs;
  return row;
}

void PrintRows(const std::vector<Row>& rows) {
  std::printf("\n%-26s %12s %9s %14s %13s %13s\n", "per recorded minute", "CPU s", "peak MB", "frames file/sent",
              "length error", "first frame");
  for (const Row& r : rows) {
    std::printf("%-26s %12.2f %9.1f ", r.name.c_str(), r.cpuPerMinute, r.peakMb);
    if (r.framesInFile >= 0)
      std::printf("%7lld/%-7lld %10.2f fr ", static_cast<long long>(r.framesInFile),
                  static_cast<long long>(r.framesSent), r.lengthError);
    else std::printf("%14s %13s ", "-", "-");
    if (r.firstFrameMs >= 0) std::printf("%10.1f ms", r.firstFrameMs);
    std::printf("\n");
  }
}

// An H.264 file has no frame numbers of its own: its frames are counted against its timeline, so a
// frame lost leaves a hole that the count shows.
Row FromH264Recording(const std::string& name, const std::string& file, double cpu, double peakMb, double fps) {
  const zent::testing::AviProbe probe = zent::testing::ProbeAvi(file);
  Row row{name};
  row.peakMb = peakMb;
  row.framesInFile = probe.packets;
  row.framesSent = std::llround(probe.seconds * fps);
  row.lengthError = std::fabs(probe.seconds * fps - static_cast<double>(probe.packets));
  row.cpuPerMinute = probe.seconds > 0 ? cpu * 60.0 / probe.seconds : 0;
  if (!zent::testing::DecodeErrors(file).empty()) std::printf("%s: the file has decode errors\n", name.c_str());
  return row;
}

struct H264Result {
  bool ok = false;
  std::string result;  // key=value pairs for the RESULT line
};

// The same costs for H.264 from a real RTSP server, as most cameras send it.
H264Result RunH264(const std::string& self, const std::string& dir, int seconds, const std::string& size, double fps) {
  std::unique_ptr<camsim::RtspServerProcess> server;
  try {
    server = std::make_unique<camsim::RtspServerProcess>(
        std::vector<std::string>{"--codec", "h264", "--size", size, "--fps", std::to_string(static_cast<int>(fps)),
                                 "--gop-seconds", "2", "--kbit", "4000", "--path", "/stream1"});
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return {};
  }
  const std::string port = std::to_string(server->Port());
  const std::string url = "rtsp://127.0.0.1:" + port + "/stream1";
  const std::string secondsText = std::to_string(seconds);
  std::printf("RTSP server: H.264 %s at %g frames per second, 4 Mbit/s, key frame every 2 s; %d s per run\n",
              size.c_str(), fps, seconds);
  std::vector<Row> rows;
  for (const char* scenario : {"hidden", "shown"}) {
    const std::string file = dir + "/h264-" + scenario + ".avi";
    const ChildResult child =
        RunChild({self, "--scenario", scenario, port, secondsText, file, "rtsp://{address}:{port}/stream1"});
    if (!child.ok) {
      std::fprintf(stderr, "the H.264 %s run failed\n", scenario);
      return {};
    }
    rows.push_back(FromH264Recording(std::string("H.264 viewer, ") + scenario, file, Field(child.output, "cpu"),
                                     child.peakMb, fps));
  }
  const std::string ffmpegFile = dir + "/h264-ffmpeg.avi";
  const ChildResult ffmpeg = RunChild({"ffmpeg", "-nostdin", "-loglevel", "error", "-rtsp_transport", "tcp", "-i", url,
                                       "-c", "copy", "-t", secondsText, "-y", ffmpegFile});
  // ffmpeg's CPU counts its start-up and stream probing too, as a recorder started per event would.
  rows.push_back(FromH264Recording("H.264 ffmpeg -c copy", ffmpegFile, ffmpeg.cpu, ffmpeg.peakMb, fps));
  const ChildResult decode = RunChild({self, "--scenario", "decode", port, secondsText, url});
  Row decodeRow{"H.264 full-size decode"};
  decodeRow.cpuPerMinute = Field(decode.output, "cpu") * 60.0 / (Field(decode.output, "frames") / fps);
  decodeRow.peakMb = decode.peakMb;
  decodeRow.framesInFile = -1;
  rows.push_back(decodeRow);
  PrintRows(rows);
  std::printf("\n");

  H264Result result;
  result.ok = true;
  char text[256];
  std::snprintf(text, sizeof text,
                "h264_cpu_ratio_hidden_vs_ffmpeg=%.3f h264_cpu_ratio_shown_vs_full_decode=%.3f h264_lost_frames=%lld "
                "h264_length_error_frames=%.2f h264_peak_rss_mb=%.1f",
                rows[0].cpuPerMinute / rows[2].cpuPerMinute, rows[1].cpuPerMinute / decodeRow.cpuPerMinute,
                static_cast<long long>(std::max<std::int64_t>(0, rows[0].framesSent - rows[0].framesInFile) +
                                       std::max<std::int64_t>(0, rows[1].framesSent - rows[1].framesInFile)),
                std::max(rows[0].lengthError, rows[1].lengthError), std::max(rows[0].peakMb, rows[1].peakMb));
  result.result = text;
  return result;
}

// How fast a clip is made of a recording: the whole of it, as the page's clip of its span.
std::string ClipSpeed(const std::string& recording, const std::string& clip, const std::string& stream) {
  const zent::ClipSource source{recording, {}, 0};
  const std::optional<zent::RecordingExtent> extent = zent::ExtentOf(source);
  if (!extent) return stream + ": unreadable";
  std::FILE* out = std::fopen(clip.c_str(), "wb");
  if (!out) return stream + ": cannot write the clip";
  zent::ClipSummary summary;
  std::string error;
  const auto start = std::chrono::steady_clock::now();
  const double cpu = CpuSeconds();
  const bool ok = zent::WriteClip(
      {source}, extent->start, extent->start + std::chrono::seconds(static_cast<int>(extent->seconds) + 1),
      [out](const char* data, std::size_t size) { return std::fwrite(data, 1, size, out) == size; }, summary, error);
  std::fclose(out);
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double used = CpuSeconds() - cpu;
  const double megabytes = static_cast<double>(std::filesystem::file_size(clip)) / 1e6;
  std::filesystem::remove(clip);
  if (!ok) return stream + ": " + error;
  char line[160];
  std::snprintf(line, sizeof line, "%-26s %10.1f %10.3f %12.3f %12.1f",
                (stream + " " + zent::ContainerName(zent::ContainerOf(recording))).c_str(), megabytes, wall, used,
                extent->seconds / 60 / wall);
  return line;
}

// What writing costs apart from reading the camera: a recording's packets, held in memory, written
// by the recorder's own writer into each container in turn.
std::string WriterCost(const std::string& recording, const std::string& dir, const std::string& stream) {
  std::string error;
  const std::unique_ptr<zent::RecordingReader> reader =
      zent::RecordingReader::Open(recording, error, std::chrono::seconds(60));
  if (!reader) return stream + ": " + error;
  std::vector<zent::PacketPtr> packets;
  for (zent::PacketPtr p = zent::NewPacket(); av_read_frame(reader->Input(), p.get()) >= 0; p = zent::NewPacket())
    if (p->stream_index == reader->VideoStream()) packets.push_back(std::move(p));
  const AVRational rate = reader->Stream().avg_frame_rate.num > 0 ? reader->Stream().avg_frame_rate : AVRational{30, 1};
  const double minutes = static_cast<double>(packets.size()) / av_q2d(rate) / 60;
  double best[2] = {1e9, 1e9};
  for (int round = 0; round < 5; ++round)
    for (int mp4 = 0; mp4 < 2; ++mp4) {
      const std::string file = dir + "/writer" + (mp4 ? ".mp4" : ".avi");
      std::filesystem::remove(file);
      zent::UniqueFd fd(::open(file.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
      const double start = CpuSeconds();
      std::unique_ptr<zent::FileWriter> writer =
          zent::FileWriter::Open(std::move(fd), zent::ContainerOf(file), *reader->Stream().codecpar, rate,
                                 std::chrono::system_clock::now(), error);
      if (!writer) return stream + ": " + error;
      std::int64_t frame = 0;
      for (const zent::PacketPtr& packet : packets) {
        zent::PacketPtr copy = zent::NewPacket();
        av_packet_ref(copy.get(), packet.get());
        writer->Write(*copy, frame++, 0, error);
        if (frame % 6 == 0) writer->Flush();  // the recorder's batches, about five a second
      }
      writer->Finish(error);
      best[mp4] = std::min(best[mp4], CpuSeconds() - start);
      std::filesystem::remove(file);
    }
  char line[160];
  std::snprintf(line, sizeof line, "%-14s %10.3f %10.3f %8.3f", stream.c_str(), best[0] / minutes, best[1] / minutes,
                best[1] / best[0]);
  return line;
}

// MP4 beside AVI: the hidden viewer records the same stream into each, twice in turn, for
// Motion JPEG from the stand-in and H.264 from GStreamer's RTSP server.
int CompareContainers(const std::string& self, const std::string& dir, int seconds, const std::string& size,
                      double fps) {
  camsim::CamSimProcess camera({"--size", size, "--fps", std::to_string(fps)});
  camsim::RtspServerProcess server({"--codec", "h264", "--size", size, "--fps", std::to_string(static_cast<int>(fps)),
                                    "--gop-seconds", "2", "--kbit", "4000", "--path", "/stream1"});
  std::printf("%s at %g fps, %d s per run, the viewer hidden; CPU s and MB per recorded minute\n", size.c_str(), fps,
              seconds);
  std::printf("%-14s %10s %10s %10s %10s %8s\n", "stream", "AVI cpu", "MP4 cpu", "AVI MB", "MP4 MB", "MP4/AVI");
  std::string result;
  std::vector<std::string> clips, writers;
  for (const bool h264 : {false, true}) {
    double cpu[2] = {}, megabytes[2] = {}, minutes[2] = {};
    for (int round = 0; round < 2; ++round)
      for (int mp4 = 0; mp4 < 2; ++mp4) {
        const std::string file = dir + "/compare" + (mp4 ? ".mp4" : ".avi");
        const ChildResult child = h264 ? RunChild({self, "--scenario", "hidden", std::to_string(server.Port()),
                                                   std::to_string(seconds), file, "rtsp://{address}:{port}/stream1"})
                                       : RunChild({self, "--scenario", "hidden", std::to_string(camera.VideoPort()),
                                                   std::to_string(seconds), file});
        const zent::testing::AviProbe probe = zent::testing::ProbeAvi(file);
        if (!child.ok || probe.seconds <= 0) {
          std::fprintf(stderr, "the %s run failed\n", file.c_str());
          return 1;
        }
        cpu[mp4] += Field(child.output, "cpu");
        megabytes[mp4] += static_cast<double>(std::filesystem::file_size(file)) / 1e6;
        minutes[mp4] += probe.seconds / 60;
        if (round == 1) clips.push_back(ClipSpeed(file, dir + "/clip.mp4", h264 ? "H.264 RTSP" : "Motion JPEG"));
        if (round == 1 && !mp4) writers.push_back(WriterCost(file, dir, h264 ? "H.264 RTSP" : "Motion JPEG"));
        std::filesystem::remove(file);
      }
    const double ratio = (cpu[1] / minutes[1]) / (cpu[0] / minutes[0]);
    std::printf("%-14s %10.2f %10.2f %10.1f %10.1f %8.3f\n", h264 ? "H.264 RTSP" : "Motion JPEG", cpu[0] / minutes[0],
                cpu[1] / minutes[1], megabytes[0] / minutes[0], megabytes[1] / minutes[1], ratio);
    result += std::string(h264 ? " h264" : " mjpeg") + "_mp4_vs_avi_cpu=" + std::to_string(ratio) +
              (h264 ? " h264" : " mjpeg") + "_mp4_mb_per_min=" + std::to_string(megabytes[1] / minutes[1]);
  }
  std::printf(
      "\nThe writing alone (the same packets from memory into each container, best of 5; CPU s per "
      "recorded minute):\n");
  std::printf("%-14s %10s %10s %8s\n", "stream", "AVI cpu", "MP4 cpu", "MP4/AVI");
  for (const std::string& line : writers) std::printf("%s\n", line.c_str());
  std::printf("\nA clip of each whole recording (packets copied into a new MP4 on the same disk):\n");
  std::printf("%-26s %10s %10s %12s %12s\n", "recording", "MB", "wall s", "CPU s", "min per s");
  for (const std::string& line : clips) std::printf("%s\n", line.c_str());
  std::printf("RESULT%s\n", result.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  zent::KeepFreedFrameMemory();  // as both programs do
  if (argc >= 6 && std::strcmp(argv[1], "--scenario") == 0) {
    const std::string scenario = argv[2];
    const int port = std::atoi(argv[3]), seconds = std::atoi(argv[4]);
    if (scenario == "decode")
      return DecodeScenario(std::strcmp(argv[5], "-") != 0 ? argv[5] : "http://127.0.0.1:" + std::string(argv[3]) + "/",
                            seconds);
    if (scenario == "events") return EventScenario(argv[5], std::atof(argv[3]), seconds);
    return RecordScenario(port, seconds, argv[5], scenario == "shown", argc >= 7 ? argv[6] : "");
  }
  int seconds = 60;
  std::string size = "1920x1080";
  double fps = 30;
  bool h264Only = false, containers = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--h264-only") == 0) h264Only = true;
    else if (std::strcmp(argv[i], "--containers") == 0) containers = true;
    else if (i + 1 >= argc) break;
    else if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atoi(argv[++i]);
    else if (std::strcmp(argv[i], "--size") == 0) size = argv[++i];
    else if (std::strcmp(argv[i], "--fps") == 0) fps = std::atof(argv[++i]);
  }
  const std::string self = std::filesystem::canonical("/proc/self/exe").string();
  const std::string dir = std::filesystem::temp_directory_path() / ("zent-bench-record-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  if (containers) {
    const int status = CompareContainers(self, dir, seconds, size, fps);
    std::filesystem::remove_all(dir);
    return status;
  }
  const H264Result h264 = RunH264(self, dir, seconds, size, fps);
  if (!h264.ok) return 1;
  if (h264Only) {
    std::filesystem::remove_all(dir);
    std::printf("RESULT %s\n", h264.result.c_str());
    return 0;
  }

  camsim::CamSimProcess camera({"--size", size, "--fps", std::to_string(fps)});
  const std::string port = std::to_string(camera.VideoPort());
  const std::string secondsText = std::to_string(seconds);
  std::printf("zent-camsim %s at %g frames per second; %d s per run\n", size.c_str(), fps, seconds);

  std::vector<Row> rows;
  for (const char* scenario : {"hidden", "shown"}) {
    const std::string file = dir + "/" + scenario + ".avi";
    const ChildResult child = RunChild({self, "--scenario", scenario, port, secondsText, file});
    if (!child.ok) {
      std::fprintf(stderr, "the %s run failed\n", scenario);
      return 1;
    }
    rows.push_back(FromRecording(std::string("viewer, ") + scenario, file, Field(child.output, "cpu"), child.peakMb,
                                 fps, Field(child.output, "first_frame_ms")));
  }
  const std::string ffmpegFile = dir + "/ffmpeg.avi";
  const ChildResult ffmpeg =
      RunChild({"ffmpeg", "-nostdin", "-loglevel", "error", "-i", "http://127.0.0.1:" + port + "/", "-c", "copy", "-t",
                secondsText, "-y", ffmpegFile});
  rows.push_back(FromRecording("ffmpeg -c copy", ffmpegFile, ffmpeg.cpu, ffmpeg.peakMb, fps, -1));
  const ChildResult decode = RunChild({self, "--scenario", "decode", port, secondsText, "-"});
  Row decodeRow{"full-size decode to RGB"};
  decodeRow.cpuPerMinute = Field(decode.output, "cpu") * 60.0 / (Field(decode.output, "frames") / fps);
  decodeRow.peakMb = decode.peakMb;
  decodeRow.framesInFile = -1;
  rows.push_back(decodeRow);
  std::filesystem::remove_all(dir);
  const int events = 20;
  const ChildResult eventRun =
      RunChild({self, "--scenario", "events", std::to_string(fps), std::to_string(events), size});
  if (!eventRun.ok) {
    std::fprintf(stderr, "the event run failed\n");
    return 1;
  }
  const double eventMedian = Field(eventRun.output, "event_to_frame_ms_median");
  const double eventToFirstFrame = Field(eventRun.output, "event_to_first_frame_ms");
  const double eventToFirstFrameMax = Field(eventRun.output, "event_to_first_frame_ms_max");
  const double eventP99 = Field(eventRun.output, "event_to_frame_ms_p99");

  PrintRows(rows);
  const Row& hidden = rows[0];
  const Row& shown = rows[1];
  const double ffmpegCpu = rows[2].cpuPerMinute;
  std::printf("\nffmpeg's file: %lld frames for %lld sent; it stamps 25 per second, so its file plays %.2fx too fast\n",
              static_cast<long long>(rows[2].framesInFile), static_cast<long long>(rows[2].framesSent), fps / 25.0);
  std::printf(
      "camera's 0520 -> first frame written to the file, over %d events: median %.1f ms, p99 %.1f ms "
      "(200 ms of it are the recording window's fixed delays)\n",
      events, eventMedian, eventP99);
  std::printf(
      "the file's first frame lies %.1f ms from the camera's 0520 (median; latest %.1f ms; %d s before "
      "each event asked)\n",
      eventToFirstFrame, eventToFirstFrameMax, kPreEventSeconds);
  std::printf(
      "RESULT %s lost_frames=%lld cpu_ratio_hidden_vs_ffmpeg=%.3f cpu_ratio_shown_vs_full_decode=%.3f "
      "peak_rss_mb=%.1f length_error_frames=%.2f first_frame_ms=%.1f hidden_cpu_s_per_min=%.2f "
      "shown_cpu_s_per_min=%.2f ffmpeg_cpu_s_per_min=%.2f decode_cpu_s_per_min=%.2f "
      "event_to_frame_ms_median=%.1f event_to_frame_ms_p99=%.1f event_to_first_frame_ms=%.1f\n",
      h264.result.c_str(),
      static_cast<long long>((hidden.framesSent - hidden.framesInFile) + (shown.framesSent - shown.framesInFile)),
      hidden.cpuPerMinute / ffmpegCpu, shown.cpuPerMinute / decodeRow.cpuPerMinute,
      std::max(hidden.peakMb, shown.peakMb), std::max(hidden.lengthError, shown.lengthError),
      std::max(hidden.firstFrameMs, shown.firstFrameMs), hidden.cpuPerMinute, shown.cpuPerMinute, ffmpegCpu,
      decodeRow.cpuPerMinute, eventMedian, eventP99, eventToFirstFrame);
  return 0;
}
