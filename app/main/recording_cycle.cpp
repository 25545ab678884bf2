// The main window as host of the recording cycle: the recording window built before any event,
// each event turned into a named recording, and the cycle's deadlines on the window's timers.

#include <QComboBox>
#include <algorithm>
#include <climits>
#include <utility>

#include "app/id_timer.h"
#include "app/main/main_dlg.h"
#include "app/record/record_dlg.h"
#include "app/recordings/recordings_dlg.h"
#include "config/paths.h"
#include "record/recording_name.h"
#include "settings/documents_folder.h"

namespace {

zent::RecordingCycle::Clock::time_point Now() { return zent::RecordingCycle::Clock::now(); }

}  // namespace

zent::CycleSettings CMainDlg::CycleSettings() const {
  zent::CycleSettings settings;
  settings.fileMinutes = m_currentProfile.fileMinutes;
  settings.minute = std::chrono::milliseconds(m_millisecondsPerMinute);
  settings.relogin = m_options.relogin;
  settings.reloginSchedule = m_relogin;
  settings.modeChangePause = std::chrono::seconds(10);
  settings.preparePause = std::chrono::seconds(1);
  settings.readyPause = std::chrono::seconds(1);
  settings.confirmedStart = true;
  return settings;
}

void CMainDlg::Feed(
    const std::function<void(zent::RecordingCycle&, zent::RecordingCycle::Clock::time_point)>& input) {
  input(*m_cycle, Now());
  m_bArmed = m_cycle->Armed() ? 1 : 0;
  m_bRecorderReady = m_cycle->RecorderReady() ? 1 : 0;
  m_bRecording = m_cycle->Recording() ? 1 : 0;
  m_bModeChanged = m_cycle->WaitingAfterModeChange() ? 1 : 0;
}

// Each of the cycle's deadlines has the timer id the window has always used for it.
void CMainDlg::Schedule(zent::CycleDeadline kind, std::chrono::milliseconds after) {
  const int ms = static_cast<int>(std::clamp<long long>(after.count(), 0, INT_MAX));
  switch (kind) {
    case zent::CycleDeadline::Prepare: Timers().Start(IDT_PREPARE_RECORDER, ms); break;
    case zent::CycleDeadline::Ready: Timers().Start(IDT_RECORDER_READY, ms); break;
    case zent::CycleDeadline::Relogin: Timers().Start(IDT_RELOGIN, ms); break;
    case zent::CycleDeadline::RecordingEnd:
      if (m_pRecordDlg) m_pRecordDlg->Timers().Start(IDT_STOP_RECORDING, ms);
      break;
  }
}

void CMainDlg::Cancel(zent::CycleDeadline kind) {
  switch (kind) {
    case zent::CycleDeadline::Prepare: Timers().Stop(IDT_PREPARE_RECORDER); break;
    case zent::CycleDeadline::Ready: Timers().Stop(IDT_RECORDER_READY); break;
    case zent::CycleDeadline::Relogin: Timers().Stop(IDT_RELOGIN); break;
    case zent::CycleDeadline::RecordingEnd:
      if (m_pRecordDlg) m_pRecordDlg->Timers().Stop(IDT_STOP_RECORDING);
      break;
  }
}

void CMainDlg::OnTimer(int id) {
  auto due = [this](zent::CycleDeadline kind) {
    Feed([kind](zent::RecordingCycle& cycle, auto now) { cycle.Due(kind, now); });
  };
  switch (id) {
    case IDT_MODE_CHANGE_RESET:
      Timers().Stop(IDT_MODE_CHANGE_RESET);
      m_bModeChangeBusy = 0;
      break;
    case IDT_PREPARE_RECORDER: due(zent::CycleDeadline::Prepare); break;
    case IDT_RECORDER_READY: due(zent::CycleDeadline::Ready); break;
    case IDT_RELOGIN: due(zent::CycleDeadline::Relogin); break;
    default: break;
  }
}

bool CMainDlg::StartVideo() {
  DeleteRecorder();
  m_pRecordDlg = new CRecordDlg(*this);
  m_pRecordDlg->move(0, 0);
  m_pRecordDlg->resize(0, 0);
  m_pRecordDlg->hide();
  m_pRecordDlg->SetUser(m_strID);
  m_pRecordDlg->SetPassword(m_strPassword);
  m_pRecordDlg->SetAddress(QString::fromLocal8Bit(m_currentProfile.cameraAddress));
  m_pRecordDlg->SetPort(m_currentProfile.videoPort);
  m_pRecordDlg->SetVideoUrlTemplate(
      QString::fromLocal8Bit(zent::VideoUrlTemplateFor(m_options, m_currentProfile.cameraAddress)));
  m_pRecordDlg->SetPreEventSeconds(m_options.preEventSeconds);
  m_pRecordDlg->SetDiskReserve(m_options.diskReserveBytes, m_options.deleteOldestRecordings);
  const zent::RecordingsPlace place = zent::PlaceOf(m_currentProfile.savePath, m_currentProfile.insertTime);
  m_pRecordDlg->SetRetention({place.folder, place.stem, m_options.keepDays});
  return m_pRecordDlg->CreateViewer() != 0;
}

void CMainDlg::StopVideo() {
  // The window stays until the next build: this may run inside one of its own handlers.
  if (!m_pRecordDlg) return;
  m_pRecordDlg->hide();
  m_pRecordDlg->DestroyViewer();
}

void CMainDlg::RecorderArmed() { EnableDlgItem(IDC_CONFIGURATION, false); }

long CMainDlg::OnCameraEvent(unsigned long /*wParam*/, long /*lParam*/) {
  Feed([](zent::RecordingCycle& cycle, auto now) { cycle.CameraEvent(now); });
  return 0;
}

bool CMainDlg::StartRecording() {
  if (!m_pRecordDlg) return false;
  UpdateData(false);
  const std::tm now = m_clock();
  const std::string name = zent::RecordingFileName(m_currentProfile.savePath, m_currentProfile.insertTime, now);
  // The default saving path is in the documents folder, which a new account may not have yet.
  if (zent::DirectoryPart(name) == m_documentsFolder) zent::EnsureDocumentsFolder(m_documentsFolder);
  m_cycle->SetLength(m_currentProfile.fileMinutes, std::chrono::milliseconds(m_millisecondsPerMinute));
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

void CMainDlg::RecordingFileChanged(FileChange change, const std::string& path) {
  if (change == FileChange::Started) m_recordingNow = path;
  else if (path == m_recordingNow) m_recordingNow.clear();
  if (!m_recordingsDlg) return;
  const QString file = QString::fromLocal8Bit(path);
  switch (change) {
    case FileChange::Started: m_recordingsDlg->RecordingStarted(file); break;
    case FileChange::Saved: m_recordingsDlg->RecordingSaved(file); break;
    case FileChange::Removed: m_recordingsDlg->RecordingRemoved(file); break;
  }
}

void CMainDlg::RecordingStarted() {
  Feed([](zent::RecordingCycle& cycle, auto now) { cycle.RecordingConfirmed(now); });
}

void CMainDlg::RecordingRefused() {
  EnableDlgItem(IDC_DISCONNECT, true);
  Feed([](zent::RecordingCycle& cycle, auto now) { cycle.RecordingRefused(now); });
}

void CMainDlg::RecordingTimeUp() {
  Feed([](zent::RecordingCycle& cycle, auto now) { cycle.Due(zent::CycleDeadline::RecordingEnd, now); });
}

void CMainDlg::RecordingWindowClosed() {
  EnableDlgItem(IDC_DISCONNECT, true);
  Feed([](zent::RecordingCycle& cycle, auto now) { cycle.RecorderClosed(now); });
}

bool CMainDlg::VideoModeChanged() {
  // The viewer may report one change more than once.
  if (m_bModeChangeBusy) return false;
  m_bModeChangeBusy = 1;
  Timers().Start(IDT_MODE_CHANGE_RESET, 10000);
  EnableDlgItem(IDC_DISCONNECT, true);
  Feed([](zent::RecordingCycle& cycle, auto now) { cycle.VideoModeChanged(now); });
  return true;
}

void CMainDlg::DeleteRecorder() {
  // Taken out of the member first: deleting stops the viewer, which may report on its way out.
  delete std::exchange(m_pRecordDlg, nullptr);
}
