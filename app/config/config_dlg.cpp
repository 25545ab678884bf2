#include "app/config/config_dlg.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/data_exchange.h"
#include "app/config/default_profile.h"
#include "app/message_box.h"
#include "app/typing_keys.h"
#include "config/camera_address.h"
#include "config/paths.h"
#include "record/recording_name.h"
#include "config/settings_validation.h"
#include "settings/documents_folder.h"

namespace {

constexpr int kAddressLimit = 20;
constexpr int kSavePathLimit = 256;
constexpr int kFileMinutesLimit = 2;

QString Text(const std::string& bytes) { return QString::fromLocal8Bit(bytes); }
std::string Bytes(const QString& text) { return text.toLocal8Bit().toStdString(); }

}  // namespace

CConfigDlg::CConfigDlg(QWidget* parent) : QDialog(parent) {
  setObjectName("IDD_CONFIG");
  setWindowTitle("Jpeg ZENT Client Configuration");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  setFont(QFont("Verdana", 9));
  CreateControls();
}

void CConfigDlg::CreateControls() {
  auto label = [this](const char* text, QRect rect) {
    auto* l = new QLabel(text, this);
    l->setGeometry(rect);
    return l;
  };
  auto edit = [this](const char* name, QRect rect) {
    auto* e = new QLineEdit(this);
    e->setObjectName(name);
    e->setGeometry(rect);
    return e;
  };
  auto button = [this](const char* text, const char* name, QRect rect) {
    auto* b = new QPushButton(text, this);
    b->setObjectName(name);
    b->setAutoDefault(false);
    b->setGeometry(rect);
    return b;
  };

  m_checkEnableSaving = new QCheckBox("Enable &Saving to file", this);
  m_checkEnableSaving->setObjectName("IDC_ENABLE_SAVING");
  m_checkEnableSaving->setGeometry(12, 10, 200, 20);
  m_checkEnableSaving->hide();
  label("*Saving Filename\t\t:", QRect(12, 14, 190, 20));
  m_savePathEdit = edit("IDC_SAVE_PATH", QRect(200, 12, 250, 24));
  m_btnBrowse = button("&path", "IDC_BROWSE_PATH", QRect(456, 11, 60, 26));
  m_checkInsertTime = new QCheckBox("Insert &Time into Filename", this);
  m_checkInsertTime->setObjectName("IDC_INSERT_TIME");
  m_checkInsertTime->setGeometry(200, 40, 240, 20);
  m_checkInsertTime->hide();
  label("*Length (s) per video file\t:", QRect(12, 46, 190, 20));
  m_editFileMinutes = edit("IDC_FILE_MINUTES", QRect(200, 44, 60, 24));
  label("Minute(1 ~ 60)", QRect(268, 46, 120, 20));
  label("*Address of Network Camera\t:", QRect(12, 78, 190, 20));
  m_editCameraAddress = edit("IDC_CAMERA_ADDRESS", QRect(200, 76, 250, 24));
  label("*ZENT Private Port\t\t:", QRect(12, 110, 190, 20));
  m_editPrivatePort = edit("IDC_PRIVATE_PORT", QRect(200, 108, 120, 24));
  label("*Video Port\t\t\t:", QRect(12, 142, 190, 20));
  m_editVideoPort = edit("IDC_VIDEO_PORT", QRect(200, 140, 120, 24));
  QLabel* audioLabel = label("*Audio Port\t\t\t:", QRect(12, 174, 190, 20));
  m_editAudioPort = edit("IDC_AUDIO_PORT", QRect(200, 172, 120, 24));
  audioLabel->hide();
  m_editAudioPort->hide();

  auto* group = new QGroupBox(this);
  group->setGeometry(12, 180, 504, 52);
  QPushButton* add = button("&Add", "IDC_ADD", QRect(24, 194, 88, 28));
  QPushButton* del = button("D&elete", "IDC_DELETE", QRect(122, 194, 88, 28));
  QPushButton* modify = button("&Modify", "IDC_MODIFY", QRect(220, 194, 88, 28));
  QPushButton* save = button("&Save", "IDC_SAVE", QRect(318, 194, 88, 28));
  QPushButton* close = button("&Close", "IDC_CLOSE", QRect(416, 194, 88, 28));
  setFixedSize(528, 244);

  m_savePathEdit->installEventFilter(this);
  connect(add, &QPushButton::clicked, this, &CConfigDlg::OnAdd);
  connect(del, &QPushButton::clicked, this, &CConfigDlg::ApplyDelete);
  connect(modify, &QPushButton::clicked, this, &CConfigDlg::OnModify);
  connect(save, &QPushButton::clicked, this, &CConfigDlg::OnSave);
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
  connect(m_btnBrowse, &QPushButton::clicked, this, &CConfigDlg::OnBrowsePath);
  connect(m_checkEnableSaving, &QCheckBox::clicked, this, &CConfigDlg::OnEnableSaving);
}

QWidget* CConfigDlg::GetDlgItem(int id) const {
  const char* name = nullptr;
  switch (id) {
    case IDC_INSERT_TIME: name = "IDC_INSERT_TIME"; break;
    case IDC_BROWSE_PATH: name = "IDC_BROWSE_PATH"; break;
    case IDC_FILE_MINUTES: name = "IDC_FILE_MINUTES"; break;
    case IDC_SAVE_PATH: name = "IDC_SAVE_PATH"; break;
    case IDC_PRIVATE_PORT: name = "IDC_PRIVATE_PORT"; break;
    case IDC_CAMERA_ADDRESS: name = "IDC_CAMERA_ADDRESS"; break;
    case IDC_VIDEO_PORT: name = "IDC_VIDEO_PORT"; break;
    case IDC_AUDIO_PORT: name = "IDC_AUDIO_PORT"; break;
    case IDC_ENABLE_SAVING: name = "IDC_ENABLE_SAVING"; break;
    case IDC_DELETE: name = "IDC_DELETE"; break;
    case IDC_ADD: name = "IDC_ADD"; break;
    case IDC_MODIFY: name = "IDC_MODIFY"; break;
    case IDC_SAVE: name = "IDC_SAVE"; break;
    case IDC_CLOSE: name = "IDC_CLOSE"; break;
    default: return nullptr;
  }
  return findChild<QWidget*>(name);
}

int CConfigDlg::DoModal() {
  m_mode = 0;  // a Save now must not repeat the Add or Modify of an earlier opening
  OnInitDialog();
  return exec();
}

bool CConfigDlg::OnInitDialog() {
  UpdateData(false);
  for (QWidget* box : {static_cast<QWidget*>(m_editFileMinutes), static_cast<QWidget*>(m_editCameraAddress),
                       static_cast<QWidget*>(m_editPrivatePort), static_cast<QWidget*>(m_editVideoPort),
                       static_cast<QWidget*>(m_editAudioPort)})
    box->setEnabled(false);
  OnEnableSaving();
  m_savePathEdit->setFocus();
  return true;
}

bool CConfigDlg::UpdateData(bool saveAndValidate) {
  if (!saveAndValidate) {
    m_checkInsertTime->setChecked(m_insertTime != 0);
    PutLimitedText(m_editCameraAddress, Text(m_cameraAddress), kAddressLimit);
    PutLimitedText(m_savePathEdit, Text(m_savePath), kSavePathLimit);
    m_checkEnableSaving->setChecked(m_enableSaving != 0);
    m_editPrivatePort->setText(Text(m_privatePortText));
    m_editVideoPort->setText(Text(m_videoPortText));
    PutLimitedText(m_editFileMinutes, Text(m_fileMinutesText), kFileMinutesLimit);
    m_editAudioPort->setText(Text(m_audioPortText));
    return true;
  }
  // Boxes to members in order; a box holding more than its limit stops the transfer there.
  auto limited = [this](QLineEdit* box, int limit, std::string& member) {
    const auto text = ExchangeLimitedText(this, box, limit);
    if (text) member = Bytes(*text);
    return text.has_value();
  };
  m_insertTime = m_checkInsertTime->isChecked() ? 1 : 0;
  if (!limited(m_editCameraAddress, kAddressLimit, m_cameraAddress)) return false;
  if (!limited(m_savePathEdit, kSavePathLimit, m_savePath)) return false;
  m_enableSaving = m_checkEnableSaving->isChecked() ? 1 : 0;
  m_privatePortText = Bytes(m_editPrivatePort->text());
  m_videoPortText = Bytes(m_editVideoPort->text());
  if (!limited(m_editFileMinutes, kFileMinutesLimit, m_fileMinutesText)) return false;
  m_audioPortText = Bytes(m_editAudioPort->text());
  return true;
}

void CConfigDlg::OnEnableSaving() {
  UpdateData(true);
  m_btnBrowse->setEnabled(m_enableSaving != 0);
  m_checkInsertTime->setEnabled(m_enableSaving != 0);
}

void CConfigDlg::OnAdd() {
  m_mode = 1;
  m_cameraAddress = "192.168.1.";
  m_privatePortText = "11000";
  m_videoPortText = "8080";
  m_fileMinutesText = "1";
  m_audioPortText = "40008";
  UpdateData(false);
  EnableEditFields(true);
}

void CConfigDlg::OnModify() {
  m_mode = 2;
  EnableEditFields(true);
}

void CConfigDlg::EnableEditFields(bool enable) {
  m_btnBrowse->setEnabled(enable);
  m_editFileMinutes->setEnabled(enable);
  m_editCameraAddress->setEnabled(enable);
  m_editPrivatePort->setEnabled(enable);
  m_editVideoPort->setEnabled(enable);
  m_editAudioPort->setEnabled(enable);
}

void CConfigDlg::OnSave() {
  if (m_mode == 1) ApplyAdd();
  else if (m_mode == 2) ApplyModify();
}

bool CConfigDlg::Validate(bool modify) {
  zent::SettingsValues values{m_privatePort, m_videoPort, m_audioPort, m_fileMinutes};
  const auto failure = zent::ValidateSettings({m_privatePortText, m_videoPortText, m_audioPortText, m_fileMinutesText},
                                              modify ? zent::SaveOperation::Modify : zent::SaveOperation::Add, values);
  m_privatePort = values.privatePort;
  m_videoPort = values.videoPort;
  m_audioPort = values.audioPort;
  m_fileMinutes = values.fileMinutes;
  if (failure) {
    ShowMessageBox(this, Text(failure->message), Text(failure->caption));
    return false;
  }
  // The file has no escape for its separators, and an empty field would vanish on reading:
  // either would shift every later field of the profile.
  const std::pair<const char*, const std::string*> texts[] = {{"Saving Filename", &m_savePath},
                                                              {"Saving file name", &m_saveFileName},
                                                              {"Address of Network Camera", &m_cameraAddress},
                                                              {"Log file name", &m_logFileName}};
  for (const auto& [name, text] : texts) {
    if (text->empty() || text->find_first_of(",;") != std::string::npos) {
      ShowMessageBox(this, QString("%1 must not be empty and must not contain \",\" or \";\".").arg(name), "Error!");
      return false;
    }
  }
  // Anything else in it could send the video URL, with the password, to another host.
  if (!zent::IsCameraAddress(m_cameraAddress)) {
    ShowMessageBox(this,
                   "Address of Network Camera must be a host name (such as door-cam.local) or an IPv4 address "
                   "(such as 192.168.1.7), and nothing else.",
                   "Error!");
    return false;
  }
  return true;
}

void CConfigDlg::LoadProfile(const zent::CameraProfile& profile, bool withNumberTexts) {
  m_enableSaving = profile.savingEnabled;
  m_savePath = profile.savePath;
  m_saveFileName = profile.saveFileName;
  m_insertTime = profile.insertTime;
  m_fileMinutes = profile.fileMinutes;
  m_cameraAddress = profile.cameraAddress;
  m_privatePort = profile.privatePort;
  m_videoPort = profile.videoPort;
  m_audioPort = profile.audioPort;
  m_spareReal = profile.spareReal;
  m_logFileName = profile.logFileName;
  if (!withNumberTexts) return;
  m_fileMinutesText = std::to_string(profile.fileMinutes);
  m_privatePortText = std::to_string(profile.privatePort);
  m_videoPortText = std::to_string(profile.videoPort);
  m_audioPortText = std::to_string(profile.audioPort);
}

void CConfigDlg::LoadDefaults() {
  const std::string logFileName = m_logFileName;
  LoadProfile(DefaultProfile());
  m_logFileName = logFileName;
}

zent::CameraProfile CConfigDlg::NewProfile() const {
  zent::CameraProfile p;
  p.savingEnabled = m_enableSaving;
  p.savePath = m_savePath;
  p.saveFileName = m_saveFileName;
  p.insertTime = m_insertTime;
  p.fileMinutes = m_fileMinutes;
  p.cameraAddress = m_cameraAddress;
  p.privatePort = m_privatePort;
  p.videoPort = m_videoPort;
  p.audioPort = m_audioPort;
  p.spareReal = m_spareReal;
  p.spareFlag = 1;
  p.logToFile = 0;
  p.logPeriod = 0;
  p.logPath = " ";
  p.logFileName = m_logFileName;
  return p;
}

void CConfigDlg::WarnOfSharedRecordings(const zent::ProfileList& list, const zent::CameraProfile& profile,
                                        int replacing) {
  const zent::RecordingsPlace place = zent::PlaceOf(profile.savePath, profile.insertTime);
  if (place.stem.empty()) return;
  for (int i = 0; i < static_cast<int>(list.size()); ++i) {
    const zent::CameraProfile& other = list[static_cast<std::size_t>(i)];
    if (i == replacing || zent::PlaceOf(other.savePath, other.insertTime) != place) continue;
    ShowMessageBox(this,
                   QString("Camera %1 also records to %2_\u2026.avi. Each camera would delete the other's recordings "
                           "as its own when space runs low or they grow old, and zent-recorder will not start "
                           "with both. Give one of them another saving path.")
                       .arg(Text(other.cameraAddress), Text(zent::JoinPath(place.folder, place.stem))),
                   "Warning");
    return;
  }
}

bool CConfigDlg::ReadForChange(zent::ReadResult& read) {
  read = zent::ReadProfiles(zent::ConfigFilePath(zent::GetDocumentsFolder()), true);
  if (!read.cannotWrite.empty()) return Written({false, read.cannotWrite});
  if (read.error.empty()) return true;
  ShowMessageBox(this, QString("The camera list was not changed: %1").arg(Text(read.error)), "Error!");
  return false;
}

bool CConfigDlg::Written(const zent::WriteResult& result) {
  if (result.ok) return true;
  ShowMessageBox(this, QString("The camera list could not be saved: %1").arg(Text(result.error)), "Error!");
  return false;
}

void CConfigDlg::CloseWithOk() {
  if (UpdateData(true)) accept();
}

void CConfigDlg::ApplyModify() {
  UpdateData(true);
  if (!Validate(true)) return;
  const zent::CameraProfile profile = NewProfile();
  zent::ReadResult read;
  if (!ReadForChange(read)) return;
  if (read.opened) {
    WarnOfSharedRecordings(read.profiles, profile, m_selection);
    const bool replaced = zent::ReplaceProfile(read.profiles, m_selection, profile);
    const std::string path = zent::ConfigFilePath(zent::GetDocumentsFolder());
    if (!Written(zent::WriteProfiles(path, read.profiles, zent::WriteForm::Rewrite))) return;
    if (replaced && m_host) {
      m_host->DeleteCamera(m_selection);
      m_host->InsertCamera(m_selection, Text(profile.cameraAddress));
      m_host->SelectCamera(m_selection);
    }
  }
  CloseWithOk();
}

void CConfigDlg::ApplyAdd() {
  UpdateData(true);
  if (!Validate(false)) return;
  const zent::CameraProfile profile = NewProfile();
  zent::ReadResult read;
  if (!ReadForChange(read)) return;
  zent::EnsureDocumentsFolder();
  const std::string path = zent::ConfigFilePath(zent::GetDocumentsFolder());
  zent::ProfileList& list = read.profiles;
  WarnOfSharedRecordings(list, profile, -1);
  zent::AppendProfile(list, profile);
  if (!Written(zent::WriteProfiles(path, list, zent::WriteForm::Create))) return;
  if (!read.opened && m_host && m_host->SelectedCamera() >= 0) m_host->ReloadSelectedCamera();
  if (m_host) {
    m_host->AddCamera(Text(profile.cameraAddress));
    m_host->SelectCamera(static_cast<int>(list.size()) - 1);
  }
  if (m_host) m_host->ProfileAdded(list.back());
  CloseWithOk();
}

void CConfigDlg::ApplyDelete() {
  zent::ReadResult read;
  if (!ReadForChange(read)) return;
  if (read.opened) {
    const bool deleted = zent::DeleteProfile(read.profiles, m_selection);
    const std::string path = zent::ConfigFilePath(zent::GetDocumentsFolder());
    if (!Written(zent::WriteProfiles(path, read.profiles, zent::WriteForm::Rewrite))) return;
    if (deleted && m_host) {
      m_host->DeleteCamera(m_selection);
      --m_selection;
      m_host->SelectCamera(m_selection >= 0 ? m_selection : -1);
    }
  }
  if (m_host && m_host->SelectedCamera() >= 0) m_host->ReloadSelectedCamera();
  CloseWithOk();
}

void CConfigDlg::OnBrowsePath() {
  const std::size_t separator = m_savePath.rfind(zent::kPathSeparator);
  const QString folder = separator == std::string::npos ? QString() : Text(m_savePath.substr(0, separator));
  const std::optional<QString> chosen = m_chooseSaveFile(this, folder);
  if (!chosen) return;
  m_savePath = Bytes(*chosen);
  const std::size_t nameStart = m_savePath.rfind(zent::kPathSeparator);
  m_saveFileName = nameStart == std::string::npos ? m_savePath : m_savePath.substr(nameStart + 1);
  UpdateData(false);
}

bool CConfigDlg::eventFilter(QObject* target, QEvent* event) {
  // The saving path comes from "&path", not from typing.
  if (target == m_savePathEdit && event->type() == QEvent::KeyPress) {
    const auto& key = static_cast<const QKeyEvent&>(*event);
    if (!(key.modifiers() & Qt::AltModifier) && IsTypingKey(key)) return true;
  }
  return QDialog::eventFilter(target, event);
}

void CConfigDlg::keyPressEvent(QKeyEvent* event) {
  // Neither key closes the dialog or presses a button.
  if (IsEnterOrEscape(*event)) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}
