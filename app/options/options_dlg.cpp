#include "app/options/options_dlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

#include "app/message_box.h"
#include "record/memory_budget.h"

namespace {

QString Text(const std::string& bytes) { return QString::fromLocal8Bit(bytes); }
std::string Bytes(const QString& text) { return text.trimmed().toLocal8Bit().toStdString(); }

bool LooksLikeVideoUrl(const QString& url) {
  return url.isEmpty() || url.startsWith("rtsp://") || url.startsWith("http://") || url.startsWith("https://");
}

}  // namespace

COptionsDlg::COptionsDlg(const zent::Options& options, const std::string& cameraAddress, QWidget* parent)
    : QDialog(parent), m_options(options), m_cameraAddress(cameraAddress) {
  setObjectName("IDD_OPTIONS");
  setWindowTitle("Options");
  auto* form = new QFormLayout(this);

  m_editVideoUrl = new QLineEdit(Text(options.videoUrlTemplate), this);
  m_editVideoUrl->setObjectName("videoUrlTemplate");
  m_editVideoUrl->setPlaceholderText("http://{address}:{port}/  (rtsp:// on ports 554 and 8554)");
  m_editVideoUrl->setMinimumWidth(360);
  form->addRow("Video URL of every camera:", m_editVideoUrl);

  const auto own = options.cameraVideoUrlTemplates.find(cameraAddress);
  m_editCameraVideoUrl = new QLineEdit(own == options.cameraVideoUrlTemplates.end() ? QString() : Text(own->second), this);
  m_editCameraVideoUrl->setObjectName("cameraVideoUrlTemplate");
  m_editCameraVideoUrl->setPlaceholderText("as for every camera");
  if (!cameraAddress.empty()) form->addRow(QString("Video URL of %1:").arg(Text(cameraAddress)), m_editCameraVideoUrl);
  else m_editCameraVideoUrl->hide();

  m_spinPreEventSeconds = new QSpinBox(this);
  m_spinPreEventSeconds->setObjectName("preEventSeconds");
  m_spinPreEventSeconds->setRange(0, zent::kMaxPreEventSeconds);
  m_spinPreEventSeconds->setSuffix(" s");
  m_spinPreEventSeconds->setValue(options.preEventSeconds);
  form->addRow("Seconds recorded before each event:", m_spinPreEventSeconds);

  m_checkRelogin = new QCheckBox("Log in again when the camera drops the session", this);
  m_checkRelogin->setObjectName("relogin");
  m_checkRelogin->setChecked(options.relogin);
  form->addRow(m_checkRelogin);

  m_spinDiskReserveMiB = new QSpinBox(this);
  m_spinDiskReserveMiB->setObjectName("diskReserveMiB");
  m_spinDiskReserveMiB->setRange(0, 1 << 20);
  m_spinDiskReserveMiB->setSuffix(" MiB");
  m_spinDiskReserveMiB->setValue(static_cast<int>(options.diskReserveBytes >> 20));
  form->addRow("Free space kept on the recordings' disk:", m_spinDiskReserveMiB);
  m_checkDeleteOldest = new QCheckBox("Delete the oldest recordings when space runs low", this);
  m_checkDeleteOldest->setObjectName("deleteOldestRecordings");
  m_checkDeleteOldest->setChecked(options.deleteOldestRecordings);
  form->addRow(m_checkDeleteOldest);
  m_spinKeepDays = new QSpinBox(this);
  m_spinKeepDays->setObjectName("keepDays");
  m_spinKeepDays->setRange(0, zent::kMaxKeepDays);
  m_spinKeepDays->setSuffix(" days");
  m_spinKeepDays->setSpecialValueText("for ever");
  m_spinKeepDays->setValue(options.keepDays);
  form->addRow("Keep recordings for:", m_spinKeepDays);
  m_spinMemoryMiB = new QSpinBox(this);
  m_spinMemoryMiB->setObjectName("memoryBudgetMiB");
  m_spinMemoryMiB->setRange(0, 1 << 20);
  m_spinMemoryMiB->setSuffix(" MiB");
  m_spinMemoryMiB->setSpecialValueText(QString("automatic (%1 MiB)").arg(zent::DefaultMemoryBudget() >> 20));
  m_spinMemoryMiB->setValue(static_cast<int>(options.memoryBudgetBytes >> 20));
  form->addRow("Memory for buffered video:", m_spinMemoryMiB);

  auto* note = new QLabel(
      "{address} and {port} are the camera's address and video port from its profile; the ID and "
      "password typed in the main window are added. Changes take effect when the recorder is next "
      "prepared.",
      this);
  note->setWordWrap(true);
  form->addRow(note);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &COptionsDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &COptionsDlg::reject);
  form->addRow(buttons);
}

void COptionsDlg::accept() {
  for (QLineEdit* box : {m_editVideoUrl, m_editCameraVideoUrl}) {
    if (!LooksLikeVideoUrl(box->text().trimmed())) {
      ShowMessageBox(this, "A video URL starts with rtsp:// or http://, for example rtsp://{address}:{port}/stream1.",
                     "Options");
      box->setFocus();
      return;
    }
  }
  m_options.videoUrlTemplate = Bytes(m_editVideoUrl->text());
  m_options.preEventSeconds = m_spinPreEventSeconds->value();
  m_options.relogin = m_checkRelogin->isChecked();
  m_options.diskReserveBytes = static_cast<std::int64_t>(m_spinDiskReserveMiB->value()) << 20;
  m_options.deleteOldestRecordings = m_checkDeleteOldest->isChecked();
  m_options.keepDays = m_spinKeepDays->value();
  m_options.memoryBudgetBytes = static_cast<std::int64_t>(m_spinMemoryMiB->value()) << 20;
  if (!m_cameraAddress.empty()) m_options.cameraVideoUrlTemplates[m_cameraAddress] = Bytes(m_editCameraVideoUrl->text());
  QDialog::accept();
}

zent::Options COptionsDlg::Result() const { return m_options; }
