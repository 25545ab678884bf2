// Log-In and Disconnect: starting and ending the event channel session of the main window.

#include <QApplication>
#include <QListWidget>
#include <thread>

#include "app/main/main_dlg.h"
#include "app/id_timer.h"
#include "app/message_box.h"
#include "link/event_session.h"
#include "app/main/main_dlg_session_host.h"

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

void MainDlgSessionHost::ShowMessage(const std::string& text) {
  OnGuiThread([&text](CMainDlg& dlg) { ShowMessageBox(&dlg, QString::fromLocal8Bit(text)); });
}

void MainDlgSessionHost::LoginAccepted() {
  OnGuiThread([](CMainDlg& dlg) { dlg.OnLoginAccepted(); });
}

void MainDlgSessionHost::CameraEvent() {
  OnGuiThread([](CMainDlg& dlg) { dlg.OnCameraEvent(0, 0); });
}

void MainDlgSessionHost::ResetButtons() {
  OnGuiThread([](CMainDlg& dlg) {
    dlg.EnableDlgItem(IDC_LOGIN, true);
    dlg.EnableDlgItem(IDC_DISCONNECT, false);
  });
}

void CMainDlg::OnLogIn() {
  UpdateData(true);
  m_listStatus->clear();
  AddStatusLine("Connecting server...");
  EnableDlgItem(IDC_LOGIN, false);
  EnableDlgItem(IDC_DISCONNECT, true);
  StopReceiverThread();
  std::this_thread::sleep_for(kLogInPause);

  // The session takes its own copies: later changes of the profile or the boxes do not reach it.
  zent::SessionSettings settings;
  settings.cameraAddress = currentProfile.cameraAddress;
  settings.privatePort = currentProfile.privatePort;
  settings.userId = GetUserID().toLocal8Bit().toStdString();
  settings.password = GetPassword().toLocal8Bit().toStdString();
  m_sessionHost = std::make_shared<MainDlgSessionHost>(this);
  m_pReceiverThread = zent::EventSession::Start(std::move(settings), m_sessionHost);
}

void CMainDlg::OnDisconnect() {
  m_bArmed = 0;
  EnableDlgItem(IDC_CONFIGURATION, true);
  StopReceiverThread();
  // Left running, these would arm again and lock the Configuration button a second later.
  Timers().Stop(IDT_RECORDER_READY);
  Timers().Stop(IDT_PREPARE_RECORDER);
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

void CMainDlg::OnLoginAccepted() {
  m_bArmed = 1;
  Timers().Start(IDT_PREPARE_RECORDER, 1000);
}
