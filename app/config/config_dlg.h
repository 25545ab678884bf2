#pragma once
// The configuration dialog: adds, modifies and deletes saved cameras, rewriting the
// configuration file and keeping the main window's camera list in step.

#include <QDialog>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "app/desktop_services.h"
#include "config/camera_profile.h"
#include "config/profile_file.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

// The main window's camera list and its reload, as the dialog reaches them.
class CameraListHost {
 public:
  virtual ~CameraListHost() = default;
  virtual void AddCamera(const QString& address) = 0;
  virtual void DeleteCamera(int index) = 0;
  virtual void InsertCamera(int index, const QString& address) = 0;
  virtual void SelectCamera(int index) = 0;  // -1: none; sends no selection change
  virtual int SelectedCamera() const = 0;
  virtual void ReloadSelectedCamera() = 0;                            // the main window's selection handler
  virtual void ProfileAdded(const zent::CameraProfile& profile) = 0;  // now the camera in force
};

// Control ids of the dialog; each control's objectName is its IDC_ name.
inline constexpr int IDC_INSERT_TIME = 1009;
inline constexpr int IDC_BROWSE_PATH = 1010;
inline constexpr int IDC_FILE_MINUTES = 1011;
inline constexpr int IDC_SAVE_PATH = 1013;
inline constexpr int IDC_PRIVATE_PORT = 1015;
inline constexpr int IDC_CAMERA_ADDRESS = 1016;
inline constexpr int IDC_VIDEO_PORT = 1017;
inline constexpr int IDC_AUDIO_PORT = 1018;
inline constexpr int IDC_ENABLE_SAVING = 1020;
inline constexpr int IDC_DELETE = 1029;
inline constexpr int IDC_ADD = 6;
inline constexpr int IDC_MODIFY = 5;
inline constexpr int IDC_SAVE = 4;
inline constexpr int IDC_CLOSE = 2;

class CConfigDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CConfigDlg(QWidget* parent = nullptr);
  void SetCameraList(CameraListHost* host) { m_host = host; }
  void SetSaveFileChooser(SaveFileChooser chooser) { m_chooseSaveFile = std::move(chooser); }

  // The fields the dialog opens with; `withNumberTexts` also fills the number boxes' texts.
  void LoadProfile(const zent::CameraProfile& profile, bool withNumberTexts = false);
  // A new camera's fields; the log file name stays as it is.
  void LoadDefaults();
  // The profile as the fields last saved it.
  zent::CameraProfile SavedProfile() const { return NewProfile(); }

  // Opens the dialog modally: Accepted after a Save or Delete that closed it, Rejected otherwise.
  int DoModal();
  bool UpdateData(bool saveAndValidate = true);
  QWidget* GetDlgItem(int id) const;

  void OnAdd();
  void OnModify();
  void OnSave();
  void OnBrowsePath();
  void OnEnableSaving();
  void EnableEditFields(bool enable);
  void ApplyAdd();
  void ApplyModify();
  void ApplyDelete();

  // Members in the order the dialog declares them; texts are local 8-bit bytes like the profile.
  float m_spareReal = 0.0f;
  std::int32_t m_videoPort = 0;
  std::int32_t m_fileMinutes = 0;
  std::int32_t m_privatePort = 0;
  std::int32_t m_audioPort = 0;
  std::string m_saveFileName = "zent.avi";
  std::string m_logFileName = "zent_log.txt";
  int m_selection = -1;
  QLineEdit* m_savePathEdit = nullptr;
  int m_insertTime = 1;
  std::string m_cameraAddress = "192.168.1.";
  std::string m_savePath = "/zent.avi";
  int m_enableSaving = 1;
  std::string m_privatePortText = "11000";
  std::string m_videoPortText = "8080";
  std::string m_fileMinutesText = "1";
  std::string m_audioPortText = "40008";
  int m_mode = 0;  // 0 no change chosen, 1 adding, 2 modifying

 protected:
  bool eventFilter(QObject* target, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void CreateControls();
  bool OnInitDialog();
  bool Validate(bool modify);
  zent::CameraProfile NewProfile() const;
  // Reads the file for a change; false (with a message) when it exists but cannot be read.
  // A box when another camera's recordings would share the folder and names of `profile`'s.
  void WarnOfSharedRecordings(const zent::ProfileList& list, const zent::CameraProfile& profile, int replacing);
  bool ReadForChange(zent::ReadResult& read);
  bool Written(const zent::WriteResult& result);
  void CloseWithOk();

  CameraListHost* m_host = nullptr;
  SaveFileChooser m_chooseSaveFile = DesktopServices::Real().chooseSaveFile;
  QCheckBox* m_checkEnableSaving = nullptr;
  QCheckBox* m_checkInsertTime = nullptr;
  QLineEdit* m_editFileMinutes = nullptr;
  QLineEdit* m_editCameraAddress = nullptr;
  QLineEdit* m_editPrivatePort = nullptr;
  QLineEdit* m_editVideoPort = nullptr;
  QLineEdit* m_editAudioPort = nullptr;
  QPushButton* m_btnBrowse = nullptr;
};
