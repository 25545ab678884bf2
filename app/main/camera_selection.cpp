// Choosing a camera in the list, and showing or hiding the status window.

#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <algorithm>

#include "app/main/main_dlg.h"
#include "config/paths.h"
#include "config/profile_file.h"
#include "settings/documents_folder.h"

namespace {

constexpr int kNominalTitleBarHeight = 28;
constexpr int kMinBottomMargin = 6;

}  // namespace

void CMainDlg::OnSelchangeCamera() {
  const zent::ReadResult read = zent::ReadProfiles(zent::ConfigFilePath(zent::GetDocumentsFolder()), false);
  if (!read.opened) {
    m_dlgConfig.LoadDefaults();
    return;
  }
  const int s = m_comboCamera->currentIndex();
  if (s < 0 || s >= static_cast<int>(read.profiles.size())) return;
  m_currentProfile = read.profiles[static_cast<std::size_t>(s)];
  m_dlgConfig.LoadProfile(m_currentProfile);
}

void CMainDlg::OnExpand() { ToggleExpand(); }

void CMainDlg::ToggleExpand() {
  const QPoint topLeft = frameGeometry().topLeft();
  const QRect camera = m_comboCamera->geometry();
  const QRect configuration = GetDlgItem(IDC_CONFIGURATION)->geometry();
  const QRect status = m_listStatus->geometry();

  const int width = camera.width() + 30;
  int height;
  if (m_bCollapsed) {
    m_btnExpand->setText("<<");
    height = status.y() + status.height() + 35;
  } else {
    m_btnExpand->setText(">>");
    height = configuration.y() + configuration.height() + 35;
  }
  m_bCollapsed = m_bCollapsed ? 0 : 1;

  // The sizes are the whole window's, so the window manager's frame comes off the client area;
  // until the frame is known a common title bar stands in for it. Never cut into the controls.
  QSize frame = frameGeometry().size() - geometry().size();
  if (frame.height() <= 0) frame = QSize(0, kNominalTitleBarHeight);
  const int lowest = (m_bCollapsed ? configuration : status).bottom() + 1 + kMinBottomMargin;
  setFixedSize(width - frame.width(), std::max(height - frame.height(), lowest));
  move(topLeft);
}

void CMainDlg::AddCamera(const QString& address) { m_comboCamera->addItem(address); }

void CMainDlg::DeleteCamera(int index) {
  if (index >= 0 && index < m_comboCamera->count()) m_comboCamera->removeItem(index);
}

void CMainDlg::InsertCamera(int index, const QString& address) { m_comboCamera->insertItem(index, address); }

void CMainDlg::SelectCamera(int index) {
  // Like selecting by message: no selection-change handling follows.
  const QSignalBlocker quiet(m_comboCamera);
  m_comboCamera->setCurrentIndex(index);
}

int CMainDlg::SelectedCamera() const { return m_comboCamera->currentIndex(); }
