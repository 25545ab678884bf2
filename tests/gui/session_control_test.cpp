// Log-In and Disconnect on the main window, against zent-camsim.

#include <QPushButton>
#include <QTest>

#include "app/id_timer.h"
#include "gui_fixture.h"
#include "link/event_session.h"
#include "sim/camsim_process.h"

namespace zent::testing {
namespace {

using camsim::CamSimProcess;

using namespace std::chrono_literals;
using Texts = std::vector<std::string>;

class SessionControl : public GuiTest {
 protected:
  void UseCamera(int port) {
    currentProfile.cameraAddress = "127.0.0.1";
    currentProfile.privatePort = port;
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
  EXPECT_EQ(Texts(texts.begin() + 6, texts.end()),
            (Texts{"Receive Message.", ">>> Event message arrived.", "OK keep ZENT connection.",
                   "Waiting Event Message..."}));
}

TEST_F(SessionControl, DisconnectEndsTheSessionAtOnceAndSilencesIt) {
  CamSimProcess camera;
  UseCamera(camera.EventPort());
  CMainDlg dlg;
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
    dlg.OnLogIn();
    ASSERT_TRUE(LoggedIn(dlg));
    camera.Command("event");  // the window goes while the session may be handing it over
  }
  EXPECT_TRUE(camera.WaitForLine("ended: closed by the client", 2s));
  EXPECT_TRUE(WaitUntil([] { return EventSession::LiveSessions() == 0; }));
  EXPECT_TRUE(boxes.empty());
}

TEST_F(SessionControl, ErrorsOfTheSessionComeAsMessageBoxesAndResetTheButtons) {
  CamSimProcess camera({"--password", "secret"});
  UseCamera(camera.EventPort());
  CMainDlg dlg;
  dlg.OnLogIn();
  ASSERT_TRUE(WaitUntil([&] { return Enabled(dlg, IDC_LOGIN); }));
  EXPECT_FALSE(Enabled(dlg, IDC_DISCONNECT));
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Error: User Authenticaion failed");
  EXPECT_EQ(boxes[0].caption, "ZENT Client");
  EXPECT_EQ(StatusTexts(*dlg.m_listStatus).back(), "User authentication failed.");
  EXPECT_EQ(dlg.m_bArmed, 0);
}

}  // namespace
}  // namespace zent::testing
