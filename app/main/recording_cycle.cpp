// The main window's side of event recording: a recorder prepared before any event, each event
// turned into a named recording, and re-arming after a close or a video mode change.

#include <QComboBox>
#include <utility>

#include "app/id_timer.h"
#include "app/main/main_dlg.h"
#include "app/record/record_dlg.h"
#include "app/recordings/recordings_dlg.h"
#include "config/paths.h"
#include "record/recording_name.h"
#include "settings/documents_folder.h"

void CMainDlg::PrepareRecorder() {
  if (m_pRecordDlg || m_bRecorderReady || !m_bArmed || m_bModeChanged) return;
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
  if (m_pRecordDlg->CreateViewer()) Timers().Start(IDT_RECORDER_READY, 1000);
}

long CMainDlg::OnCameraEvent(unsigned long /*wParam*/, long /*lParam*/) {
  if (m_bRecording || !m_bArmed || m_bModeChanged) return 0;
  UpdateData(false);
  const std::tm now = m_clock();
  const std::string name = zent::RecordingFileName(m_currentProfile.savePath, m_currentProfile.insertTime, now);
  // The default saving path is in the documents folder, which a new account may not have yet.
  if (zent::DirectoryPart(name) == m_documentsFolder) zent::EnsureDocumentsFolder(m_documentsFolder);
  if (m_pRecordDlg && m_bArmed && m_bRecorderReady) {
    m_pRecordDlg->SetFileName(QString::fromLocal8Bit(name));
    m_pRecordDlg->SetRecordMinutes(m_currentProfile.fileMinutes, m_millisecondsPerMinute);
    m_pRecordDlg->show();
    m_pRecordDlg->raise();
    m_pRecordDlg->activateWindow();
    m_pRecordDlg->BeginRecording();
    EnableDlgItem(IDC_LOGIN, false);
    EnableDlgItem(IDC_DISCONNECT, false);
  }
  return 0;
}

long CMainDlg::OnRecordDone(unsigned long /*wParam*/, long /*lParam*/) {
  m_bRecorderReady = 0;
  m_bRecording = 0;
  if (m_bArmed) Timers().Start(IDT_PREPARE_RECORDER, m_bModeChanged ? 10000 : 1000);
  return 0;
}

void CMainDlg::OnTimer(int id) {
  switch (id) {
    case IDT_MODE_CHANGE_RESET:
      m_bModeChangeBusy = 0;
      break;
    case IDT_PREPARE_RECORDER:
      Timers().Stop(IDT_PREPARE_RECORDER);
      DeleteRecorder();
      m_bModeChanged = 0;
      m_bRecorderReady = 0;
      PrepareRecorder();
      break;
    case IDT_RELOGIN:
      LogInAgain();
      break;
    case IDT_RECORDER_READY:
      m_bArmed = 1;
      m_bRecorderReady = 1;
      EnableDlgItem(IDC_CONFIGURATION, false);
      break;
    default:
      break;
  }
}

void CMainDlg::StartModeChangeReset() { Timers().Start(IDT_MODE_CHANGE_RESET, 10000); }

void CMainDlg::RecorderReady() { m_bRecorderReady = 1; }

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

void CMainDlg::RecordingStarted() { m_bRecording = 1; }

void CMainDlg::RecordingStopped() { m_bRecording = 0; }

void CMainDlg::RecordingFinished() {
  m_bRecorderReady = 0;
  EnableDlgItem(IDC_DISCONNECT, true);
}

void CMainDlg::RecordingWindowClosed() {
  m_bRecorderReady = 0;
  EnableDlgItem(IDC_DISCONNECT, true);
  OnRecordDone(0, 0);
}

bool CMainDlg::VideoModeChanged() {
  if (m_bModeChangeBusy) return false;
  m_bModeChangeBusy = 1;
  StartModeChangeReset();
  m_bModeChanged = 1;
  AddStatusLine("[[[ Video Mode is Changed. ]]]");
  AddStatusLine("Stop recording and close window.");
  EnableDlgItem(IDC_DISCONNECT, true);
  OnRecordDone(0, 0);
  return true;
}

void CMainDlg::DeleteRecorder() {
  // Taken out of the global first: deleting stops the viewer, which may report on its way out.
  delete std::exchange(m_pRecordDlg, nullptr);
}
