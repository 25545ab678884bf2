#include "app/record/record_dlg.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <chrono>
#include <thread>

#include "app/id_timer.h"
#include "app/typing_keys.h"
#include "config/paths.h"

namespace {

constexpr QRect kViewerRect(0, 0, 320, 260);
constexpr std::chrono::milliseconds kViewerStopPause{200};

}  // namespace

CRecordDlg::CRecordDlg(RecordingHost& host, ViewerFactory makeViewer)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint),
      m_host(host),
      m_makeViewer(std::move(makeViewer)) {
  setObjectName("IDD_RECORD");
  setModal(false);
  m_timers = new IdTimers(this, [this](int id) { OnTimer(id); });
  OnInitDialog();
}

CRecordDlg::~CRecordDlg() { DestroyViewer(); }

bool CRecordDlg::OnInitDialog() {
  m_strFileName = QString(zent::kPathSeparator);
  m_strAddress = "192.168.1.";
  m_strViewerPassword = "pirny";
  m_strViewerUser = "guest";
  m_nPort = 40001;
  m_fReal10 = 15.0f;
  return true;
}

void CRecordDlg::SetCamera(const zent::CameraSetup& camera) {
  m_strAddress = QString::fromLocal8Bit(camera.Address());
  setWindowTitle(m_strAddress);
  m_nPort = camera.profile.videoPort;
  m_strViewerUser = QString::fromLocal8Bit(camera.credentials.userId);
  m_strViewerPassword = QString::fromLocal8Bit(camera.credentials.password);
  m_camera = camera;
}

int CRecordDlg::CreateViewer() {
  DestroyViewer();
  m_pViewer = m_makeViewer(this);
  if (!m_pViewer) return 0;
  m_pViewer->SetAddressProp(m_strAddress);
  m_pViewer->SetReal7(1.0f);
  m_pViewer->SetText12("0");
  m_pViewer->SetUserProp(m_strViewerUser);
  m_pViewer->SetViewWidth(kViewerRect.width());
  m_pViewer->SetViewHeight(kViewerRect.height());
  m_pViewer->SetPortProp(m_nPort);
  m_pViewer->SetBool4(false);
  m_pViewer->SetPasswordProp(m_strViewerPassword);
  m_pViewer->SetReal10(m_fReal10);
  m_pViewer->SetBool5(false);
  m_pViewer->SetBool6(false);
  m_pViewer->SetCamera(m_camera);
  m_pViewer->SetFeed(m_feed);
  // Queued, so that the handler may delete the viewer that raised the event.
  connect(m_pViewer, &ViewerControl::VideoModeChanged, this, &CRecordDlg::OnVideoModeChanged, Qt::QueuedConnection);
  connect(m_pViewer, &ViewerControl::Reported, this,
          [this](const zent::VideoReport& report) { m_host.VideoReported(report); });
  m_pViewer->StartView();
  return m_pViewer != nullptr;
}

int CRecordDlg::BeginRecording() {
  if (m_pViewer) m_pViewer->MarkEvent();  // the recording reaches back from the event, not from its start
  Timers().Start(IDT_LAYOUT_VIEWER, 100);
  return 1;
}

void CRecordDlg::StopAndDeleteViewer() {
  const auto stopped = std::chrono::steady_clock::now();
  m_pViewer->StopView();
  // The control gets its pause before it goes; stopping it already took part of it.
  std::this_thread::sleep_until(stopped + kViewerStopPause);
  delete m_pViewer;
  m_pViewer = nullptr;
}

void CRecordDlg::DestroyViewer() {
  if (m_pViewer) StopAndDeleteViewer();
}

void CRecordDlg::StartRecording() {
  try {
    if (m_pViewer) {
      m_pViewer->Record(m_strFileName, kRecordStart);
      m_host.RecordingStarted();
    } else {
      Timers().Start(IDT_START_RECORDING, 500);
    }
  } catch (const ViewerDispatchError& error) {
    // Nothing is recording: say why (the cycle's observers hear of it as a refusal), and stand
    // ready for the next event as after a recording.
    m_host.VideoReported(zent::VideoReport(zent::VideoReport::Kind::RecordingFailed, error.what(),
                                           m_strFileName.toLocal8Bit().toStdString()));
    m_host.RecordingRefused();
    done(QDialog::Accepted);
  }
}

void CRecordDlg::StopRecording() {
  if (m_pViewer) m_pViewer->Record(m_strFileName, kRecordStop);
}

void CRecordDlg::OnTimer(int id) {
  switch (id) {
    case IDT_LAYOUT_VIEWER:
      if (!m_pViewer) return;
      Timers().Stop(IDT_LAYOUT_VIEWER);
      // The window just fits the viewer, at the screen's top-left corner, above the others.
      move(0, 0);
      resize(kViewerRect.size());
      raise();
      m_pViewer->setGeometry(kViewerRect);
      Timers().Start(IDT_START_RECORDING, 100);
      break;
    case IDT_START_RECORDING:
      Timers().Stop(IDT_START_RECORDING);
      StartRecording();
      break;
    case IDT_STOP_RECORDING:
      Timers().Stop(IDT_STOP_RECORDING);
      m_host.RecordingTimeUp();  // the owner stops saving and hides the window
      break;
    default: break;
  }
}

void CRecordDlg::closeEvent(QCloseEvent* event) {
  Timers().Stop(IDT_STOP_RECORDING);
  hide();
  if (m_pViewer) {
    m_pViewer->Record(m_strFileName, kRecordStop);
    StopAndDeleteViewer();
  }
  m_host.RecordingWindowClosed();
  event->accept();
}

void CRecordDlg::OnVideoModeChanged() {
  if (!m_host.VideoModeChanged()) return;
  hide();
  DestroyViewer();
  done(QDialog::Accepted);
}

void CRecordDlg::keyPressEvent(QKeyEvent* event) {
  // Neither key closes the window.
  if (IsEnterOrEscape(*event)) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}
