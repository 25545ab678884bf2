// The video engine against zent-camsim's MJPEG stream, over loopback.

#include "record/clip.h"
#include "record/video_engine.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/kit/wait_until.h"
#include "tests/kit/avi_probe.h"
#include "tests/kit/camera_clock.h"
#include "tests/kit/recording_listener.h"
#include "tests/kit/scripted_server.h"
#include "tests/kit/temp_dir.h"
#include "config/paths.h"
#include "record/kept_mark.h"
#include "record/memory_budget.h"
#include "record/thumbnail.h"
#include "sim/camsim_process.h"

namespace zent::testing {
namespace {

using namespace std::chrono_literals;
using camsim::CamSimProcess;
using Kind = VideoReport::Kind;

class VideoEngineTest : public ::testing::Test {
 protected:
  void StartCamera(std::vector<std::string> arguments) {
    camera = std::make_unique<CamSimProcess>(std::move(arguments));
  }
  void View(std::string user = "admin", std::string password = "kwolt") {
    engine->SetSource({"127.0.0.1", camera->VideoPort(), std::move(user), std::move(password), ""});
    engine->StartView();
  }
  // Records for `duration`, then returns the saved report.
  std::optional<VideoReport> RecordFor(const std::string& name, std::chrono::milliseconds duration) {
    std::string error;
    path = engine->StartRecording(dir.file(name), error);
    EXPECT_FALSE(path.empty()) << error;
    std::this_thread::sleep_for(duration);
    const std::size_t from = listener.Reports().size();
    engine->StopRecording();
    return listener.WaitFor(Kind::RecordingSaved, 5s, from);
  }
  static void ExpectEveryFrameInOrder(const AviProbe& probe) {
    ASSERT_FALSE(probe.cameraFrames.empty());
    for (std::size_t i = 1; i < probe.cameraFrames.size(); ++i)
      ASSERT_EQ(probe.cameraFrames[i], probe.cameraFrames[i - 1] + 1) << "frame lost or repeated at packet " << i;
  }
  // In order and never twice; frames missing only as many as zent-camsim itself skipped for a
  // client too slow to take them (a machine loaded with other tests starves its sender).
  static std::uint64_t MissingFrames(const AviProbe& probe) {
    std::uint64_t missing = 0;
    for (std::size_t i = 1; i < probe.cameraFrames.size(); ++i) {
      EXPECT_GT(probe.cameraFrames[i], probe.cameraFrames[i - 1]) << "frame repeated or out of order at " << i;
      if (probe.cameraFrames[i] > probe.cameraFrames[i - 1])
        missing += probe.cameraFrames[i] - probe.cameraFrames[i - 1] - 1;
    }
    return missing;
  }
  std::uint64_t CameraSkipped() {
    const auto line = camera->WaitForLine("ended: sent", 2s);
    return line ? std::strtoull(line->c_str() + line->rfind("dropped ") + 8, nullptr, 10) : 0;
  }

  TempDir dir;
  std::unique_ptr<CamSimProcess> camera;
  VideoEngine* enginePointer = nullptr;
  RecordingListener listener{enginePointer};
  EngineTimings timings;
  std::unique_ptr<VideoEngine> engine = [this] {
    auto e = std::make_unique<VideoEngine>(listener, timings);
    enginePointer = e.get();
    return e;
  }();
  std::string path;
};

TEST_F(VideoEngineTest, ARecordingHoldsEveryFrameAndPlaysAtTheCamerasSpeed) {
  StartCamera({"--size", "320x240", "--fps", "10"});
  View();
  ASSERT_TRUE(listener.WaitFor(Kind::Connected, 5s));
  std::this_thread::sleep_for(1s);  // long enough to measure the frame rate
  const auto saved = RecordFor("clip.avi", 10s);
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->path, dir.file("clip.avi"));
  EXPECT_TRUE(listener.WaitFor(Kind::RecordingStarted, 1s));

  const AviProbe probe = ProbeAvi(path);
  ASSERT_TRUE(probe.opened);
  EXPECT_EQ(probe.format, "avi");
  EXPECT_EQ(probe.width, 320);
  EXPECT_EQ(probe.height, 240);
  EXPECT_NEAR(probe.frameRate, 10.0, 0.01);
  ExpectEveryFrameInOrder(probe);
  // Ten seconds asked for: at least their frames (a busy machine may stop a little later).
  EXPECT_GE(probe.packets, 97);
  EXPECT_LE(probe.packets, 115);
  EXPECT_EQ(probe.packets, saved->frames);
  // The camera's own clock: frame numbers at 10 per second. Frames are stamped as they arrive, so
  // a late first or last one moves the length by its lateness, never more.
  const double cameraSeconds = static_cast<double>(probe.cameraFrames.back() - probe.cameraFrames.front() + 1) / 10.0;
  EXPECT_NEAR(probe.seconds, cameraSeconds, 0.25);
  EXPECT_NEAR(saved->seconds, probe.seconds, 1e-6);
}

TEST_F(VideoEngineTest, AFolderThatCannotBeWrittenFailsAtOnce) {
  StartCamera({"--size", "160x120"});
  View();
  std::string error;
  EXPECT_TRUE(engine->StartRecording(dir.file("missing/clip.avi"), error).empty());
  EXPECT_EQ(error, "No such file or directory");
  EXPECT_FALSE(engine->Recording());
}

TEST_F(VideoEngineTest, AnExistingFileIsKeptAndTheNextFreeNameTaken) {
  StartCamera({"--size", "160x120", "--fps", "10"});
  WriteFile(dir.file("clip.avi"), "precious");
  WriteFile(dir.file("clip-1.avi"), "also precious");
  View();
  ASSERT_TRUE(listener.WaitFor(Kind::Connected, 5s));
  const auto saved = RecordFor("clip.avi", 1s);
  ASSERT_TRUE(saved);
  EXPECT_EQ(path, dir.file("clip-2.avi"));
  EXPECT_EQ(saved->path, path);
  EXPECT_EQ(ReadFile(dir.file("clip.avi")), "precious");
  EXPECT_EQ(ReadFile(dir.file("clip-1.avi")), "also precious");
  EXPECT_GT(ProbeAvi(path).packets, 0);
}

TEST_F(VideoEngineTest, TheFileMadeForARecordingIsTheOneWrittenNeverALinkOrAUrl) {
  StartCamera({"--size", "160x120", "--fps", "10"});
  WriteFile(dir.file("victim"), "precious");
  engine->SetPreEventSeconds(0);  // the file is opened for writing only when the first frame comes
  View();
  ASSERT_TRUE(listener.WaitFor(Kind::Connected, 5s));
  std::string error;
  path = engine->StartRecording(dir.file("swap.avi"), error);
  ASSERT_FALSE(path.empty()) << error;
  // Another program that may write the folder swaps the new, empty file for a link.
  std::filesystem::create_symlink(dir.file("victim"), dir.file("link"));
  std::filesystem::rename(dir.file("link"), path);
  std::this_thread::sleep_for(500ms);
  engine->StopRecording();
  ASSERT_TRUE(listener.WaitFor(Kind::RecordingSaved, 5s));
  EXPECT_EQ(ReadFile(dir.file("victim")), "precious");

  // A saving path is a file, never an FFmpeg URL or a name relative to wherever we were started.
  for (const char* wanted : {"pipe:1", "file:clip.avi", "clip.avi"}) {
    EXPECT_TRUE(engine->StartRecording(wanted, error).empty()) << wanted;
    EXPECT_EQ(error, "not a full path to a file");
  }
}

TEST_F(VideoEngineTest, ALostStreamGoesOnInTheSameFileWhenItReturns) {
  StartCamera({"--size", "160x120", "--fps", "10"});
  timings.reconnectPause = 300ms;
  engine = std::make_unique<VideoEngine>(listener, timings);
  enginePointer = engine.get();
  View();
  ASSERT_TRUE(listener.WaitFor(Kind::Connected, 5s));
  std::this_thread::sleep_for(500ms);
  std::string error;
  path = engine->StartRecording(dir.file("gap.avi"), error);
  const auto started = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(1500ms);
  camera->Command("video-off");
  const auto lost = listener.WaitFor(Kind::StreamLost, 5s);
  ASSERT_TRUE(lost);
  EXPECT_TRUE(lost->text.ends_with("; retrying every 0.3 s")) << lost->text;  // the pause it was given
  std::this_thread::sleep_for(1500ms);
  const std::size_t before = listener.Reports().size();
  camera->Command("video-on");
  ASSERT_TRUE(listener.WaitFor(Kind::Connected, 5s, before));
  std::this_thread::sleep_for(1500ms);
  engine->StopRecording();
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  ASSERT_TRUE(listener.WaitFor(Kind::RecordingSaved, 5s));

  const AviProbe probe = ProbeAvi(path);
  ASSERT_TRUE(probe.opened);
  // Frames from before and after the gap, and the gap kept as time.
  ASSERT_FALSE(probe.cameraFrames.empty());
  EXPECT_GT(probe.cameraFrames.back() - probe.cameraFrames.front() + 1, static_cast<std::uint64_t>(probe.packets) + 10);
  EXPECT_NEAR(probe.seconds, wall, 0.5);
}

TEST_F(VideoEngineTest, StoppingTheViewerClosesTheFileWithItsIndex) {
  StartCamera({"--size", "160x120", "--fps", "10"});
  View();
  ASSERT_TRUE(listener.WaitFor(Kind::Connected, 5s));
  std::string error;
  path = engine->StartRecording(dir.file("cut.avi"), error);
  std::this_thread::sleep_for(1500ms);
  engine->StopView();
  const auto saved = listener.WaitFor(Kind::RecordingSaved, 1s);
  ASSERT_TRUE(saved);
  const AviProbe probe = ProbeAvi(path);
  EXPECT_EQ(probe.packets, saved->frames);
  ExpectEveryFrameInOrder(probe);
  const std::string content = ReadFile(path);
  EXPECT_NE(content.find("idx1"), std::string::npos);
}

TEST_F(VideoEngineTest, ASizeSwitchRaisesTheModeChangeOnce) {
  StartCamera({"--size", "160x120", "--fps", "15"});
  View();
  ASSERT_TRUE(listener.WaitFor(Kind::Connected, 5s));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(listener.ModeChanges(), 0);
  camera->Command("size 320x240");
  ASSERT_TRUE(camera->WaitForLine("size 320x240", 5s));
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(listener.ModeChanges(), 1);
  camera->Command("size 160x120");
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(listener.ModeChanges(), 2);
}

TEST_F(VideoEngineTest, PicturesComeOnlyWhileShownAndNoLargerThanShown) {
  StartCamera({"--size", "640x480", "--fps", "15"});
  View();
  ASSERT_TRUE(listener.WaitFor(Kind::Connected, 5s));
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(listener.Pictures(), 0);
  engine->SetDisplaySize(320, 260);
  ASSERT_TRUE(listener.WaitForPictures(3, 3s));
  const auto picture = listener.LastPicture();
  EXPECT_EQ(picture->width, 320);
  EXPECT_EQ(picture->height, 240);  // 4:3 fitted into 320 × 260
  EXPECT_EQ(picture->pixels.size(), 320u * 240u * 4u);
  engine->SetDisplaySize(0, 0);
  std::this_thread::sleep_for(200ms);
  const int shown = listener.Pictures();
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(listener.Pictures(), shown);
}

TEST_F(VideoEngineTest, ACameraThatNeverAnswersDoesNotHoldTheViewerUp) {
  // A camera that takes the request and then says nothing.
  ScriptedServer silent("127.0.0.1", [](const std::string&) {
    std::this_thread::sleep_for(1500ms);
    return std::string();
  });
  engine->SetSource({"127.0.0.1", silent.Port(), "admin", "kwolt", ""});
  engine->StartView();
  std::this_thread::sleep_for(500ms);
  const auto before = std::chrono::steady_clock::now();
  engine->StopView();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 500ms);
}

TEST_F(VideoEngineTest, ACameraThatStaysAwayIsReportedOnce) {
  StartCamera({"--size", "160x120"});
  camera->Command("video-off");
  ASSERT_TRUE(camera->WaitForLine("video off", 2s));
  timings.reconnectPause = 100ms;
  engine = std::make_unique<VideoEngine>(listener, timings);
  enginePointer = engine.get();
  View();
  ASSERT_TRUE(listener.WaitFor(Kind::NoVideo, 5s));
  std::this_thread::sleep_for(800ms);  // several more attempts, 100 ms apart
  engine->StopView();
  int noVideo = 0;
  for (const auto& r : listener.Reports()) noVideo += r.kind == Kind::NoVideo;
  EXPECT_EQ(noVideo, 1);
}

TEST_F(VideoEngineTest, AWrongPasswordIsReportedWithoutThePassword) {
  StartCamera({"--size", "160x120", "--user", "admin", "--password", "kwolt"});
  View("admin", "s3cr3t-pw");
  const auto report = listener.WaitFor(Kind::NoVideo, 5s);
  ASSERT_TRUE(report);
  EXPECT_NE(report->text.find("401"), std::string::npos) << report->text;
  engine->StopView();
  for (const auto& r : listener.Reports()) EXPECT_EQ(r.text.find("s3cr3t"), std::string::npos) << r.text;
  EXPECT_TRUE(camera->WaitForLine("wrong credentials", 2s));
}

TEST_F(VideoEngineTest, ARecordingWithoutVideoLeavesNoEmptyFile) {
  StartCamera({"--size", "160x120"});
  camera->Command("video-off");
  ASSERT_TRUE(camera->WaitForLine("video off", 2s));
  View();
  std::string error;
  path = engine->StartRecording(dir.file("empty.avi"), error);
  ASSERT_FALSE(path.empty());
  engine->StopRecording();
  const auto failed = listener.WaitFor(Kind::RecordingFailed, 2s);
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->text, "Nothing saved to " + path + ": no video arrived");
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(VideoEngineTest, ARecordingBeginsItsSecondsBeforeTheEventWithEveryFrameOnce) {
  constexpr double kFps = 15;
  StartCamera({"--size", "160x120", "--fps", "15"});
  engine->SetPreEventSeconds(2);
  View();
  ASSERT_TRUE(listener.WaitFor(Kind::Connected, 5s));
  std::this_thread::sleep_for(3s);

  auto recordEvent = [&](const std::string& name) {
    const auto event = std::chrono::steady_clock::now();
    engine->MarkEvent();
    std::this_thread::sleep_for(200ms);  // the recording window's start delay
    const auto saved = RecordFor(name, 1s);
    EXPECT_TRUE(saved);
    return std::make_pair(CameraFrameAt(*camera, kFps, event), saved.value_or(VideoReport{Kind::RecordingFailed, ""}));
  };
  const auto [eventFrame, saved] = recordEvent("before.avi");
  const AviProbe before = ProbeAvi(path);
  ASSERT_FALSE(before.cameraFrames.empty());
  // From the last frame at or before 2 s back; one that arrived late may bring an earlier one in.
  EXPECT_LE(before.cameraFrames.front(), eventFrame - 2 * kFps + 1);
  EXPECT_GE(before.cameraFrames.front(), eventFrame - 2 * kFps - 5);
  EXPECT_NEAR(saved.preEventSeconds, 2.0, 0.1);
  EXPECT_NE(saved.text.find(" s before the event)"), std::string::npos) << saved.text;

  // 0 s: the recording begins after it was asked for, as it always did.
  engine->SetPreEventSeconds(0);
  std::this_thread::sleep_for(500ms);
  const auto [eventFrame0, saved0] = recordEvent("after.avi");
  const AviProbe after = ProbeAvi(path);
  ASSERT_FALSE(after.cameraFrames.empty());
  EXPECT_GE(after.cameraFrames.front(), eventFrame0);
  EXPECT_EQ(saved0.text.find("before the event"), std::string::npos);

  // A size change just before the event: only pictures of the new size.
  engine->SetPreEventSeconds(2);
  std::this_thread::sleep_for(3s);
  camera->Command("size 320x240");
  ASSERT_TRUE(camera->WaitForLine("size 320x240", 10s));  // a sanitized stand-in encodes its new pictures slowly
  std::this_thread::sleep_for(500ms);
  recordEvent("resized.avi");
  const AviProbe resized = ProbeAvi(path);
  EXPECT_EQ(resized.width, 320);
  EXPECT_EQ(resized.height, 240);

  engine->StopView();
  EXPECT_LE(MissingFrames(before) + MissingFrames(after) + MissingFrames(resized), CameraSkipped());
}

// A clip across three recordings: the second's pre-event seconds repeat the end of the first
// (AVI, then MP4), the third comes after a gap. The clip holds every frame of the span once, in
// order, from the one at its start; the gap stays a gap in its time; it plays without an error.
TEST_F(VideoEngineTest, AClipAcrossRecordingsHoldsEveryFrameOnceAndItsGapsAsTime) {
  constexpr double kFps = 15;
  StartCamera({"--size", "160x120", "--fps", "15"});
  engine->SetPreEventSeconds(3);
  View();
  ASSERT_TRUE(listener.WaitFor(Kind::Connected, 5s));
  std::this_thread::sleep_for(4s);
  std::vector<ClipSource> sources;
  std::vector<AviProbe> probes;
  for (const auto& [name, pause] :
       {std::pair{"door_20261209_100000.avi", 1s}, std::pair{"door_20261209_100003.mp4", 6s},
        std::pair{"door_20261209_100012.avi", 0s}}) {
    engine->MarkEvent();
    ASSERT_TRUE(RecordFor(name, 2s));
    sources.push_back({path, {}, 0});
    probes.push_back(ProbeAvi(path));
    std::this_thread::sleep_for(pause);
  }
  engine->StopView();
  // The second recording begins within the first: its pre-event seconds reach back over it.
  ASSERT_LT(probes[1].cameraFrames.front(), probes[0].cameraFrames.back());
  ASSERT_GT(probes[2].cameraFrames.front(), probes[1].cameraFrames.back() + 1.5 * kFps);

  const auto first = ExtentOf(sources[0]), last = ExtentOf(sources[2]);
  ASSERT_TRUE(first && last && first->tagged && last->tagged);
  const auto from = first->start + 1s;
  const auto to = last->start + 1s;
  const std::string clip = dir.file("clip.mp4");
  std::ofstream out(clip, std::ios::binary);
  ClipSummary summary;
  std::string error;
  ASSERT_TRUE(WriteClip(
      sources, from, to,
      [&](const char* data, std::size_t size) { return bool(out.write(data, std::streamsize(size))); }, summary, error))
      << error;
  out.close();
  EXPECT_EQ(summary.recordings, 3);
  EXPECT_EQ(DecodeErrors(clip), "");
  const AviProbe probe = ProbeAvi(clip);
  ASSERT_EQ(probe.packets, summary.frames);
  ASSERT_EQ(probe.cameraFrames.size(), static_cast<std::size_t>(summary.frames));
  // From the frame 1 s into the first recording, to the one 1 s into the third.
  EXPECT_NEAR(double(probe.cameraFrames.front()), double(probes[0].cameraFrames.front()) + kFps, 1);
  EXPECT_NEAR(double(probe.cameraFrames.back()), double(probes[2].cameraFrames.front()) + kFps - 1, 1);
  std::uint64_t missing = 0;
  for (std::size_t i = 1; i < probe.cameraFrames.size(); ++i) {
    ASSERT_GT(probe.cameraFrames[i], probe.cameraFrames[i - 1]) << "frame repeated or out of order at " << i;
    if (probe.cameraFrames[i - 1] != probes[1].cameraFrames.back())
      missing += probe.cameraFrames[i] - probe.cameraFrames[i - 1] - 1;
  }
  EXPECT_LE(missing, MissingFrames(probes[0]) + MissingFrames(probes[1]) + MissingFrames(probes[2]));
  // The gap between the second and third recordings is in the clip's time.
  const double gap = double(probes[2].cameraFrames.front() - probes[1].cameraFrames.back()) / kFps;
  EXPECT_NEAR(probe.seconds, double(probe.cameraFrames.back() - probe.cameraFrames.front() + 1) / kFps, 0.5);
  EXPECT_GT(probe.seconds, gap);
}

// A real, small file system for the disk guard: tmpfs, where the test may mount one (as root).
class SmallDisk {
 public:
  explicit SmallDisk(const std::string& where, int mebibytes) : path_(where) {
    std::filesystem::create_directories(path_);
    const std::string options = "size=" + std::to_string(mebibytes) + "m";
    mounted_ = ::mount("tmpfs", path_.c_str(), "tmpfs", 0, options.c_str()) == 0;
  }
  ~SmallDisk() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
  }
  bool Mounted() const { return mounted_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
  bool mounted_ = false;
};

void WriteBytes(const std::string& path, std::size_t count) { std::ofstream(path) << std::string(count, 'x'); }

TEST_F(VideoEngineTest, ARecordingStopsBeforeTheDiskIsFullAndOnlyOurOldestRecordingsMakeRoom) {
  SmallDisk disk(dir.file("disk"), 16);
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
  StartCamera({"--size", "640x480", "--fps", "30", "--quality", "90"});
  DiskGuard guard;
  guard.reserveBytes = 12 << 20;
  guard.minimumSeconds = 1;  // the reserve, not a minute of this stream, is what counts here
  engine->SetDiskGuard(guard);
  View();
  ASSERT_TRUE(listener.WaitFor(Kind::Connected, 5s));
  std::this_thread::sleep_for(1s);

  std::string error;
  const std::string first = engine->StartRecording(disk.File("door_20261207_120000.avi"), error);
  ASSERT_FALSE(first.empty()) << error;
  const auto stopped = listener.WaitFor(Kind::RecordingSaved, 30s);
  ASSERT_TRUE(stopped);
  EXPECT_EQ(stopped->text.rfind("Disk almost full: stopped recording " + first + " at ", 0), 0u) << stopped->text;
  EXPECT_GT(FreeBytes(first), 6 << 20);  // well before the last byte
  engine->StopRecording();
  EXPECT_EQ(DecodeErrors(first), "");
  EXPECT_EQ(ProbeAvi(first).packets, stopped->frames);

  // Another camera's file, a file of ours that is older, and what is not a recording of ours.
  WriteBytes(disk.File("door_20261206_080000-1.avi"), 2 << 20);
  WriteBytes(disk.File("gate_20261201_000000.avi"), 2 << 20);
  WriteBytes(disk.File("door.avi"), 1 << 20);
  listener.Clear();
  guard.deleteOldest = true;
  engine->SetDiskGuard(guard);
  const std::string second = engine->StartRecording(disk.File("door_20261207_130000.avi"), error);
  ASSERT_TRUE(listener.WaitFor(Kind::RecordingStarted, 5s));
  engine->StopRecording();
  std::vector<std::string> deleted;
  for (const auto& r : listener.Reports())
    if (r.kind == Kind::RecordingDeleted) deleted.push_back(r.path);
  EXPECT_EQ(deleted, (std::vector<std::string>{disk.File("door_20261206_080000-1.avi"), first}));
  EXPECT_TRUE(std::filesystem::exists(disk.File("gate_20261201_000000.avi")));
  EXPECT_TRUE(std::filesystem::exists(disk.File("door.avi")));
  ASSERT_TRUE(listener.WaitFor(Kind::RecordingSaved, 5s));

  // Another program fills the disk: deleting every recording of ours could not make room, so
  // none is deleted and the recording is not made.
  WriteBytes(disk.File("other-program.bin"), static_cast<std::size_t>(FreeBytes(second)) - (1 << 20));
  listener.Clear();
  ASSERT_FALSE(engine->StartRecording(disk.File("door_20261207_140000.avi"), error).empty()) << error;
  const auto refused = listener.WaitFor(Kind::RecordingFailed, 5s);
  ASSERT_TRUE(refused);
  EXPECT_NE(refused->text.find("so none was deleted"), std::string::npos) << refused->text;
  EXPECT_TRUE(std::filesystem::exists(second));
  engine->StopView();

  // Retention by age: at the recorder's start, our recordings older than the days kept go (here
  // one from 2000, kept 10 years), nobody else's.
  WriteBytes(disk.File("door_20000101_000000.avi"), 1000);
  WriteBytes(disk.File("gate_20000101_000000.avi"), 1000);
  listener.Clear();
  engine->SetRetention({DirectoryPart(second), "door", 3650});
  View();
  const auto expired = listener.WaitFor(Kind::RecordingDeleted, 5s);
  ASSERT_TRUE(expired);
  EXPECT_EQ(expired->text, "Deleted " + disk.File("door_20000101_000000.avi") + " (1 kB): older than 3650 days");
  EXPECT_FALSE(std::filesystem::exists(disk.File("door_20000101_000000.avi")));
  EXPECT_TRUE(std::filesystem::exists(disk.File("gate_20000101_000000.avi")));
  EXPECT_TRUE(std::filesystem::exists(second));
  engine->StopView();
  const auto reports = listener.Reports();
  EXPECT_EQ(
      std::count_if(reports.begin(), reports.end(), [](const auto& r) { return r.kind == Kind::RecordingDeleted; }), 1);
}

// A camera's share of the disk and the recordings a person keeps: an expired one goes, a kept one
// stays (said once) and is not counted in the share, past the share the oldest go, another
// camera's file is never touched. On a small tmpfs, so the sizes are the file system's own.
TEST_F(VideoEngineTest, TheCamerasShareTakesItsOldestFirstAndKeptRecordingsOutliveEveryRule) {
  SmallDisk disk(dir.file("disk"), 16);
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
  StartCamera({"--size", "160x120"});
  char today[16];
  const std::time_t now = std::time(nullptr);
  std::strftime(today, sizeof today, "%Y%m%d", std::localtime(&now));
  const std::string expired = disk.File("door_20000101_000000.avi"), keptOld = disk.File("door_20000102_000000.avi");
  std::vector<std::string> recent;
  for (const char* time : {"000001", "000002", "000003"})
    recent.push_back(disk.File("door_" + std::string(today) + "_" + time + ".mp4"));
  for (const std::string& file :
       {expired, keptOld, recent[0], recent[1], recent[2], disk.File("gate_20000101_000000.avi")})
    WriteBytes(file, 1 << 20);
  std::string error;
  ASSERT_TRUE(SetKept(keptOld, true, error)) << error;

  engine->SetRetention({DirectoryPart(expired), "door", 30, (5 << 20) / 2});
  View();
  ASSERT_TRUE(WaitUntil([&] { return !std::filesystem::exists(recent[0]); }, 5s));
  engine->StopView();
  // 4 MiB of ours not kept: the expired one goes by age; then 3 MiB are past the 2.5 MiB share,
  // and the oldest goes.
  EXPECT_FALSE(std::filesystem::exists(expired));
  EXPECT_TRUE(std::filesystem::exists(keptOld));
  EXPECT_TRUE(std::filesystem::exists(recent[1]));
  EXPECT_TRUE(std::filesystem::exists(recent[2]));
  EXPECT_TRUE(std::filesystem::exists(disk.File("gate_20000101_000000.avi")));
  std::vector<std::string> lines;
  for (const auto& r : listener.Reports())
    if (r.kind == Kind::RecordingDeleted || r.kind == Kind::RecordingKept) lines.push_back(r.text);
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "Deleted " + expired + " (1.0 MB): older than 30 days",
                       "Kept " + keptOld + ", though older than 30 days",
                       "Deleted " + recent[0] + " (1.0 MB): the camera's recordings took more than 2.6 MB"}));
}

// A camera gone wrong: a few good frames, then a part without end.
ScriptedServer::Writer EndlessPart(bool declareHugeLength) {
  return [declareHugeLength](const std::string&, const ScriptedServer::Send& send) {
    send("HTTP/1.0 200 OK\r\nContent-Type: multipart/x-mixed-replace;boundary=cut\r\n\r\n");
    // Enough of a JPEG for its size: SOI, a baseline frame header of 64 x 48, EOI.
    const std::string jpeg("\xFF\xD8\xFF\xC0\x00\x0B\x08\x00\x30\x00\x40\x01\x01\x11\x00\xFF\xD9", 17);
    for (int i = 0; i < 20; ++i) {
      send("--cut\r\nContent-Type: image/jpeg\r\nContent-Length: 17\r\n\r\n" + jpeg + "\r\n");
      std::this_thread::sleep_for(50ms);
    }
    send(declareHugeLength ? "--cut\r\nContent-Length: 2147483647\r\n\r\n"
                           : "--cut\r\nContent-Type: image/jpeg\r\n\r\n");
    const std::string endless(1 << 20, 'x');
    for (int mb = 0; mb < 1024 && send(endless); ++mb) {
    }
    return false;
  };
}

std::size_t PeakResidentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::stoul(line.substr(6));
  return 0;
}

std::size_t ResidentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stoul(line.substr(6));
  return 0;
}

// An ext4 file system in a file, mounted through a loop device, that stops answering on command
// as a disk of a stalled NAS or a dying drive does.
class FreezableDisk {
 public:
  FreezableDisk(const std::string& where, int mebibytes) : path_(where), image_(where + ".img") {
    std::filesystem::create_directories(path_);
    const std::string size = std::to_string(mebibytes) + "M";
    mounted_ = std::system(("truncate -s " + size + " " + image_ + " && mkfs.ext4 -q " + image_ + " && mount -o loop " +
                            image_ + " " + path_ + " 2>/dev/null")
                               .c_str()) == 0;
  }
  ~FreezableDisk() {
    if (!mounted_) return;
    Thaw();
    std::system(("umount -l " + path_).c_str());
  }
  bool Mounted() const { return mounted_; }
  bool Freeze() { return std::system(("fsfreeze --freeze " + path_).c_str()) == 0; }
  void Thaw() { std::system(("fsfreeze --unfreeze " + path_ + " 2>/dev/null").c_str()); }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_, image_;
  bool mounted_ = false;
};

TEST_F(VideoEngineTest, SlowStalledDiskCostsFramesNeverMemoryNorAWaitingCaller) {
  FreezableDisk disk(dir.file("disk"), 128);
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a file system image here (needs root and loop devices)";
  MemoryBudget& budget = MemoryBudget::Process();
  const std::int64_t limit = budget.Limit();
  budget.SetLimit(16 << 20);
  StartCamera({"--size", "1280x720", "--fps", "30", "--quality", "90"});
  engine->SetPreEventSeconds(1);
  View();
  ASSERT_TRUE(listener.WaitFor(Kind::Connected, 5s));
  std::this_thread::sleep_for(1500ms);
  std::string error;
  for (const char* name : {"before.avi", "during.avi"}) {
    listener.Clear();
    path = engine->StartRecording(disk.File(name), error);
    ASSERT_FALSE(path.empty()) << error;
    std::this_thread::sleep_for(1s);
    if (std::string(name) == "before.avi") {
      engine->StopRecording();
      ASSERT_TRUE(listener.WaitFor(Kind::RecordingSaved, 5s));
    }
  }
  const std::size_t residentBefore = ResidentKiB();
  ASSERT_TRUE(disk.Freeze());
  std::size_t residentPeak = residentBefore;
  for (int i = 0; i < 40; ++i) {  // 8 s of a camera sending about 4 MB a second
    std::this_thread::sleep_for(200ms);
    residentPeak = std::max(residentPeak, ResidentKiB());
    EXPECT_LE(budget.Used(), budget.Limit());
  }
  const auto full = listener.WaitFor(Kind::FramesDropped, 1s);
  ASSERT_TRUE(full);
  EXPECT_EQ(full->text.rfind("Memory for buffered video full (16.8 MB for all cameras", 0), 0u) << full->text;
#if !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)  // their shadow memory grows with ours
  std::printf("resident growth while the disk was frozen: %zu MiB\n", (residentPeak - residentBefore) / 1024);
  EXPECT_LT((residentPeak - residentBefore) / 1024, 16u + 24u) << "MiB: the budget and working room";
#endif
  // Neither stopping the recording nor the viewer, nor starting another recording, waits for the disk.
  const auto stopping = std::chrono::steady_clock::now();
  engine->StopRecording();
  EXPECT_TRUE(engine->StartRecording(disk.File("frozen.avi"), error).empty());
  EXPECT_EQ(error, "the disk does not answer");
  engine->StopView();
  EXPECT_LT(std::chrono::steady_clock::now() - stopping, 2500ms);
  EXPECT_FALSE(engine->WaitUntilFinished(std::chrono::steady_clock::now() + 300ms));  // still stalled
  disk.Thaw();
  ASSERT_TRUE(engine->WaitUntilFinished(std::chrono::steady_clock::now() + 20s));
  EXPECT_EQ(DecodeErrors(path), "");
  EXPECT_GT(ProbeAvi(path).packets, 30);

  // And the disk back, the next recording as whole as the first.
  View();
  ASSERT_TRUE(listener.WaitFor(Kind::Connected, 5s));
  const std::string during = path;
  listener.Clear();
  path = engine->StartRecording(disk.File("after.avi"), error);
  std::this_thread::sleep_for(1s);
  engine->StopRecording();
  ASSERT_TRUE(listener.WaitFor(Kind::RecordingSaved, 5s));
  for (const std::string& file : {disk.File("before.avi"), during, path}) EXPECT_EQ(DecodeErrors(file), "") << file;
  EXPECT_FALSE(std::filesystem::exists(disk.File("frozen.avi")));  // made after the thaw, and deleted
  budget.SetLimit(limit);
}

TEST_F(VideoEngineTest, ACameraThatSendsEndlessDataIsCutOffWithMemoryToSpare) {
  for (const bool hugeLength : {true, false}) {
    SCOPED_TRACE(hugeLength ? "Content-Length: 2147483647" : "a part that never ends");
    ScriptedServer server("127.0.0.1", EndlessPart(hugeLength));
    listener.Clear();
    [[maybe_unused]] const std::size_t peakBefore = PeakResidentKiB();
    engine->SetSource({"127.0.0.1", server.Port(), "", "", ""});
    engine->StartView();
    ASSERT_TRUE(listener.WaitFor(Kind::Connected, 5s));
    std::string error;
    path = engine->StartRecording(dir.file(hugeLength ? "huge.avi" : "endless.avi"), error);
    const auto lost = listener.WaitFor(Kind::StreamLost, 30s);
    ASSERT_TRUE(lost);
    EXPECT_EQ(lost->text, "Video stream from 127.0.0.1:" + std::to_string(server.Port()) +
                              " lost (frame larger than 32 MiB); retrying every 2 s");
    engine->StopRecording();
    const auto saved = listener.WaitFor(Kind::RecordingSaved, 5s);
    ASSERT_TRUE(saved);
    EXPECT_GT(saved->frames, 0);  // what came before the bad part is kept
    engine->StopView();
#if !defined(__SANITIZE_THREAD__)  // ThreadSanitizer's shadow memory is several times the program's
    // One part's bound and the reader's working room; before, this grew past 1 GB.
    EXPECT_LT(PeakResidentKiB() - peakBefore, 160u * 1024u);
#endif
  }
}

TEST_F(VideoEngineTest, ACameraCannotSendUsOrItsPasswordToAnotherHost) {
  // The other host, on a loopback address of its own, answers anything.
  ScriptedServer other("127.0.0.3", [](const std::string& request) {
    return request.rfind("RTSP", 0) == 0 || request.find(" RTSP/1.0") != std::string::npos
               ? "RTSP/1.0 200 OK\r\nCSeq: " + CSeqOf(request) + "\r\nPublic: DESCRIBE\r\n\r\n"
               : std::string("HTTP/1.0 200 OK\r\nContent-Type: multipart/x-mixed-replace;boundary=x\r\n\r\n");
  });
  const std::string elsewhere = "127.0.0.3:" + std::to_string(other.Port());
  struct Case {
    const char* name;
    const char* urlTemplate;
    ScriptedServer::Answer answer;
  };
  const Case cases[] = {
      // A playlist would make FFmpeg's HLS demuxer fetch whatever it names.
      {"playlist", "",
       [&](const std::string&) {
         const std::string playlist = "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2,\nhttp://" + elsewhere +
                                      "/a.ts\n#EXTINF:2,\nfile:///etc/passwd\n#EXT-X-ENDLIST\n";
         return "HTTP/1.0 200 OK\r\nContent-Type: application/vnd.apple.mpegurl\r\nContent-Length: " +
                std::to_string(playlist.size()) + "\r\n\r\n" + playlist;
       }},
      {"HTTP redirect after the password", "",
       [&](const std::string& request) {
         return request.find("Authorization:") == std::string::npos
                    ? std::string("HTTP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"cam\"\r\n\r\n")
                    : "HTTP/1.0 302 Found\r\nLocation: http://" + elsewhere + "/video\r\n\r\n";
       }},
      // FFmpeg's RTSP client would take the password along to the new host.
      {"RTSP redirect after the password", "rtsp://{address}:{port}/stream",
       [&](const std::string& request) {
         const std::string cseq = "CSeq: " + CSeqOf(request) + "\r\n";
         return request.find("Authorization:") == std::string::npos
                    ? "RTSP/1.0 401 Unauthorized\r\n" + cseq + "WWW-Authenticate: Basic realm=\"cam\"\r\n\r\n"
                    : "RTSP/1.0 302 Moved\r\n" + cseq + "Location: rtsp://" + elsewhere + "/stream\r\n\r\n";
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedServer camera("127.0.0.2", c.answer);
    const std::size_t otherBefore = other.Requests().size();
    listener.Clear();
    engine->SetSource({"127.0.0.2", camera.Port(), "admin", "kwolt", c.urlTemplate});
    engine->StartView();
    const auto noVideo = listener.WaitFor(Kind::NoVideo, 10s);
    engine->StopView();
    ASSERT_TRUE(noVideo);
    EXPECT_EQ(noVideo->text.find("kwolt"), std::string::npos);
    EXPECT_GE(camera.Requests().size(), 1u);
    for (const std::string& request : other.Requests())
      EXPECT_EQ(request.find("Authorization"), std::string::npos) << request;
    if (c.urlTemplate[0] != 0) {
      // Given up before a request, let alone a password, went out.
      EXPECT_EQ(other.Requests().size(), otherBefore);
      EXPECT_EQ(noVideo->text,
                "No video: the camera sent us to another host; not followed, so its password stays with it");
    }
  }
  // The playlist's other host was never fetched; the redirected HTTP one never saw a password.
  const auto requests = other.Requests();
  EXPECT_LE(requests.size(), 1u);
  for (const std::string& request : requests) EXPECT_EQ(request.rfind("GET /video ", 0), 0u) << request;
}

TEST(Thumbnail, APlantedFileGivesNoPictureAndNeverHoldsTheReader) {
  TempDir dir;
  ASSERT_TRUE(WriteTestAvi(dir.file("good.avi"), 10));
  EXPECT_TRUE(MakeThumbnail(dir.file("good.avi"), 0.5, 128, 72).ok);
  std::filesystem::create_symlink(dir.file("good.avi"), dir.file("link.avi"));
  ASSERT_EQ(::mkfifo(dir.file("fifo.avi").c_str(), 0600), 0);  // opened in the old way, this waits forever
  // A playlist under an AVI's name: read as anything but an AVI it would fetch what it names.
  WriteFile(dir.file("playlist.avi"), "#EXTM3U\n#EXTINF:2,\nfile://" + dir.file("good.avi") + "\n#EXT-X-ENDLIST\n");
  const std::pair<const char*, const char*> planted[] = {
      {"link.avi", "a link, not a recording"}, {"fifo.avi", "not a regular file"}, {"playlist.avi", nullptr}};
  for (const auto& [name, why] : planted) {
    const Thumbnail thumbnail = MakeThumbnail(dir.file(name), 0.5, 128, 72);
    EXPECT_FALSE(thumbnail.ok) << name;
    if (why) {
      EXPECT_EQ(thumbnail.error, why) << name;
    }
  }
}

class NullListener : public VideoListener {
  void OnVideoPicture(std::shared_ptr<const VideoPicture>) override {}
  void OnVideoModeChanged() override {}
  void OnVideoReport(const VideoReport&) override {}
};

TEST_F(VideoEngineTest, AKilledProgramLeavesAFileWithAllButTheLastMoment) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "ThreadSanitizer cannot start threads in a forked child";
#endif
  StartCamera({"--size", "160x120", "--fps", "10"});
  const std::string file = dir.file("killed.avi");
  const int port = camera->VideoPort();
  EXPECT_EXIT(
      {
        NullListener quiet;
        VideoEngine doomed(quiet);
        doomed.SetSource({"127.0.0.1", port, "", "", ""});
        doomed.StartView();
        std::this_thread::sleep_for(1s);
        std::string error;
        doomed.StartRecording(file, error);
        // From the file's first bytes, not from the start: a busy machine may take seconds to connect.
        WaitUntil([&] { return std::filesystem::exists(file) && std::filesystem::file_size(file) > 0; }, 20s);
        std::this_thread::sleep_for(3500ms);
        std::raise(SIGKILL);
      },
      ::testing::KilledBySignal(SIGKILL), "");
  const AviProbe probe = ProbeAvi(file);
  ASSERT_TRUE(probe.opened);
  EXPECT_GE(probe.packets, 20);  // 35 recorded, flushed once a second
  ExpectEveryFrameInOrder(probe);
}

}  // namespace
}  // namespace zent::testing
