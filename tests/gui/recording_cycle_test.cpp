// The recording window and the recording cycle with a fake viewer and real timers.

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTest>

#include "app/id_timer.h"
#include "fake_viewer.h"
#include "gui_fixture.h"
#include "app/record/record_dlg.h"

namespace zent::testing {
namespace {

constexpr int kRecordMs = 400;  // what a "minute" lasts in these tests

std::tm At(int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = 2007 - 1900;
  t.tm_mon = 8;
  t.tm_mday = 18;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

class RecordingCycle : public GuiTest {
 protected:
  RecordingCycle() {
    services.makeViewer = [this](QWidget* parent) { return new FakeViewer(parent, log); };
    profile.cameraAddress = "127.0.0.1";
    profile.videoPort = 8080;
    profile.savePath = "/video/cam.avi";
    profile.insertTime = 1;
    profile.fileMinutes = 1;
    MakeWindow();
    dlg->SetStatusClock([this] { return clock; });
  }
  void MakeWindow() {
    dlg = std::make_unique<CMainDlg>(nullptr, services);
    dlg->m_currentProfile = profile;
    dlg->SetMillisecondsPerMinute(kRecordMs);
  }
  ~RecordingCycle() override { dlg.reset(); }

  // Log-in accepted, recorder built and marked ready.
  void ArmAndWaitUntilReady() {
    dlg->OnLoginAccepted();
    ASSERT_TRUE(WaitUntil([&] { return dlg->m_bRecorderReady == 1; }, 3000));
  }
  bool Enabled(int id) { return dlg->GetDlgItem(id)->isEnabled(); }
  QString Name(const std::tm& t) {
    char text[64];
    std::snprintf(text, sizeof text, "/video/cam_2007%02d%02d_%02d%02d%02d.avi", t.tm_mon + 1, t.tm_mday, t.tm_hour,
                  t.tm_min, t.tm_sec);
    return text;
  }

  FakeViewerLog log;
  DesktopServices services = DesktopServices::Real();
  std::tm clock = At(7, 4, 46);
  std::unique_ptr<CMainDlg> dlg;
};

TEST_F(RecordingCycle, PreparesOnLogInRecordsEachEventAndReusesTheWindow) {
  QElapsedTimer elapsed;
  elapsed.start();
  dlg->OnLoginAccepted();
  EXPECT_EQ(dlg->m_bArmed, 1);
  ASSERT_TRUE(WaitUntil([this] { return dlg->RecordDlg() != nullptr; }, 2000));
  EXPECT_GE(elapsed.elapsed(), 950);  // one second after the log-in
  EXPECT_FALSE(dlg->RecordDlg()->isVisible());
  EXPECT_EQ(dlg->RecordDlg()->windowTitle(), "127.0.0.1");
  EXPECT_EQ(log.calls, (QStringList{"create", "put 1 127.0.0.1", "put 7 1", "put 12 0", "put 8 admin", "put 2 320",
                                    "put 3 260", "put 9 8080", "put 4 false", "put 11 kwolt", "put 10 15",
                                    "put 5 false", "put 6 false", "StartView"}));
  EXPECT_EQ(dlg->m_bRecorderReady, 0);
  ASSERT_TRUE(WaitUntil([&] { return dlg->m_bRecorderReady == 1; }, 2000));  // the next tick
  EXPECT_FALSE(Enabled(IDC_CONFIGURATION));
  CRecordDlg* window = dlg->RecordDlg();

  for (int event = 0; event < 2; ++event) {
    log.calls.clear();
    clock = At(7, 4, 46 + event);
    elapsed.restart();
    // The second from the broker: an event like the camera's own, said with who sent it.
    if (event == 0) dlg->OnCameraEvent(0, 0);
    else dlg->OnTrigger("127_0_0_1", "bell");
    if (event == 1) {
      const auto texts = StatusTexts(*dlg->m_listStatus);
      EXPECT_NE(std::find(texts.begin(), texts.end(), ">>> Trigger from MQTT: bell"), texts.end());
    }
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(Enabled(IDC_LOGIN));
    EXPECT_FALSE(Enabled(IDC_DISCONNECT));
    EXPECT_EQ(dlg->m_bRecording, 0);  // not before the viewer accepted the start
    ASSERT_TRUE(WaitUntil([&] { return log.Count(QString("Record %1 2").arg(Name(clock))) == 1; }, 1000));
    EXPECT_GE(elapsed.elapsed(), 190);  // laid out after 100 ms, started 100 ms later
    EXPECT_EQ(window->size(), QSize(320, 260));
    EXPECT_EQ(window->pos(), QPoint(0, 0));
    EXPECT_EQ(dlg->m_bRecording, 1);
    EXPECT_EQ(window->Timers().Interval(IDT_STOP_RECORDING), kRecordMs);

    ASSERT_TRUE(WaitUntil([&] { return log.Count(QString("Record %1 0").arg(Name(clock))) == 1; }, 2000));
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(dlg->m_bRecording, 0);
    EXPECT_EQ(dlg->m_bRecorderReady, 0);
    EXPECT_TRUE(Enabled(IDC_DISCONNECT));
    EXPECT_FALSE(Enabled(IDC_LOGIN));
    // An event before the next ready tick is dropped; the tick makes the same window ready.
    dlg->OnCameraEvent(0, 0);
    EXPECT_FALSE(window->isVisible());
    ASSERT_TRUE(WaitUntil([&] { return dlg->m_bRecorderReady == 1; }, 1500));
  }
  EXPECT_EQ(dlg->RecordDlg(), window);
  EXPECT_EQ(log.Count("create"), 0);  // the viewer stayed for the second event
}

TEST_F(RecordingCycle, AnEventDuringTheStartWindowRenamesAndRestartsTheStart) {
  ArmAndWaitUntilReady();
  dlg->OnCameraEvent(0, 0);
  QTest::qWait(60);
  clock = At(8, 0, 0);
  dlg->OnCameraEvent(0, 0);
  ASSERT_TRUE(WaitUntil([&] { return log.Count(QString("Record %1 2").arg(Name(clock))) == 1; }, 1000));
  EXPECT_EQ(log.Count(QString("Record %1 2").arg(Name(At(7, 4, 46)))), 0);
}

// Unarmed and after a mode change, events are dropped by the cycle itself (its own tests).
TEST_F(RecordingCycle, EventsAreDroppedWhileRecording) {
  ArmAndWaitUntilReady();
  dlg->OnCameraEvent(0, 0);
  ASSERT_TRUE(WaitUntil([&] { return dlg->m_bRecording == 1; }, 1000));
  clock = At(9, 0, 0);
  dlg->OnCameraEvent(0, 0);  // while recording
  QTest::qWait(300);
  EXPECT_EQ(log.Count(QString("Record %1 2").arg(Name(clock))), 0);
}

TEST_F(RecordingCycle, ClosingTheWindowStopsSavingAndRebuildsASecondLater) {
  ArmAndWaitUntilReady();
  dlg->OnCameraEvent(0, 0);
  ASSERT_TRUE(WaitUntil([&] { return dlg->m_bRecording == 1; }, 1000));
  log.calls.clear();
  dlg->RecordDlg()->close();
  EXPECT_EQ(log.calls, (QStringList{QString("Record %1 0").arg(Name(clock)), "StopView", "destroy"}));
  EXPECT_EQ(dlg->m_bRecording, 0);
  EXPECT_EQ(dlg->m_bRecorderReady, 0);
  EXPECT_TRUE(Enabled(IDC_DISCONNECT));
  EXPECT_EQ(dlg->Timers().Interval(IDT_PREPARE_RECORDER), 1000);
  ASSERT_TRUE(WaitUntil([&] { return log.Count("create") == 1; }, 2000));
  ASSERT_NE(dlg->RecordDlg(), nullptr);
  EXPECT_FALSE(dlg->RecordDlg()->isVisible());
}

TEST_F(RecordingCycle, AModeChangeGivesUpTheWindowAndRebuildsAfterTenSeconds) {
  ArmAndWaitUntilReady();
  dlg->OnCameraEvent(0, 0);
  ASSERT_TRUE(WaitUntil([&] { return dlg->m_bRecording == 1; }, 1000));
  log.calls.clear();
  ASSERT_EQ(log.live.size(), 1u);
  log.live[0]->FireModeChange();
  log.live[0]->FireModeChange();  // a second report while the first is handled
  ASSERT_TRUE(WaitUntil([&] { return log.Count("destroy") == 1; }, 1000));
  QTest::qWait(50);
  EXPECT_EQ(log.calls, (QStringList{"StopView", "destroy"}));  // no stop-saving command on this path
  EXPECT_EQ(dlg->m_bModeChanged, 1);
  EXPECT_EQ(dlg->m_bModeChangeBusy, 1);
  EXPECT_TRUE(dlg->Timers().IsActive(IDT_MODE_CHANGE_RESET));
  EXPECT_EQ(dlg->Timers().Interval(IDT_PREPARE_RECORDER), 10000);
  const auto texts = StatusTexts(*dlg->m_listStatus);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "[[[ Video Mode is Changed. ]]]"), 1);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "Stop recording and close window."), 1);
  EXPECT_FALSE(dlg->RecordDlg()->isVisible());
  // Until the rebuild, events are ignored.
  dlg->OnCameraEvent(0, 0);
  EXPECT_FALSE(dlg->RecordDlg()->isVisible());
}

TEST_F(RecordingCycle, AViewerThatCannotSaveSaysWhyHidesAndTakesTheNextEvent) {
  log.refuseRecording = true;
  ArmAndWaitUntilReady();
  dlg->OnCameraEvent(0, 0);
  ASSERT_TRUE(WaitUntil([&] { return log.Count(QString("Record %1 2").arg(Name(clock))) == 1; }, 1000));
  EXPECT_EQ(StatusTexts(*dlg->m_listStatus).back(),
            "Cannot record to " + Name(clock).toStdString() + ": Permission denied");
  EXPECT_EQ(dlg->m_bRecording, 0);
  EXPECT_FALSE(dlg->RecordDlg()->Timers().IsActive(IDT_STOP_RECORDING));
  EXPECT_FALSE(dlg->RecordDlg()->isVisible());
  EXPECT_TRUE(Enabled(IDC_DISCONNECT));

  log.refuseRecording = false;
  ASSERT_TRUE(WaitUntil([&] { return dlg->m_bRecorderReady == 1; }, 2000));
  clock = At(9, 0, 0);
  dlg->OnCameraEvent(0, 0);
  ASSERT_TRUE(WaitUntil([&] { return dlg->m_bRecording == 1; }, 1000));
  EXPECT_EQ(log.Count(QString("Record %1 2").arg(Name(clock))), 1);
}

TEST_F(RecordingCycle, DisconnectStopsTheReadyTimerSoConfigurationStaysAvailable) {
  ArmAndWaitUntilReady();
  dlg->OnDisconnect();
  EXPECT_EQ(dlg->RecordDlg(), nullptr);
  EXPECT_TRUE(Enabled(IDC_CONFIGURATION));
  QTest::qWait(1300);
  EXPECT_TRUE(Enabled(IDC_CONFIGURATION));
  EXPECT_EQ(dlg->m_bArmed, 0);
  EXPECT_FALSE(dlg->Timers().IsActive(IDT_RECORDER_READY));
}

TEST_F(RecordingCycle, EscapeAndEnterLeaveTheRecordingWindowOpen) {
  ArmAndWaitUntilReady();
  dlg->OnCameraEvent(0, 0);
  ASSERT_TRUE(WaitUntil([&] { return dlg->m_bRecording == 1; }, 1000));
  QTest::keyClick(dlg->RecordDlg(), Qt::Key_Escape);
  QTest::keyClick(dlg->RecordDlg(), Qt::Key_Return);
  EXPECT_TRUE(dlg->RecordDlg()->isVisible());
  EXPECT_EQ(dlg->m_bRecording, 1);
}

TEST_F(RecordingCycle, VideoUrlOptionsAreKeptAndReachTheViewerOfTheirCamera) {
  QTimer::singleShot(0, [] {
    auto* options = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(options, nullptr);
    options->findChild<QLineEdit*>("videoUrlTemplate")->setText("http://{address}:{port}/video.cgi");
    options->findChild<QLineEdit*>("cameraVideoUrlTemplate")->setText("rtsp://{address}:{port}/stream1");
    options->accept();
  });
  dlg->m_comboCamera->addItem("127.0.0.1");
  dlg->m_comboCamera->setCurrentIndex(0);
  dlg->OnOptions();

  MakeWindow();  // the Options read again from the user's config folder
  EXPECT_EQ(dlg->Options().videoUrlTemplate, "http://{address}:{port}/video.cgi");
  ArmAndWaitUntilReady();
  EXPECT_EQ(log.videoUrlTemplate, "rtsp://{address}:{port}/stream1");
}

}  // namespace
}  // namespace zent::testing
