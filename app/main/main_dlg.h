#pragma once
// The main window: log-in fields, camera list, status window, and the recording state through
// which the event session and the recording window work together. Its methods are spread over the
// files of this folder, one concern each.

#include <QBrush>
#include <QDialog>
#include <QIcon>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/config/config_dlg.h"
#include "app/desktop_services.h"
#include "app/record/recording_host.h"
#include "app/recordings/recordings_dlg.h"
#include "config/camera_profile.h"
#include "config/options.h"
#include "cycle/recording_cycle.h"
#include "camera/camera_setup.h"
#include "link/event_session.h"
#include "link/relogin.h"
#include "log/log_writer.h"
#include "log/repeat_filter.h"
#include "log/status_line.h"
#include "notify/camera_notifier.h"
#include "notify/notifications.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class CRecordDlg;
class IdTimers;
class MainDlgSessionHost;
namespace zent {
class EventSource;
}

// Control ids of the main window; each control's objectName is its IDC_ name.
inline constexpr int IDC_LOGIN = 1000;
inline constexpr int IDC_ID = 1001;
inline constexpr int IDC_PASSWORD = 1002;
inline constexpr int IDC_CONFIGURATION = 1003;
inline constexpr int IDC_DISCONNECT = 1004;
inline constexpr int IDC_STATUS = 1006;
inline constexpr int IDC_CAMERA = 1027;
inline constexpr int IDC_EXPAND = 1033;

// Main-window timers.
inline constexpr int IDT_MODE_CHANGE_RESET = 1051;
inline constexpr int IDT_PREPARE_RECORDER = 1054;
inline constexpr int IDT_RECORDER_READY = 1055;
inline constexpr int IDT_RELOGIN = 1056;  // the wait before logging in again by itself

inline constexpr int IDM_ABOUTBOX = 0x0010;
// The status window drops its oldest lines beyond this; the log file keeps everything.
inline constexpr int kMaxStatusLines = 100000;

class CMainDlg : public QDialog, public CameraListHost, public RecordingHost, private zent::CycleHost {
  Q_OBJECT

 public:
  explicit CMainDlg(QWidget* parent = nullptr, DesktopServices services = DesktopServices::Real());
  ~CMainDlg() override;

  // Start-up and data exchange.
  bool OnInitDialog();
  // true: controls to members (false when a text is too long); false: members to controls.
  bool UpdateData(bool saveAndValidate = true);
  QWidget* GetDlgItem(int id) const;
  void EnableDlgItem(int id, bool enable);

  // Camera selection.
  void OnSelchangeCamera();
  void OnExpand();
  void ToggleExpand();

  // The camera list as the configuration dialog changes it.
  void AddCamera(const QString& address) override;
  void DeleteCamera(int index) override;
  void InsertCamera(int index, const QString& address) override;
  void SelectCamera(int index) override;
  int SelectedCamera() const override;
  void ReloadSelectedCamera() override { OnSelchangeCamera(); }
  void ProfileAdded(const zent::CameraProfile& profile) override { m_currentProfile = profile; }

  // Applying the configuration: runs the dialog on the selected camera, then puts it in force.
  void OnConfiguration();

  // Status log: any thread; from another thread it returns once the line is in the window.
  void AddStatusLine(const std::string& text) override;
  void SetStatusClock(zent::LocalClock clock) { m_clock = std::move(clock); }
  zent::LogWriter& LogWriter() { return m_logWriter; }

  // Window chrome.
  void OnAboutBox();
  // The Options dialog for the program-wide settings; they are saved when it is accepted.
  void OnOptions();
  const zent::Options& Options() const { return m_options; }
  // The window's menu (the context menu on Linux): Minimize, Close and the About item.
  void FillSystemMenu(QMenu& menu);
  // Paints a list box white on the window's teal brush; other controls keep the toolkit's colours.
  void OnCtlColor(QWidget* control);

  // Session control: Log-In and Disconnect start and end an event channel session.
  void OnLogIn();
  void OnDisconnect();
  // Stops the session's thread at once, without waiting for it; it shows nothing more.
  void StopReceiverThread();
  QString GetUserID() const { return m_strID; }
  QString GetPassword() const { return m_strPassword; }
  // What the session reports, on the GUI thread: fed to the recording cycle.
  void OnLoginAccepted();
  long OnCameraEvent(unsigned long wParam, long lParam);
  void OnEvent(const zent::EventOrigin& origin);
  void OnVideoFound(const std::string& url);
  // A message on PREFIX/CAMERA/trigger from the broker, for the camera logged in here.
  void OnTrigger(const std::string& camera, const std::string& payload);
  void OnSessionEnded(const zent::SessionEnding& ending);
  // Tests and the soak shorten the waits between log-in attempts, and the minute recordings last.
  void SetReloginDelays(std::vector<int> milliseconds);
  void SetMillisecondsPerMinute(int milliseconds) { m_millisecondsPerMinute = milliseconds; }
  // Hears of the recording cycle from now on, on the GUI thread; must outlive the window.
  void AddCycleObserver(zent::CycleObserver& observer);
  // Starts the MQTT broker's and the webhooks' senders as the Options say, with the broker's login
  // from the key ring (read first when `login` is not given).
  void ConfigureNotifications(std::optional<BrokerLogin> login = std::nullopt);
  // The recording window while there is one: it is made before any event and kept between them.
  CRecordDlg* RecordDlg() const { return m_pRecordDlg; }

  // What the recording window reports.
  void RecordingStarted() override;
  void RecordingRefused() override;
  void RecordingTimeUp() override;
  void RecordingWindowClosed() override;
  bool VideoModeChanged() override;
  void VideoReported(const zent::VideoReport& report) override;

  // The Recordings window of the selected camera, non-modal; one at a time.
  void OnRecordings();

  // Keyboard filter: true when the key event is swallowed.
  bool PreTranslateMessage(QObject* target, QEvent* event);

  // Main-window timers by id.
  IdTimers& Timers() { return *m_timers; }
  void OnTimer(int id);

  // Members, in the window's declaration order.
  QLineEdit* m_editPassword = nullptr;
  QLineEdit* m_editID = nullptr;
  QComboBox* m_comboCamera = nullptr;
  QListWidget* m_listStatus = nullptr;
  QString m_strID = "admin";
  QString m_strPassword = "kwolt";
  QString m_strCamera;
  QIcon m_hIcon;
  QBrush m_hBrush;
  std::shared_ptr<zent::EventSource> m_pReceiverThread;
  CConfigDlg m_dlgConfig;
  int m_bCollapsed = 0;
  // The recording cycle's state under the names the window has always used: read-only, set from
  // the cycle after everything fed to it.
  int m_bArmed = 0;
  int m_bRecorderReady = 0;
  int m_bRecording = 0;
  int m_bModeChanged = 0;
  int m_bModeChangeBusy = 0;
  QString m_strAboutMenu;                // the context menu's About item; empty: no item
  zent::CameraProfile m_currentProfile;  // the camera in force

 protected:
  bool eventFilter(QObject* target, QEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void CreateControls();
  void AddStatusLineHere(const std::string& text);
  void WriteStatusLine(const std::string& text);
  void LogStatusLine(const std::string& line, const std::tm& time);
  void ClearStatusWindow();
  // The recording cycle's host: the window's session, recording window and timers.
  void StartSession() override;
  void StopSession() override { StopReceiverThread(); }
  bool StartVideo() override;
  void StopVideo() override;
  bool StartRecording() override;
  void StopRecording() override;
  void Status(const std::string& text) override { AddStatusLine(text); }
  void RecorderReady() override;
  void VideoModeChangeShown() override { AddStatusLine("Stop recording and close window."); }
  void GaveUp() override;
  void Schedule(zent::CycleDeadline kind, std::chrono::milliseconds after) override;
  void Cancel(zent::CycleDeadline kind) override;
  // The selected camera with the boxes' ID and password, as both programs describe a camera.
  zent::CameraSetup Camera() const;
  zent::CycleSettings CycleSettings() const;
  // Feeds the cycle, then mirrors its state into the flags: the one place they are written.
  void Feed(const std::function<void(zent::RecordingCycle&, zent::RecordingCycle::Clock::time_point)>& input);
  void Feed(void (zent::RecordingCycle::*input)(zent::RecordingCycle::Clock::time_point));
  std::pair<IdTimers*, int> TimerFor(zent::CycleDeadline kind);
  void DeleteRecorder();

  QPushButton* m_btnLogIn = nullptr;
  QPushButton* m_btnDisconnect = nullptr;
  QPushButton* m_btnConfiguration = nullptr;
  QPushButton* m_btnExpand = nullptr;
  IdTimers* m_timers = nullptr;
  std::shared_ptr<MainDlgSessionHost> m_sessionHost;  // the current session's way into this window
  zent::CameraSetup m_sessionCamera;                  // what the last Log-In started, for logging in again
  std::shared_ptr<zent::CameraFeed> m_motionFeed;     // a motion camera's stream, from its viewer to its source
  std::string m_foundVideoUrl;                        // where the camera said its video is (ONVIF), for this Log-In
  std::shared_ptr<int> m_alive = std::make_shared<int>(0);  // for lines other threads post later
  std::unique_ptr<zent::Notifications> m_notifications;
  std::unique_ptr<zent::CameraNotifier> m_notifier;  // the logged-in camera's; outlives the cycle
  std::unique_ptr<zent::RecordingCycle> m_cycle;     // made anew by each Log-In
  std::vector<zent::CycleObserver*> m_cycleObservers;
  zent::ReloginSchedule m_relogin;
  CRecordDlg* m_pRecordDlg = nullptr;
  int m_millisecondsPerMinute = 60000;
  zent::LocalClock m_clock = zent::LocalTimeNow;
  const std::string m_documentsFolder;  // read once: looking it up reads a file
  zent::Options m_options;
  const DesktopServices m_services;
  QPointer<CRecordingsDlg> m_recordingsDlg;
  std::string m_recordingNow;  // the file being recorded, or empty
  zent::RepeatFilter m_repeats;
  zent::LogWriter m_logWriter;
};
