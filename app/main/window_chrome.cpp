// The main window's chrome: its menu with the About box and the Options, and the colours of its
// list boxes.

#include <QAbstractItemView>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QMenu>

#include "app/about_dlg.h"
#include "app/main/main_dlg.h"
#include "app/message_box.h"
#include "app/options/options_dlg.h"
#include "notify/broker_address.h"
#include "app/recordings/recordings_dlg.h"
#include "record/memory_budget.h"
#include "record/picture_jpeg.h"
#include "record/recording_catalog.h"
#include "settings/options_store.h"

void CMainDlg::OnAboutBox() {
  CAboutDlg about(this);
  about.exec();
}

void CMainDlg::OnRecordings() {
  if (m_recordingsDlg) {
    m_recordingsDlg->raise();
    m_recordingsDlg->activateWindow();
    return;
  }
  m_recordingsDlg = new CRecordingsDlg(QString::fromLocal8Bit(m_currentProfile.savePath), m_options.preEventSeconds,
                                       QString::fromLocal8Bit(m_recordingNow), m_services, this);
  m_recordingsDlg->setAttribute(Qt::WA_DeleteOnClose);
  m_recordingsDlg->show();
}

void CMainDlg::VideoReported(const zent::VideoReport& report) {
  if (zent::IsStatusReport(report)) AddStatusLine(report.text);
  m_cycle->VideoReported(report);
  const zent::FileEffect effect = zent::FileEffectOf(report);
  if (effect == zent::FileEffect::None) return;
  if (effect == zent::FileEffect::Started) m_recordingNow = report.path;
  else if (report.path == m_recordingNow) m_recordingNow.clear();
  if (!m_recordingsDlg) return;
  const QString file = QString::fromLocal8Bit(report.path);
  switch (effect) {
    case zent::FileEffect::Started: m_recordingsDlg->RecordingStarted(file); break;
    case zent::FileEffect::Saved: m_recordingsDlg->RecordingSaved(file); break;
    case zent::FileEffect::Removed: m_recordingsDlg->RecordingRemoved(file); break;
    case zent::FileEffect::None: break;
  }
}

void CMainDlg::OnOptions() {
  const int selected = m_comboCamera->currentIndex();
  const std::string address = selected >= 0 ? m_currentProfile.cameraAddress : std::string();
  COptionsDlg dialog(m_options, address, m_services.keyRing, this);
  if (!address.empty()) {
    // The camera's picture under the motion zones: its live stream while it is watched for
    // motion, else its newest recording.
    std::shared_ptr<zent::CameraFeed> feed = m_motionFeed;
    const zent::RecordingsPlace place = zent::PlaceOf(m_currentProfile.savePath, m_currentProfile.insertTime);
    dialog.SetSnapshotSource([feed, place] {
      constexpr int kWidth = 384, kHeight = 216;
      if (feed)
        if (zent::Thumbnail live = zent::SnapshotPicture(feed->Held(), kWidth, kHeight); live.ok) return live;
      zent::RecordingCatalog catalog;
      const zent::CatalogListing listing = catalog.Listing(place);
      if (!listing || listing->empty()) return zent::Thumbnail{};
      const auto file = catalog.Find(place, listing->front().tail);
      return file ? zent::MakeThumbnail(file->path, 1.0, kWidth, kHeight) : zent::Thumbnail{};
    });
  }
  if (dialog.exec() != QDialog::Accepted) return;
  m_options = dialog.Result();
  const BrokerLogin login = dialog.Login();
  zent::BrokerAddress broker;
  std::string error;
  if (m_options.mqttEnabled && zent::ParseBrokerUrl(m_options.mqttUrl, broker, error) && m_services.keyRing.write) {
    std::weak_ptr<int> alive = m_alive;
    m_services.keyRing.write(QString::fromStdString(broker.Key()), login.Secret(), [this, alive](QString writeError) {
      if (alive.lock() && !writeError.isEmpty())
        AddStatusLine("The broker's user and password could not be kept in the key ring: " + writeError.toStdString());
    });
  }
  ConfigureNotifications(login);
  zent::MemoryBudget::Process().SetLimit(zent::MemoryBudgetFor(m_options.memoryBudgetBytes));
  if (!zent::SaveOptions(m_options))
    ShowMessageBox(this, "The options are in force but could not be saved for the next start.", "Error!");
}

// Linux window managers give a program no system menu of its own, so the window's context menu
// takes its place.
void CMainDlg::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  FillSystemMenu(menu);
  menu.exec(event->globalPos());
}

void CMainDlg::FillSystemMenu(QMenu& menu) {
  menu.setObjectName("SystemMenu");
  menu.addAction("Mi&nimize", this, &QWidget::showMinimized);
  menu.addAction("&Close", this, &QWidget::close);
  if (!m_strAboutMenu.isEmpty()) {
    menu.addSeparator();
    QAction* about = menu.addAction(m_strAboutMenu, this, &CMainDlg::OnAboutBox);
    about->setData(IDM_ABOUTBOX);
  }
  menu.addAction("&Recordings...", this, &CMainDlg::OnRecordings);
  menu.addAction("&Options...", this, &CMainDlg::OnOptions);
}

void CMainDlg::OnCtlColor(QWidget* control) {
  auto* list = qobject_cast<QAbstractItemView*>(control);
  if (!list) return;
  QPalette palette = list->palette();
  palette.setBrush(QPalette::Base, m_hBrush);
  palette.setColor(QPalette::Text, Qt::white);
  list->setPalette(palette);
}
