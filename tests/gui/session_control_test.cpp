// Log-In and Disconnect on the main window, against zent-camsim.

#include <QPushButton>
#include <QTest>

#include <QRegularExpression>

#include "app/id_timer.h"
#include "app/record/record_dlg.h"
#include "fake_viewer.h"
#include "gui_fixture.h"
#include "link/event_session.h"
#include "settings/options_store.h"
#include "sim/camsim_process.h"
#include "tests/kit/mqtt_broker.h"

namespace zent::testing {
namespace {

using camsim::CamSimProcess;

using namespace std::chrono_literals;
using Texts = std::vector<std::string>;

class SessionControl : public GuiTest {
 protected:
  void UseCamera(int port) {
    profile.cameraAddress = "127.0.0.1";
    profile.privatePort = port;
  }
  bool Enabled(CMainDlg& dlg, int id) { return dlg.GetDlgItem(id)->isEnabled(); }
  bool LoggedIn(CMainDlg& dlg) {
    return WaitUntil([&] { return HasStatus(*dlg.m_listStatus, "Waiting Event Message..."); });
  }
};

TEST_F(SessionControl, LogInShowsEachStepAndArmsTheRecorder) {
  CamSimProcess camera({"--user", "admin", "--password", "kwolt"});
  UseCamera(camera.EventPort());
  CMainDlg dlg;
  dlg.m_currentProfile = profile;
  dlg.m_listStatus->addItem("an old line");
  static_cast<QPushButton*>(dlg.GetDlgItem(IDC_LOGIN))->click();
  EXPECT_FALSE(Enabled(dlg, IDC_LOGIN));
  EXPECT_TRUE(Enabled(dlg, IDC_DISCONNECT));
  ASSERT_TRUE(LoggedIn(dlg));
  EXPECT_EQ(StatusTexts(*dlg.m_listStatus),
            (Texts{"Connecting server...", "Checking user authentication...", "User Verify OK...",
                   "User authentication success.", "Successfully connected.", "Waiting Event Message..."}));
  EXPECT_EQ(dlg.m_bArmed, 1);
  EXPECT_TRUE(dlg.Timers().IsActive(IDT_PREPARE_RECORDER));
  EXPECT_EQ(dlg.Timers().Interval(IDT_PREPARE_RECORDER), 1000);

  camera.Command("event");
  ASSERT_TRUE(WaitUntil([&] { return dlg.m_listStatus->count() == 10; }));
  const Texts texts = StatusTexts(*dlg.m_listStatus);
  EXPECT_EQ(Texts(texts.begin() + 6, texts.end()), (Texts{"Receive Message.", ">>> Event message arrived.",
                                                          "OK keep ZENT connection.", "Waiting Event Message..."}));
}

TEST_F(SessionControl, DisconnectEndsTheSessionAtOnceAndSilencesIt) {
  CamSimProcess camera;
  UseCamera(camera.EventPort());
  CMainDlg dlg;
  dlg.m_currentProfile = profile;
  dlg.OnLogIn();
  ASSERT_TRUE(LoggedIn(dlg));
  static_cast<QPushButton*>(dlg.GetDlgItem(IDC_DISCONNECT))->click();
  EXPECT_EQ(dlg.m_bArmed, 0);
  EXPECT_TRUE(Enabled(dlg, IDC_LOGIN));
  EXPECT_FALSE(Enabled(dlg, IDC_DISCONNECT));
  EXPECT_TRUE(Enabled(dlg, IDC_CONFIGURATION));
  EXPECT_TRUE(camera.WaitForLine("ended: closed by the client", 2s));
  QTest::qWait(300);
  const Texts texts = StatusTexts(*dlg.m_listStatus);
  EXPECT_EQ(Texts(texts.end() - 3, texts.end()),
            (Texts{"Waiting Event Message...", "Client socket was closed.", "Disconnected."}));
  EXPECT_TRUE(boxes.empty());
}

TEST_F(SessionControl, ASecondLogInReplacesTheRunningSession) {
  CamSimProcess camera;
  UseCamera(camera.EventPort());
  CMainDlg dlg;
  dlg.m_currentProfile = profile;
  dlg.OnLogIn();
  ASSERT_TRUE(LoggedIn(dlg));
  dlg.OnLogIn();
  EXPECT_TRUE(camera.WaitForLine("session 1 ended: closed by the client", 2s));
  ASSERT_TRUE(LoggedIn(dlg));
  EXPECT_EQ(StatusTexts(*dlg.m_listStatus).front(), "Connecting server...");
  EXPECT_EQ(StatusTexts(*dlg.m_listStatus).size(), 6u);
  EXPECT_TRUE(camera.WaitForLine("session 2 accepted", 2s));
}

TEST_F(SessionControl, ClosingTheWindowMidSessionStopsItQuietly) {
  CamSimProcess camera;
  UseCamera(camera.EventPort());
  {
    CMainDlg dlg;
    dlg.m_currentProfile = profile;
    dlg.OnLogIn();
    ASSERT_TRUE(LoggedIn(dlg));
    camera.Command("event");  // the window goes while the session may be handing it over
  }
  EXPECT_TRUE(camera.WaitForLine("ended: closed by the client", 2s));
  EXPECT_TRUE(WaitUntil([] { return EventSource::LiveSources() == 0; }));
  EXPECT_TRUE(boxes.empty());
}

TEST_F(SessionControl, ErrorsOfTheSessionComeAsMessageBoxesAndResetTheButtons) {
  CamSimProcess camera({"--password", "secret"});
  UseCamera(camera.EventPort());
  CMainDlg dlg;
  dlg.m_currentProfile = profile;
  dlg.OnLogIn();
  ASSERT_TRUE(WaitUntil([&] { return Enabled(dlg, IDC_LOGIN); }));
  EXPECT_FALSE(Enabled(dlg, IDC_DISCONNECT));
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Error: User Authenticaion failed");
  EXPECT_EQ(boxes[0].caption, "ZENT Client");
  EXPECT_EQ(StatusTexts(*dlg.m_listStatus).back(), "User authentication failed.");
  EXPECT_EQ(dlg.m_bArmed, 0);
  EXPECT_FALSE(dlg.Timers().IsActive(IDT_RELOGIN));  // a refused password is never tried again
}

class LogInAgain : public SessionControl {
 protected:
  LogInAgain() {
    services.makeViewer = [this](QWidget* parent) { return new FakeViewer(parent, viewers); };
  }
  int Count(CMainDlg& dlg, const std::string& text) {
    const Texts texts = StatusTexts(*dlg.m_listStatus);
    return static_cast<int>(std::count(texts.begin(), texts.end(), text));
  }
  FakeViewerLog viewers;
  DesktopServices services = DesktopServices::Real();
};

TEST_F(LogInAgain, ADroppedSessionIsLoggedInAgainAndTheNextEventRecorded) {
  CamSimProcess camera;
  UseCamera(camera.EventPort());
  profile.savePath = documents() + "/door.avi";
  CMainDlg dlg(nullptr, services);
  dlg.m_currentProfile = profile;
  dlg.SetReloginDelays({1000, 2000});
  dlg.OnLogIn();
  ASSERT_TRUE(WaitUntil([&] { return dlg.m_bRecorderReady == 1; }));
  CRecordDlg* recorder = dlg.RecordDlg();

  // The camera closes the session and refuses connections for a while.
  camera.Command("refuse");
  camera.Command("close");
  ASSERT_TRUE(WaitUntil([&] { return Count(dlg, "Disconnected Network. Logging in again in 1 s.") == 1; }));
  ASSERT_TRUE(WaitUntil([&] { return Count(dlg, "Disconnected Network. Logging in again in 2 s.") == 1; }, 8000));
  camera.Command("accept");
  ASSERT_TRUE(WaitUntil([&] { return Count(dlg, "Successfully connected.") == 2; }, 8000));
  EXPECT_TRUE(boxes.empty());
  EXPECT_FALSE(Enabled(dlg, IDC_LOGIN));
  EXPECT_TRUE(Enabled(dlg, IDC_DISCONNECT));
  EXPECT_EQ(dlg.RecordDlg(), recorder);  // the recorder stayed armed throughout

  // The camera breaks off again (0502): the waits start over after a successful log-in.
  camera.Command("broken");
  camera.Command("event");
  ASSERT_TRUE(WaitUntil([&] { return Count(dlg, "Disconnected Network. Logging in again in 1 s.") == 2; }, 8000));
  ASSERT_TRUE(WaitUntil([&] { return Count(dlg, "Successfully connected.") == 3; }, 8000));
  camera.Command("event");
  ASSERT_TRUE(WaitUntil([&] { return viewers.calls.filter(QRegularExpression("^Record .* 2$")).size() == 1; }));
  EXPECT_TRUE(boxes.empty());
}

TEST_F(LogInAgain, DisconnectStopsTheWaitAndWithTheOptionOffTheBoxComesAndConfigurationIsFree) {
  CamSimProcess camera;
  UseCamera(camera.EventPort());
  {
    CMainDlg dlg(nullptr, services);
    dlg.m_currentProfile = profile;
    dlg.SetReloginDelays({1000, 2000});
    dlg.OnLogIn();
    ASSERT_TRUE(WaitUntil([&] { return dlg.m_bRecorderReady == 1; }));
    camera.Command("close");
    ASSERT_TRUE(WaitUntil([&] { return dlg.Timers().IsActive(IDT_RELOGIN); }));
    static_cast<QPushButton*>(dlg.GetDlgItem(IDC_DISCONNECT))->click();
    EXPECT_FALSE(dlg.Timers().IsActive(IDT_RELOGIN));
    QTest::qWait(1500);
    EXPECT_EQ(camera.Count("accepted from port"), 1);  // nobody logged in again
  }

  Options off;
  off.relogin = false;
  ASSERT_TRUE(SaveOptions(off));
  CMainDlg dlg(nullptr, services);
  dlg.m_currentProfile = profile;
  dlg.SetReloginDelays({1000, 2000});
  dlg.OnLogIn();
  ASSERT_TRUE(WaitUntil([&] { return dlg.m_bRecorderReady == 1 && !Enabled(dlg, IDC_CONFIGURATION); }));
  camera.Command("close");
  ASSERT_TRUE(WaitUntil([&] { return Enabled(dlg, IDC_CONFIGURATION); }));
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Disconnected Network.");
  EXPECT_TRUE(Enabled(dlg, IDC_LOGIN));
  EXPECT_FALSE(Enabled(dlg, IDC_DISCONNECT));
  EXPECT_EQ(dlg.RecordDlg(), nullptr);
  EXPECT_FALSE(dlg.Timers().IsActive(IDT_RELOGIN));
  EXPECT_FALSE(dlg.Timers().IsActive(IDT_RECORDER_READY));
}

// The desktop program tells the broker what its logged-in camera does, with the broker's login
// from the key ring.
TEST_F(LogInAgain, TheBrokerHearsTheCamerasEventsAndDropWithTheLoginFromTheKeyRing) {
  MqttBroker broker(home.path(), {false, "zent", "pw-of-broker"});
  ASSERT_TRUE(broker.Running());
  MqttSubscriber watcher(broker, "zent/#", "zent", "pw-of-broker");
  ASSERT_TRUE(watcher.Subscribed(std::chrono::seconds(5)));
  Options options;
  options.mqttEnabled = true;
  options.mqttUrl = broker.Url();
  ASSERT_TRUE(SaveOptions(options));
  QStringList asked;
  services.keyRing.read = [&](const QString& key, KeyRing::ReadDone done) {
    asked << key;
    done(QString("zent\npw-of-broker"), {});
  };
  auto seen = [&](const std::string& topic, const std::string& text) {
    for (const auto& m : watcher.Messages())
      if (m.topic == topic && m.payload.find(text) != std::string::npos) return true;
    return false;
  };
  CamSimProcess camera;
  UseCamera(camera.EventPort());
  CMainDlg dlg(nullptr, services);
  dlg.m_currentProfile = profile;
  dlg.SetReloginDelays({1000});
  ASSERT_TRUE(WaitUntil([&] { return HasStatus(*dlg.m_listStatus, "Connected to MQTT broker " + broker.Url()); }));
  EXPECT_EQ(asked, QStringList{QString::fromStdString("mqtt://127.0.0.1:" + std::to_string(broker.Port()))});
  dlg.OnLogIn();
  ASSERT_TRUE(WaitUntil([&] { return dlg.m_bRecorderReady == 1; }));
  camera.Command("event");
  ASSERT_TRUE(WaitUntil([&] { return seen("zent/127_0_0_1/event", "\"sequence\":1"); }));
  camera.Command("close");
  ASSERT_TRUE(WaitUntil([&] { return seen("zent/127_0_0_1/status", "event channel dropped"); }));
}

}  // namespace
}  // namespace zent::testing
