#pragma once
// The recording window: hosts the viewer control hidden, and on an event shows itself, starts
// saving into the named AVI file and stops after the configured length.

#include <QDialog>
#include <QString>

#include "app/desktop_services.h"
#include "app/record/recording_host.h"
#include "camera/camera_setup.h"
#include "app/record/viewer_control.h"

class IdTimers;

// Recording-window timers.
inline constexpr int IDT_LAYOUT_VIEWER = 1028;
inline constexpr int IDT_START_RECORDING = 1029;
inline constexpr int IDT_STOP_RECORDING = 1030;  // set by the owner: the recording's length

class CRecordDlg : public QDialog {
  Q_OBJECT

 public:
  // Creates the window, hidden and without a parent: its owner deletes it. `host` learns what
  // happens to the recording and must outlive the window.
  CRecordDlg(RecordingHost& host, ViewerFactory makeViewer);
  ~CRecordDlg() override;

  // The camera, its credentials and the Options its viewer records with.
  void SetCamera(const zent::CameraSetup& camera);
  // Where each viewer built from now on hands the stream on (null: nowhere).
  void SetFeed(std::shared_ptr<zent::CameraFeed> feed) { m_feed = std::move(feed); }
  void SetFileName(const QString& fileName) { m_strFileName = fileName; }

  int CreateViewer();
  int BeginRecording();
  void DestroyViewer();
  void StartRecording();
  void StopRecording();

  void OnTimer(int id);
  void OnVideoModeChanged();
  IdTimers& Timers() { return *m_timers; }

  ViewerControl* m_pViewer = nullptr;
  QString m_strFileName;
  QString m_strAddress;
  QString m_strViewerPassword;
  QString m_strViewerUser;
  int m_nPort = 0;
  float m_fReal10 = 0.0f;
  zent::CameraSetup m_camera;  // what the viewer's properties do not say of the camera
  std::shared_ptr<zent::CameraFeed> m_feed;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  bool OnInitDialog();
  // Stops the viewer, keeps the pause the control needs, and deletes it.
  void StopAndDeleteViewer();

  RecordingHost& m_host;
  ViewerFactory m_makeViewer;
  IdTimers* m_timers = nullptr;
};
