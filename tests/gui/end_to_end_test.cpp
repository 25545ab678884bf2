// The whole program's main job against zent-camsim: log in, an event, a one-minute recording that
// begins the default 5 s before the event, then a second event recorded by the same viewer.

#include <QTest>
#include <algorithm>
#include <regex>

#include "tests/kit/avi_probe.h"
#include "tests/kit/camera_clock.h"
#include "tests/kit/profiles.h"
#include "gui_fixture.h"
#include "app/record/record_dlg.h"
#include "settings/options_store.h"
#include "sim/camsim_process.h"

namespace zent::testing {
namespace {

// The path of the `count`-th "Saved PATH: …" status line, once it is there.
std::string SavedFile(const QListWidget& list, int count) {
  int seen = 0;
  for (const std::string& text : StatusTexts(list)) {
    if (text.rfind("Saved ", 0) == 0 && ++seen == count) return text.substr(6, text.find(": ") - 6);
  }
  return {};
}

TEST_F(GuiTest, SlowEveryEventBecomesAWholePlayableRecording) {
  camsim::CamSimProcess camera({"--size", "320x240", "--fps", "15", "--user", "admin", "--password", "kwolt"});
  profile = StandInProfile("127.0.0.1", camera.EventPort(), camera.VideoPort(), documents() + "/door.avi");
  CMainDlg dlg;
  dlg.m_currentProfile = profile;
  dlg.OnLogIn();
  ASSERT_TRUE(WaitUntil([&] { return dlg.m_bRecorderReady == 1; }, 5000));
  QTest::qWait(6000);  // the viewer has kept more than the 5 s before the event

  const std::uint64_t eventFrame = CameraFrameAt(camera, 15, std::chrono::steady_clock::now());
  camera.Command("event");
  ASSERT_TRUE(WaitUntil([&] { return !SavedFile(*dlg.m_listStatus, 1).empty(); }, 80000));
  const std::string first = SavedFile(*dlg.m_listStatus, 1);
  EXPECT_TRUE(std::regex_match(first, std::regex(documents() + "/door_\\d{8}_\\d{6}\\.avi"))) << first;
  EXPECT_TRUE(HasStatus(*dlg.m_listStatus, ">>> Event message arrived."));
  EXPECT_TRUE(HasStatus(*dlg.m_listStatus, "Recording to " + first));

  const AviProbe probe = ProbeAvi(first);
  ASSERT_TRUE(probe.opened);
  EXPECT_NEAR(probe.frameRate, 15.0, 0.01);
  // What a user relies on, by the camera's own frame numbers: every frame from 5 s before the event
  // to a minute after it, once and in order, at the camera's speed. A busy machine may hand the
  // event over a little late, or end the minute a frame or two later: that costs nothing.
  ASSERT_FALSE(probe.cameraFrames.empty());
  for (std::size_t i = 1; i < probe.cameraFrames.size(); ++i)
    ASSERT_EQ(probe.cameraFrames[i], probe.cameraFrames[i - 1] + 1) << "frame lost or repeated at packet " << i;
  EXPECT_LE(probe.cameraFrames.front(), eventFrame - 5 * 15 + 15);
  EXPECT_GE(probe.cameraFrames.front(), eventFrame - 5 * 15 - 15);
  EXPECT_GE(probe.cameraFrames.back(), eventFrame + 60 * 15);
  EXPECT_LE(probe.cameraFrames.back(), eventFrame + 63 * 15);
  EXPECT_NEAR(probe.seconds, probe.packets / 15.0, 0.5);
  // The first buffered frame lies up to a frame interval before the event's fifth second back, as
  // the program measured it.
  double before = -1;
  for (const std::string& text : StatusTexts(*dlg.m_listStatus)) {
    std::smatch match;
    if (text.rfind("Saved " + first + ": ", 0) == 0 &&
        std::regex_search(text, match, std::regex(R"( \((\d+\.\d) s before the event\)$)")))
      before = std::stod(match[1]);
  }
  EXPECT_GE(before, 5.0 - 0.05);
  EXPECT_LE(before, 5.0 + 0.3);

  // The same window and viewer take the next event.
  CRecordDlg* window = dlg.RecordDlg();
  ViewerControl* viewer = window->m_pViewer;
  dlg.SetMillisecondsPerMinute(3000);
  ASSERT_TRUE(WaitUntil([&] { return dlg.m_bRecorderReady == 1; }, 3000));
  QTest::qWait(1100);  // another second, another file name
  camera.Command("event");
  ASSERT_TRUE(WaitUntil([&] { return !SavedFile(*dlg.m_listStatus, 2).empty(); }, 10000));
  const std::string second = SavedFile(*dlg.m_listStatus, 2);
  EXPECT_NE(second, first);
  EXPECT_EQ(dlg.RecordDlg(), window);
  EXPECT_EQ(window->m_pViewer, viewer);
  const double secondSeconds = ProbeAvi(second).seconds;  // what the buffer had since the first ended
  EXPECT_GT(secondSeconds, 3.0);
  // At most the buffer's 5 s before it and its 3 s; a busy machine's timer may end it a little late.
  EXPECT_LT(secondSeconds, 3.2 + 5.0 + 1.0);
  EXPECT_TRUE(boxes.empty());
}

// A camera with no events of its own, watched for motion in the video its viewer receives: a
// light switched on is no event, a block crossing the picture is one recording.
TEST_F(GuiTest, SlowMotionInTheViewersVideoIsRecordedAndALightSwitchedOnIsNot) {
  camsim::CamSimProcess camera(
      {"--size", "320x240", "--fps", "10", "--user", "admin", "--password", "kwolt", "--still"});
  Options options;
  options.cameraEvents["127.0.0.1"] = "motion";
  ASSERT_TRUE(SaveOptions(options));
  profile = StandInProfile("127.0.0.1", camera.EventPort(), camera.VideoPort(), documents() + "/door.avi");
  CMainDlg dlg;
  dlg.m_currentProfile = profile;
  dlg.SetMillisecondsPerMinute(2000);
  dlg.OnLogIn();
  ASSERT_TRUE(WaitUntil([&] { return dlg.m_bRecorderReady == 1; }, 5000));
  QTest::qWait(3000);
  camera.Command("light 50");
  QTest::qWait(2000);
  camera.Command("move 2");
  ASSERT_TRUE(WaitUntil([&] { return !SavedFile(*dlg.m_listStatus, 1).empty(); }, 15000));
  QTest::qWait(500);
  dlg.OnDisconnect();

  std::vector<std::string> lines;
  for (const std::string& text : StatusTexts(*dlg.m_listStatus))
    if (text.rfind("Motion detected", 0) == 0 || text.rfind("Recording to", 0) == 0) lines.push_back(text);
  ASSERT_EQ(lines.size(), 2u) << ::testing::PrintToString(lines);
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(Motion detected \(\d+ % of the picture\))"))) << lines[0];
  EXPECT_EQ(lines[1].rfind("Recording to " + documents() + "/door_", 0), 0u) << lines[1];
  EXPECT_TRUE(HasStatus(*dlg.m_listStatus, "Watching the camera's video for motion."));
  const AviProbe probe = ProbeAvi(SavedFile(*dlg.m_listStatus, 1));
  EXPECT_GT(probe.seconds, 5.0);  // the 5 s before the motion and the recording's own
  EXPECT_TRUE(boxes.empty());
}

}  // namespace
}  // namespace zent::testing
