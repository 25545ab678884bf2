// Log-In and Disconnect: starting and ending the event channel session of the main window.

#include <QApplication>
#include <QListWidget>
#include <algorithm>
#include <thread>

#include "app/main/main_dlg.h"
#include "app/id_timer.h"
#include "app/message_box.h"
#include "link/event_session.h"
#include "link/relogin.h"
#include "app/main/main_dlg_session_host.h"
#include "app/record/record_dlg.h"

namespace {

constexpr std::chrono::milliseconds kLogInPause{200};

}  // namespace

template <typename Action>
void MainDlgSessionHost::OnGuiThread(Action action) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return;
  QMetaObject::invokeMethod(
      app,
      [this, &action] {
        if (!m_detached && m_dlg) action(*m_dlg);
      },
      Qt::BlockingQueuedConnection);
}

void MainDlgSessionHost::AddStatusLine(const std::string& text) {
  OnGuiThread([&text](CMainDlg& dlg) { dlg.AddStatusLine(text); });
}

void MainDlgSessionHost::LoginAccepted() {
  OnGuiThread([](CMainDlg& dlg) { dlg.OnLoginAccepted(); });
}

void MainDlgSessionHost::CameraEvent(const zent::EventOrigin& origin) {
  OnGuiThread([&origin](CMainDlg& dlg) { dlg.OnEvent(origin); });
}

void MainDlgSessionHost::VideoFound(const std::string& url) {
  OnGuiThread([&url](CMainDlg& dlg) { dlg.OnVideoFound(url); });
}

void MainDlgSessionHost::SessionEnded(const zent::SessionEnding& ending) {
  OnGuiThread([&ending](CMainDlg& dlg) { dlg.OnSessionEnded(ending); });
}

void CMainDlg::SetReloginDelays(std::vector<int> milliseconds) {
  m_relogin.delays.clear();
  for (int ms : milliseconds) m_relogin.delays.emplace_back(ms);
}

void CMainDlg::OnLogIn() {
  UpdateData(true);
  ClearStatusWindow();
  EnableDlgItem(IDC_LOGIN, false);
  EnableDlgItem(IDC_DISCONNECT, true);
  m_cycle->Stop();
  StopReceiverThread();
  std::this_thread::sleep_for(kLogInPause);

  // The session takes its own copies: later changes of the profile or the boxes do not reach it.
  m_foundVideoUrl.clear();
  m_sessionCamera = Camera();
  if (!m_sessionCamera.eventsError.empty()) {
    AddStatusLine(m_sessionCamera.eventsError);
    EnableDlgItem(IDC_LOGIN, true);
    EnableDlgItem(IDC_DISCONNECT, false);
    return;
  }
  // Motion is looked for in the stream the viewer receives: one feed for this Log-In's viewers.
  m_motionFeed = m_sessionCamera.events.kind == zent::EventSourceChoice::Kind::Motion
                     ? std::make_shared<zent::CameraFeed>()
                     : nullptr;
  m_cycle = std::make_unique<zent::RecordingCycle>(static_cast<zent::CycleHost&>(*this), CycleSettings());
  for (zent::CycleObserver* observer : m_cycleObservers) m_cycle->AddObserver(*observer);
  if (m_notifications) {
    m_notifier = std::make_unique<zent::CameraNotifier>(*m_notifications, m_notifications->Prefix(),
                                                        m_currentProfile.cameraAddress);
    m_cycle->AddObserver(*m_notifier);
  }
  Feed(&zent::RecordingCycle::Start);
}

void CMainDlg::StartSession() {
  StopReceiverThread();  // the same camera, ID and password as the session before
  m_sessionHost = std::make_shared<MainDlgSessionHost>(this);
  m_pReceiverThread = zent::StartEventSource(m_sessionCamera, m_sessionHost, m_motionFeed);
}

void CMainDlg::AddCycleObserver(zent::CycleObserver& observer) {
  m_cycleObservers.push_back(&observer);
  m_cycle->AddObserver(observer);
}

void CMainDlg::OnVideoFound(const std::string& url) { m_foundVideoUrl = url; }

void CMainDlg::OnLoginAccepted() { Feed(&zent::RecordingCycle::LoginAccepted); }

void CMainDlg::OnSessionEnded(const zent::SessionEnding& ending) {
  // A session the cycle will start again by itself must not wait for a person at a box.
  const bool again = m_cycle->LogsInAgainAfter(ending.end);
  if (!ending.message.empty()) {
    if (again) AddStatusLine(ending.message);
    else ShowMessageBox(this, QString::fromLocal8Bit(ending.message));
  }
  for (const std::string& line : ending.lines) AddStatusLine(line);
  if (ending.loginOffered && !again) {
    EnableDlgItem(IDC_LOGIN, true);
    EnableDlgItem(IDC_DISCONNECT, false);
  }
  const zent::SessionEnd end = ending.end;
  Feed([end](zent::RecordingCycle& cycle, auto now) { cycle.SessionEnded(end, now); });
}

void CMainDlg::GaveUp() {
  // The session's box said so. Free the Configuration button rather than leave it locked behind
  // a recorder that no event can reach.
  EnableDlgItem(IDC_CONFIGURATION, true);
  DeleteRecorder();
}

void CMainDlg::OnDisconnect() {
  Feed([](zent::RecordingCycle& cycle, auto) { cycle.Stop(); });
  StopReceiverThread();
  EnableDlgItem(IDC_CONFIGURATION, true);
  DeleteRecorder();
  AddStatusLine("Client socket was closed.");
  AddStatusLine("Disconnected.");
  EnableDlgItem(IDC_LOGIN, true);
  EnableDlgItem(IDC_DISCONNECT, false);
}

void CMainDlg::StopReceiverThread() {
  if (m_sessionHost) m_sessionHost->Detach();
  m_sessionHost.reset();
  if (!m_pReceiverThread) return;
  if (m_pReceiverThread->Running()) m_pReceiverThread->RequestStop();
  m_pReceiverThread.reset();
}
