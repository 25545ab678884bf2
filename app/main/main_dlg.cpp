#include "app/main/main_dlg.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "app/data_exchange.h"
#include "app/id_timer.h"
#include "app/message_box.h"
#include "config/paths.h"
#include "config/profile_file.h"
#include "link/protocol.h"
#include "record/memory_budget.h"
#include "res/app_icon.h"
#include "res/strings.h"
#include "settings/documents_folder.h"
#include "settings/options_store.h"

namespace {

// The boxes take what the camera's log-in packet can carry.
constexpr int kMaxUserIdLength = static_cast<int>(zent::kMaxUserIdBytes);
constexpr int kMaxPasswordLength = static_cast<int>(zent::kMaxPasswordBytes);

// Fixed positions in client pixels: the window collapses by cutting itself off below the
// Configuration row, so nothing may stretch.
constexpr QRect kCameraRect(10, 10, 260, 24);
constexpr QRect kConnectionRect(10, 42, 260, 112);
constexpr QRect kIdLabelRect(22, 64, 78, 20);
constexpr QRect kIdRect(100, 62, 158, 22);
constexpr QRect kPasswordLabelRect(22, 92, 78, 20);
constexpr QRect kPasswordRect(100, 90, 158, 22);
constexpr QRect kLogInRect(22, 120, 112, 26);
constexpr QRect kDisconnectRect(146, 120, 112, 26);
constexpr QRect kConfigurationRect(10, 164, 120, 26);
constexpr QRect kStatusLabelRect(140, 168, 90, 20);
constexpr QRect kExpandRect(232, 164, 38, 26);
constexpr QRect kStatusRect(10, 198, 260, 220);

}  // namespace

CMainDlg::CMainDlg(QWidget* parent, DesktopServices services)
    : QDialog(parent),
      m_documentsFolder(zent::GetDocumentsFolder()),
      m_options(zent::LoadOptions()),
      m_services(std::move(services)) {
  zent::MemoryBudget::Process().SetLimit(zent::MemoryBudgetFor(m_options.memoryBudgetBytes));
  setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setWindowTitle("Jpeg ZENT");
  m_hIcon = LoadAppIcon();
  m_timers = new IdTimers(this, [this](int id) { OnTimer(id); });
  m_dlgConfig.setParent(this, m_dlgConfig.windowFlags());  // this window owns it while it runs
  m_dlgConfig.SetCameraList(this);
  m_dlgConfig.SetSaveFileChooser(m_services.chooseSaveFile);
  m_cycle = std::make_unique<zent::RecordingCycle>(static_cast<zent::CycleHost&>(*this), CycleSettings());
  CreateControls();
  qApp->installEventFilter(this);
  OnInitDialog();
  ConfigureNotifications();
}

CMainDlg::~CMainDlg() {
  qApp->removeEventFilter(this);
  StopReceiverThread();
  DeleteRecorder();
}

void CMainDlg::CreateControls() {
  m_comboCamera = new QComboBox(this);
  m_comboCamera->setObjectName("IDC_CAMERA");
  m_comboCamera->setEditable(true);
  m_comboCamera->setInsertPolicy(QComboBox::NoInsert);
  m_comboCamera->setGeometry(kCameraRect);

  auto* group = new QGroupBox("Co&nnection", this);
  group->setGeometry(kConnectionRect);
  auto* idLabel = new QLabel("ID\t\t: ", this);
  idLabel->setGeometry(kIdLabelRect);
  m_editID = new QLineEdit(this);
  m_editID->setObjectName("IDC_ID");
  m_editID->setGeometry(kIdRect);
  auto* passwordLabel = new QLabel("Password\t:", this);
  passwordLabel->setGeometry(kPasswordLabelRect);
  m_editPassword = new QLineEdit(this);
  m_editPassword->setObjectName("IDC_PASSWORD");
  m_editPassword->setEchoMode(QLineEdit::Password);
  m_editPassword->setGeometry(kPasswordRect);

  auto makeButton = [this](const char* caption, const char* name, QRect rect) {
    auto* button = new QPushButton(caption, this);
    button->setObjectName(name);
    button->setAutoDefault(false);
    button->setGeometry(rect);
    return button;
  };
  m_btnLogIn = makeButton("&Log-In", "IDC_LOGIN", kLogInRect);
  m_btnDisconnect = makeButton("&Disconnect", "IDC_DISCONNECT", kDisconnectRect);
  m_btnConfiguration = makeButton("&Configuration", "IDC_CONFIGURATION", kConfigurationRect);
  auto* statusLabel = new QLabel("Status Window", this);
  statusLabel->setGeometry(kStatusLabelRect);
  m_btnExpand = makeButton(">>", "IDC_EXPAND", kExpandRect);

  m_listStatus = new QListWidget(this);
  m_listStatus->setObjectName("IDC_STATUS");
  m_listStatus->setGeometry(kStatusRect);
  m_listStatus->setUniformItemSizes(true);
  m_listStatus->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  setTabOrder(m_editID, m_editPassword);
  setTabOrder(m_editPassword, m_btnLogIn);
  setTabOrder(m_btnLogIn, m_btnDisconnect);
  setTabOrder(m_btnDisconnect, m_btnConfiguration);
  setTabOrder(m_btnConfiguration, m_comboCamera);
  setTabOrder(m_comboCamera, m_listStatus);
  setTabOrder(m_listStatus, m_btnExpand);
  m_editID->setFocus();

  connect(m_comboCamera, &QComboBox::activated, this, [this] { OnSelchangeCamera(); });
  connect(m_btnExpand, &QPushButton::clicked, this, [this] { OnExpand(); });
  connect(m_btnLogIn, &QPushButton::clicked, this, [this] { OnLogIn(); });
  connect(m_btnDisconnect, &QPushButton::clicked, this, [this] { OnDisconnect(); });
  connect(m_btnConfiguration, &QPushButton::clicked, this, [this] { OnConfiguration(); });
}

QWidget* CMainDlg::GetDlgItem(int id) const {
  switch (id) {
    case IDC_LOGIN: return m_btnLogIn;
    case IDC_ID: return m_editID;
    case IDC_PASSWORD: return m_editPassword;
    case IDC_CONFIGURATION: return m_btnConfiguration;
    case IDC_DISCONNECT: return m_btnDisconnect;
    case IDC_STATUS: return m_listStatus;
    case IDC_CAMERA: return m_comboCamera;
    case IDC_EXPAND: return m_btnExpand;
    default: return nullptr;
  }
}

void CMainDlg::EnableDlgItem(int id, bool enable) {
  if (QWidget* item = GetDlgItem(id)) item->setEnabled(enable);
}

bool CMainDlg::UpdateData(bool saveAndValidate) {
  if (!saveAndValidate) {
    PutLimitedText(m_editID, m_strID, kMaxUserIdLength);
    PutLimitedText(m_editPassword, m_strPassword, kMaxPasswordLength);
    // Selecting by prefix sends no selection change, so the profile in force stays as it is.
    const int match = m_comboCamera->findText(m_strCamera, Qt::MatchStartsWith);
    if (match >= 0) m_comboCamera->setCurrentIndex(match);
    else m_comboCamera->setEditText(m_strCamera);
    return true;
  }
  const auto id = ExchangeLimitedText(this, m_editID, kMaxUserIdLength);
  if (!id) return false;
  m_strID = *id;
  const auto password = ExchangeLimitedText(this, m_editPassword, kMaxPasswordLength);
  if (!password) return false;
  m_strPassword = *password;
  m_strCamera = m_comboCamera->currentText();
  return true;
}

bool CMainDlg::OnInitDialog() {
  UpdateData(false);

  m_strAboutMenu = QString::fromLocal8Bit(LoadStringResource(IDS_ABOUTBOX));
  setWindowIcon(m_hIcon);

  m_bArmed = m_bRecorderReady = m_bRecording = m_bModeChanged = m_bModeChangeBusy = 0;
  m_bCollapsed = 0;

  const std::string configPath = zent::ConfigFilePath(zent::GetDocumentsFolder());
  EnableDlgItem(IDC_LOGIN, true);
  EnableDlgItem(IDC_DISCONNECT, false);

  m_hBrush = QBrush(QColor(54, 143, 159));
  for (QWidget* control : findChildren<QWidget*>()) OnCtlColor(control);

  const zent::ReadResult read = zent::ReadProfiles(configPath, false);
  if (read.opened) {
    for (const auto& profile : read.profiles) m_comboCamera->addItem(QString::fromLocal8Bit(profile.cameraAddress));
    if (!read.profiles.empty()) {
      m_comboCamera->setCurrentIndex(0);
      m_currentProfile = read.profiles[0];
    }
  }

  ToggleExpand();
  UpdateData(true);
  return true;
}
