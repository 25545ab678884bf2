#include "app/options/options_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <thread>

#include "app/message_box.h"
#include "app/options/motion_zone_grid.h"
#include "config/event_source_choice.h"
#include "notify/broker_address.h"
#include "notify/mqtt_publisher.h"
#include "notify/webhook_sender.h"
#include "record/memory_budget.h"

namespace {

constexpr std::chrono::seconds kTestTimeout{5};

QString Text(const std::string& bytes) { return QString::fromLocal8Bit(bytes); }
std::string Bytes(const QString& text) { return text.trimmed().toLocal8Bit().toStdString(); }

bool LooksLikeVideoUrl(const QString& url) {
  return url.isEmpty() || url.startsWith("rtsp://") || url.startsWith("http://") || url.startsWith("https://");
}

bool LooksLikeWebhookUrl(const std::string& url) {
  return url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0;
}

QLineEdit* Line(QWidget* parent, const char* name, const std::string& value, const QString& placeholder = {}) {
  auto* edit = new QLineEdit(Text(value), parent);
  edit->setObjectName(name);
  edit->setPlaceholderText(placeholder);
  return edit;
}

QSpinBox* Spin(QWidget* parent, const char* name, int maximum, const QString& suffix, int value) {
  auto* spin = new QSpinBox(parent);
  spin->setObjectName(name);
  spin->setRange(0, maximum);
  spin->setSuffix(suffix);
  spin->setValue(value);
  return spin;
}

QLabel* Note(QWidget* parent, const QString& text) {
  auto* note = new QLabel(text, parent);
  note->setWordWrap(true);
  return note;
}

// Runs `test` (which may wait for the network) off the GUI thread and shows its answer in `label`.
void RunTest(QLabel* label, std::function<std::string()> test, const QString& arrived) {
  label->setText("Sending\u2026");
  QPointer<QLabel> target(label);
  std::thread([target, test = std::move(test), arrived] {
    const std::string error = test();
    QMetaObject::invokeMethod(QCoreApplication::instance(), [target, error, arrived] {
      if (target) target->setText(error.empty() ? arrived : "Not sent: " + QString::fromStdString(error));
    });
  }).detach();
}

}  // namespace

COptionsDlg::COptionsDlg(const zent::Options& options, const std::string& cameraAddress, KeyRing keyRing,
                         QWidget* parent)
    : QDialog(parent), m_options(options), m_cameraAddress(cameraAddress), m_keyRing(std::move(keyRing)) {
  setObjectName("IDD_OPTIONS");
  setWindowTitle("Options");
  auto* layout = new QVBoxLayout(this);
  m_tabs = new QTabWidget(this);
  m_tabs->addTab(VideoPage(options), "Video");
  m_tabs->addTab(RecordingPage(options), "Recording");
  m_tabs->addTab(MotionPage(options), "Motion");
  m_tabs->addTab(DiskPage(options), "Disk");
  m_tabs->addTab(NotificationsPage(options), "Notifications");
  layout->addWidget(m_tabs);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &COptionsDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &COptionsDlg::reject);
  layout->addWidget(buttons);
}

QWidget* COptionsDlg::VideoPage(const zent::Options& options) {
  auto* page = new QWidget(this);
  auto* form = new QFormLayout(page);
  m_editVideoUrl = Line(page, "videoUrlTemplate", options.videoUrlTemplate,
                        "http://{address}:{port}/  (rtsp:// on ports 554 and 8554)");
  m_editVideoUrl->setMinimumWidth(360);
  form->addRow("Video URL of every camera:", m_editVideoUrl);
  const auto own = options.cameraVideoUrlTemplates.find(m_cameraAddress);
  m_editCameraVideoUrl =
      Line(page, "cameraVideoUrlTemplate", own == options.cameraVideoUrlTemplates.end() ? std::string() : own->second,
           "as for every camera");
  // camera, onvif, external, or typed: onvif:PORT.
  m_comboCameraEvents = new QComboBox(page);
  m_comboCameraEvents->setObjectName("cameraEvents");
  m_comboCameraEvents->setEditable(true);
  m_comboCameraEvents->addItems({"camera", "onvif", "external", "motion"});
  const auto events = options.cameraEvents.find(m_cameraAddress);
  m_comboCameraEvents->setCurrentText(
      events == options.cameraEvents.end() || events->second.empty() ? "camera" : Text(events->second));
  if (!m_cameraAddress.empty()) {
    form->addRow(QString("Video URL of %1:").arg(Text(m_cameraAddress)), m_editCameraVideoUrl);
    form->addRow(QString("Events of %1:").arg(Text(m_cameraAddress)), m_comboCameraEvents);
  } else {
    m_editCameraVideoUrl->hide();
    m_comboCameraEvents->hide();
  }
  form->addRow(Note(page,
                    "{address} and {port} are the camera's address and video port from its profile; the ID and "
                    "password typed in the main window are added. Changes take effect when the recorder is next "
                    "prepared. Events: camera (its own event channel), onvif or onvif:PORT (ONVIF events; with no "
                    "video URL the camera is asked for its own), external (only triggers from outside), motion "
                    "(motion in the camera's picture, set on the Motion page); from the next Log-In."));
  return page;
}

QWidget* COptionsDlg::RecordingPage(const zent::Options& options) {
  auto* page = new QWidget(this);
  auto* form = new QFormLayout(page);
  m_comboContainer = new QComboBox(page);
  m_comboContainer->setObjectName("recordingContainer");
  m_comboContainer->addItem("AVI", "avi");
  m_comboContainer->addItem("MP4 (plays in browsers and on phones; H.265 too)", "mp4");
  m_comboContainer->setCurrentIndex(options.recordingContainer == "mp4" ? 1 : 0);
  form->addRow("Recordings are written as:", m_comboContainer);
  m_spinPreEventSeconds = Spin(page, "preEventSeconds", zent::kMaxPreEventSeconds, " s", options.preEventSeconds);
  form->addRow("Seconds recorded before each event:", m_spinPreEventSeconds);
  m_checkRelogin = new QCheckBox("Log in again when the camera drops the session", page);
  m_checkRelogin->setObjectName("relogin");
  m_checkRelogin->setChecked(options.relogin);
  form->addRow(m_checkRelogin);
  m_spinMemoryMiB = Spin(page, "memoryBudgetMiB", 1 << 20, " MiB", static_cast<int>(options.memoryBudgetBytes >> 20));
  m_spinMemoryMiB->setSpecialValueText(QString("automatic (%1 MiB)").arg(zent::DefaultMemoryBudget() >> 20));
  form->addRow("Memory for buffered video:", m_spinMemoryMiB);
  return page;
}

QWidget* COptionsDlg::MotionPage(const zent::Options& options) {
  auto* page = new QWidget(this);
  auto* form = new QFormLayout(page);
  m_spinMotionSensitivity = Spin(page, "motionSensitivity", 10, {}, options.motionSensitivity);
  m_spinMotionSensitivity->setMinimum(1);
  form->addRow("Sensitivity (1 to 10):", m_spinMotionSensitivity);
  m_spinMotionMinArea = new QDoubleSpinBox(page);
  m_spinMotionMinArea->setObjectName("motionMinArea");
  m_spinMotionMinArea->setRange(0.1, 100);
  m_spinMotionMinArea->setDecimals(1);
  m_spinMotionMinArea->setSingleStep(0.5);
  m_spinMotionMinArea->setSuffix(" %");
  m_spinMotionMinArea->setValue(options.motionMinAreaPercent);
  form->addRow("Smallest moving area:", m_spinMotionMinArea);
  const auto url = options.cameraMotionUrlTemplates.find(m_cameraAddress);
  m_editCameraMotionUrl =
      Line(page, "cameraMotionUrl", url == options.cameraMotionUrlTemplates.end() ? std::string() : url->second,
           "the recorded video");
  m_gridMotionZones = new MotionZoneGrid(page);
  m_gridMotionZones->setObjectName("motionZones");
  const auto zones = options.cameraMotionZones.find(m_cameraAddress);
  if (zones != options.cameraMotionZones.end())
    if (const auto parsed = zent::ParseMotionZones(zones->second)) m_gridMotionZones->SetZones(*parsed);
  m_labelMotionPicture = Note(page, "No picture of the camera yet: log in, or record once, to see it here.");
  if (!m_cameraAddress.empty()) {
    form->addRow(QString("Motion stream of %1:").arg(Text(m_cameraAddress)), m_editCameraMotionUrl);
    form->addRow(QString("Watched zones of %1:").arg(Text(m_cameraAddress)), m_gridMotionZones);
    auto* all = new QPushButton("Watch all", page);
    auto* none = new QPushButton("Watch none", page);
    connect(all, &QPushButton::clicked, this, [this] { m_gridMotionZones->SetZones(zent::MotionZones().set()); });
    connect(none, &QPushButton::clicked, this, [this] { m_gridMotionZones->SetZones({}); });
    auto* row = new QHBoxLayout;
    row->addWidget(all);
    row->addWidget(none);
    row->addWidget(m_labelMotionPicture, 1);
    form->addRow(row);
  } else {
    m_editCameraMotionUrl->hide();
    m_gridMotionZones->hide();
    m_labelMotionPicture->hide();
  }
  form->addRow(Note(page,
                    "For cameras whose events are \"motion\". A change of the whole picture's light is not "
                    "motion; the shaded cells are not watched. A camera's small second stream, where it has "
                    "one (e.g. rtsp://{address}:554/stream2), costs less to watch than the recorded one; H.264 "
                    "from the recorded stream is looked at once per key frame."));
  return page;
}

void COptionsDlg::SetSnapshotSource(std::function<zent::Thumbnail()> take) {
  if (!take || m_cameraAddress.empty()) return;
  QPointer<COptionsDlg> self(this);
  std::thread([self, take = std::move(take)] {
    auto picture = std::make_shared<const zent::Thumbnail>(take());
    QMetaObject::invokeMethod(QCoreApplication::instance(), [self, picture] {
      if (!self || !picture->ok) return;
      const QImage image(picture->pixels.data(), picture->width, picture->height, picture->width * 4,
                         QImage::Format_RGB32);
      self->m_gridMotionZones->SetPicture(image.copy());
      self->m_labelMotionPicture->clear();
    });
  }).detach();
}

QWidget* COptionsDlg::DiskPage(const zent::Options& options) {
  auto* page = new QWidget(this);
  auto* form = new QFormLayout(page);
  m_spinDiskReserveMiB =
      Spin(page, "diskReserveMiB", 1 << 20, " MiB", static_cast<int>(options.diskReserveBytes >> 20));
  form->addRow("Free space kept on the recordings' disk:", m_spinDiskReserveMiB);
  m_checkDeleteOldest = new QCheckBox("Delete the oldest recordings when space runs low", page);
  m_checkDeleteOldest->setObjectName("deleteOldestRecordings");
  m_checkDeleteOldest->setChecked(options.deleteOldestRecordings);
  form->addRow(m_checkDeleteOldest);
  m_spinKeepDays = Spin(page, "keepDays", zent::kMaxKeepDays, " days", options.keepDays);
  m_spinKeepDays->setSpecialValueText("for ever");
  form->addRow("Keep recordings for:", m_spinKeepDays);
  return page;
}

QWidget* COptionsDlg::NotificationsPage(const zent::Options& options) {
  auto* page = new QWidget(this);
  auto* form = new QFormLayout(page);
  m_checkMqtt = new QCheckBox("Tell an MQTT broker of events, recordings and health", page);
  m_checkMqtt->setObjectName("mqttEnabled");
  m_checkMqtt->setChecked(options.mqttEnabled);
  form->addRow(m_checkMqtt);
  m_editMqttUrl = Line(page, "mqttUrl", options.mqttUrl, "mqtt://HOST:1883 or mqtts://HOST:8883");
  form->addRow("Broker:", m_editMqttUrl);
  m_editMqttPrefix = Line(page, "mqttPrefix", options.mqttPrefix, "zent");
  form->addRow("Topic prefix:", m_editMqttPrefix);
  m_editMqttClientId = Line(page, "mqttClientId", options.mqttClientId, "made from this computer's name");
  form->addRow("Client ID:", m_editMqttClientId);
  m_editMqttCaFile = Line(page, "mqttCaFile", options.mqttCaFile, "the system's certificates");
  form->addRow("CA file (mqtts):", m_editMqttCaFile);
  m_editMqttUser = Line(page, "mqttUser", {}, "none");
  form->addRow("Broker user:", m_editMqttUser);
  m_editMqttPassword = Line(page, "mqttPassword", {});
  m_editMqttPassword->setEchoMode(QLineEdit::Password);
  form->addRow("Broker password:", m_editMqttPassword);
  auto* brokerTest = new QPushButton("Send a test message", page);
  brokerTest->setObjectName("mqttTest");
  m_labelBrokerTest = new QLabel(page);
  m_labelBrokerTest->setObjectName("mqttTestResult");
  m_labelBrokerTest->setWordWrap(true);  // a long answer wraps rather than widen the dialog
  auto* brokerRow = new QHBoxLayout;
  brokerRow->addWidget(brokerTest);
  brokerRow->addWidget(m_labelBrokerTest, 1);
  form->addRow(brokerRow);
  connect(brokerTest, &QPushButton::clicked, this, &COptionsDlg::SendBrokerTest);

  QString webhooks;
  for (const std::string& url : options.webhookUrls) webhooks += Text(url) + "\n";
  m_editWebhooks = new QPlainTextEdit(webhooks, page);
  m_editWebhooks->setObjectName("webhookUrls");
  m_editWebhooks->setPlaceholderText(
      "https://… one URL a line; each event, recording and health message is POSTed as JSON");
  m_editWebhooks->setFixedHeight(64);
  form->addRow("Webhooks:", m_editWebhooks);
  auto* webhookTest = new QPushButton("Send a test message", page);
  webhookTest->setObjectName("webhookTest");
  m_labelWebhookTest = new QLabel(page);
  m_labelWebhookTest->setObjectName("webhookTestResult");
  m_labelWebhookTest->setWordWrap(true);
  auto* webhookRow = new QHBoxLayout;
  webhookRow->addWidget(webhookTest);
  webhookRow->addWidget(m_labelWebhookTest, 1);
  form->addRow(webhookRow);
  connect(webhookTest, &QPushButton::clicked, this, &COptionsDlg::SendWebhookTest);
  form->addRow(Note(page, "The broker's user and password are kept in the desktop's key ring."));

  // The stored login of the broker as the Options name it.
  zent::BrokerAddress broker;
  std::string error;
  if (m_keyRing.read && zent::ParseBrokerUrl(options.mqttUrl, broker, error)) {
    QPointer<COptionsDlg> self(this);
    m_keyRing.read(QString::fromStdString(broker.Key()), [self](std::optional<QString> secret, QString) {
      if (!self || !secret || !self->m_editMqttUser->text().isEmpty()) return;
      const BrokerLogin login = BrokerLogin::FromSecret(*secret);
      self->m_editMqttUser->setText(login.user);
      self->m_editMqttPassword->setText(login.password);
    });
  }
  return page;
}

std::vector<std::string> COptionsDlg::WebhookUrls() const {
  std::vector<std::string> urls;
  for (const QString& line : m_editWebhooks->toPlainText().split('\n'))
    if (!line.trimmed().isEmpty()) urls.push_back(Bytes(line));
  return urls;
}

BrokerLogin COptionsDlg::Login() const { return {m_editMqttUser->text(), m_editMqttPassword->text()}; }

void COptionsDlg::SendBrokerTest() {
  zent::MqttSettings settings;
  settings.url = Bytes(m_editMqttUrl->text());
  settings.prefix = m_editMqttPrefix->text().trimmed().isEmpty() ? "zent" : Bytes(m_editMqttPrefix->text());
  settings.clientId = Bytes(m_editMqttClientId->text());
  settings.caFile = Bytes(m_editMqttCaFile->text());
  settings.user = m_editMqttUser->text().toStdString();
  settings.password = m_editMqttPassword->text().toStdString();
  zent::BrokerAddress broker;
  std::string error;
  const QString shown = zent::ParseBrokerUrl(settings.url, broker, error) ? Text(broker.Shown()) : QString();
  RunTest(
      m_labelBrokerTest, [settings] { return zent::MqttPublisher::SendTest(settings, kTestTimeout); },
      "Arrived at " + shown + " (" + Text(settings.prefix) + "/test)");
}

void COptionsDlg::SendWebhookTest() {
  const std::vector<std::string> urls = WebhookUrls();
  if (urls.empty()) {
    m_labelWebhookTest->setText("No webhook to send to");
    return;
  }
  RunTest(
      m_labelWebhookTest,
      [urls] {
        std::string errors;
        for (const std::string& url : urls) {
          const std::string error = zent::WebhookSender::SendTest(url, kTestTimeout);
          if (!error.empty()) errors += (errors.empty() ? "" : "; ") + error;
        }
        return errors;
      },
      urls.size() == 1 ? "Arrived" : QString("Arrived at all %1").arg(urls.size()));
}

bool COptionsDlg::Check() {
  for (QLineEdit* box : {m_editVideoUrl, m_editCameraVideoUrl, m_editCameraMotionUrl}) {
    if (!LooksLikeVideoUrl(box->text().trimmed())) {
      m_tabs->setCurrentIndex(box == m_editCameraMotionUrl ? 2 : 0);
      ShowMessageBox(this, "A video URL starts with rtsp:// or http://, for example rtsp://{address}:{port}/stream1.",
                     "Options");
      box->setFocus();
      return false;
    }
  }
  if (!zent::ParseEventSource(Bytes(m_comboCameraEvents->currentText()))) {
    m_tabs->setCurrentIndex(0);
    ShowMessageBox(this, "A camera's events are camera, onvif, onvif:PORT, external or motion.", "Options");
    m_comboCameraEvents->setFocus();
    return false;
  }
  zent::BrokerAddress broker;
  std::string error;
  if (!m_editMqttUrl->text().trimmed().isEmpty() &&
      !zent::ParseBrokerUrl(Bytes(m_editMqttUrl->text()), broker, error)) {
    m_tabs->setCurrentIndex(4);
    ShowMessageBox(this, "The broker cannot be used: " + Text(error) + ".", "Options");
    m_editMqttUrl->setFocus();
    return false;
  }
  for (const std::string& url : WebhookUrls()) {
    if (!LooksLikeWebhookUrl(url)) {
      m_tabs->setCurrentIndex(4);
      ShowMessageBox(this, "A webhook's URL starts with http:// or https://.", "Options");
      m_editWebhooks->setFocus();
      return false;
    }
  }
  return true;
}

void COptionsDlg::accept() {
  if (!Check()) return;
  m_options.videoUrlTemplate = Bytes(m_editVideoUrl->text());
  m_options.preEventSeconds = m_spinPreEventSeconds->value();
  m_options.recordingContainer = m_comboContainer->currentData().toString().toStdString();
  m_options.relogin = m_checkRelogin->isChecked();
  m_options.diskReserveBytes = static_cast<std::int64_t>(m_spinDiskReserveMiB->value()) << 20;
  m_options.deleteOldestRecordings = m_checkDeleteOldest->isChecked();
  m_options.keepDays = m_spinKeepDays->value();
  m_options.memoryBudgetBytes = static_cast<std::int64_t>(m_spinMemoryMiB->value()) << 20;
  m_options.motionSensitivity = m_spinMotionSensitivity->value();
  m_options.motionMinAreaPercent = m_spinMotionMinArea->value();
  if (!m_cameraAddress.empty()) {
    m_options.cameraMotionUrlTemplates[m_cameraAddress] = Bytes(m_editCameraMotionUrl->text());
    const zent::MotionZones zones = m_gridMotionZones->Zones();
    m_options.cameraMotionZones[m_cameraAddress] = zones.all() ? std::string() : zent::MotionZonesText(zones);
    m_options.cameraVideoUrlTemplates[m_cameraAddress] = Bytes(m_editCameraVideoUrl->text());
    const std::string events = Bytes(m_comboCameraEvents->currentText());
    m_options.cameraEvents[m_cameraAddress] = events == "camera" ? std::string() : events;
  }
  m_options.mqttEnabled = m_checkMqtt->isChecked();
  m_options.mqttUrl = Bytes(m_editMqttUrl->text());
  m_options.mqttPrefix = m_editMqttPrefix->text().trimmed().isEmpty() ? "zent" : Bytes(m_editMqttPrefix->text());
  m_options.mqttClientId = Bytes(m_editMqttClientId->text());
  m_options.mqttCaFile = Bytes(m_editMqttCaFile->text());
  m_options.webhookUrls = WebhookUrls();
  QDialog::accept();
}

zent::Options COptionsDlg::Result() const { return m_options; }
