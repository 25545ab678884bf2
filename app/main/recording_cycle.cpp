// The main window as host of the recording cycle: the recording window built before any event,
// each event turned into a named recording, and the cycle's deadlines on the window's timers.

#include <QComboBox>
#include <algorithm>
#include <climits>
#include <utility>

#include "app/id_timer.h"
#include "app/main/main_dlg.h"
#include "app/record/record_dlg.h"
#include "config/paths.h"
#include "record/recording_name.h"
#include "settings/documents_folder.h"

zent::CameraSetup CMainDlg::Camera() const {
  const zent::CameraCredentials credentials(m_strID.toLocal8Bit().toStdString(),
                                            m_strPassword.toLocal8Bit().toStdString());
  zent::CameraSetup setup = zent::DescribeCamera(m_currentProfile, credentials, m_options);
  if (setup.videoUrlTemplate.empty()) setup.videoUrlTemplate = m_foundVideoUrl;
  return setup;
}

zent::CycleSettings CMainDlg::CycleSettings() const {
  zent::CycleSettings settings = zent::CycleSettingsFor(Camera());
  settings.minute = std::chrono::milliseconds(m_millisecondsPerMinute);
  settings.reloginSchedule = m_relogin;
  // The recording window is built a second after a log-in, armed a second later, and says when
  // it began saving.
  settings.preparePause = settings.readyPause = std::chrono::seconds(1);
  settings.confirmedStart = true;
  return settings;
}

void CMainDlg::Feed(const std::function<void(zent::RecordingCycle&, zent::RecordingCycle::Clock::time_point)>& input) {
  input(*m_cycle, zent::RecordingCycle::Clock::now());
  m_bArmed = m_cycle->RecorderWanted() ? 1 : 0;
  m_bRecorderReady = m_cycle->RecorderReady() ? 1 : 0;
  m_bRecording = m_cycle->Recording() ? 1 : 0;
  m_bModeChanged = m_cycle->WaitingAfterModeChange() ? 1 : 0;
}

void CMainDlg::Feed(void (zent::RecordingCycle::*input)(zent::RecordingCycle::Clock::time_point)) {
  Feed([input](zent::RecordingCycle& cycle, auto now) { (cycle.*input)(now); });
}

// Each of the cycle's deadlines runs on the timer the window has always used for it.
std::pair<IdTimers*, int> CMainDlg::TimerFor(zent::CycleDeadline kind) {
  switch (kind) {
    case zent::CycleDeadline::Prepare: return {&Timers(), IDT_PREPARE_RECORDER};
    case zent::CycleDeadline::Ready: return {&Timers(), IDT_RECORDER_READY};
    case zent::CycleDeadline::Relogin: return {&Timers(), IDT_RELOGIN};
    case zent::CycleDeadline::RecordingEnd: break;
  }
  return {m_pRecordDlg ? &m_pRecordDlg->Timers() : nullptr, IDT_STOP_RECORDING};
}

void CMainDlg::Schedule(zent::CycleDeadline kind, std::chrono::milliseconds after) {
  const auto [timers, id] = TimerFor(kind);
  if (timers) timers->Start(id, static_cast<int>(std::min<long long>(after.count(), INT_MAX)));
}

void CMainDlg::Cancel(zent::CycleDeadline kind) {
  if (const auto [timers, id] = TimerFor(kind); timers) timers->Stop(id);
}

void CMainDlg::OnTimer(int id) {
  if (id == IDT_MODE_CHANGE_RESET) {
    Timers().Stop(IDT_MODE_CHANGE_RESET);
    m_bModeChangeBusy = 0;
  }
  for (const auto kind : {zent::CycleDeadline::Prepare, zent::CycleDeadline::Ready, zent::CycleDeadline::Relogin}) {
    if (TimerFor(kind).second == id) Feed([kind](zent::RecordingCycle& cycle, auto now) { cycle.Due(kind, now); });
  }
}

bool CMainDlg::StartVideo() {
  DeleteRecorder();
  m_pRecordDlg = new CRecordDlg(*this, m_services.makeViewer);
  m_pRecordDlg->move(0, 0);
  m_pRecordDlg->resize(0, 0);
  m_pRecordDlg->hide();
  m_pRecordDlg->SetCamera(Camera());
  m_pRecordDlg->SetFeed(m_motionFeed);
  return m_pRecordDlg->CreateViewer() != 0;
}

void CMainDlg::StopVideo() {
  // The window stays until the next build: this may run inside one of its own handlers.
  if (!m_pRecordDlg) return;
  m_pRecordDlg->hide();
  m_pRecordDlg->DestroyViewer();
}

void CMainDlg::RecorderReady() { EnableDlgItem(IDC_CONFIGURATION, false); }

long CMainDlg::OnCameraEvent(unsigned long /*wParam*/, long /*lParam*/) {
  OnEvent(zent::EventOrigin{});
  return 0;
}

void CMainDlg::OnEvent(const zent::EventOrigin& origin) {
  // The length as the profile says now, like the file's name.
  m_cycle->SetLength(m_currentProfile.fileMinutes, std::chrono::milliseconds(m_millisecondsPerMinute));
  Feed([&origin](zent::RecordingCycle& cycle, auto now) { cycle.CameraEvent(now, origin); });
}

bool CMainDlg::StartRecording() {
  if (!m_pRecordDlg) return false;
  UpdateData(false);
  const std::tm now = m_clock();
  const std::string name = zent::RecordingFileName(m_currentProfile.savePath, m_currentProfile.insertTime, now,
                                                   zent::RecordingExtension(m_options));
  // The default saving path is in the documents folder, which a new account may not have yet.
  if (zent::DirectoryPart(name) == m_documentsFolder) zent::EnsureDocumentsFolder(m_documentsFolder);
  m_pRecordDlg->SetFileName(QString::fromLocal8Bit(name));
  m_pRecordDlg->show();
  m_pRecordDlg->raise();
  m_pRecordDlg->activateWindow();
  m_pRecordDlg->BeginRecording();
  EnableDlgItem(IDC_LOGIN, false);
  EnableDlgItem(IDC_DISCONNECT, false);
  return true;
}

void CMainDlg::StopRecording() {
  if (!m_pRecordDlg) return;
  m_pRecordDlg->StopRecording();
  m_pRecordDlg->done(QDialog::Accepted);  // hides; the window and its viewer wait for the next event
  EnableDlgItem(IDC_DISCONNECT, true);
}

void CMainDlg::RecordingStarted() { Feed(&zent::RecordingCycle::RecordingConfirmed); }

void CMainDlg::RecordingRefused() {
  EnableDlgItem(IDC_DISCONNECT, true);
  Feed(&zent::RecordingCycle::RecordingRefused);
}

void CMainDlg::RecordingTimeUp() {
  Feed([](zent::RecordingCycle& cycle, auto now) { cycle.Due(zent::CycleDeadline::RecordingEnd, now); });
}

void CMainDlg::RecordingWindowClosed() {
  EnableDlgItem(IDC_DISCONNECT, true);
  Feed(&zent::RecordingCycle::RecorderClosed);
}

bool CMainDlg::VideoModeChanged() {
  // The viewer may report one change more than once.
  if (m_bModeChangeBusy) return false;
  m_bModeChangeBusy = 1;
  Timers().Start(IDT_MODE_CHANGE_RESET, 10000);
  EnableDlgItem(IDC_DISCONNECT, true);
  Feed(&zent::RecordingCycle::VideoModeChanged);
  return true;
}

void CMainDlg::DeleteRecorder() {
  // Taken out of the member first: deleting stops the viewer, which may report on its way out.
  delete std::exchange(m_pRecordDlg, nullptr);
}
