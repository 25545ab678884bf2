// The Configuration button: the dialog runs on the selected camera, and after OK the selected
// profile is put in force.

#include <QAbstractItemView>
#include <QComboBox>

#include "app/config/default_profile.h"
#include "app/main/main_dlg.h"
#include "config/paths.h"
#include "config/profile_file.h"
#include "settings/documents_folder.h"

namespace {

const zent::CameraProfile* ProfileAt(const zent::ReadResult& read, int index) {
  if (index < 0 || index >= static_cast<int>(read.profiles.size())) return nullptr;
  return &read.profiles[static_cast<std::size_t>(index)];
}

}  // namespace

void CMainDlg::OnConfiguration() {
  UpdateData(true);
  const std::string path = zent::ConfigFilePath(zent::GetDocumentsFolder());
  const zent::ReadResult before = zent::ReadProfiles(path, false);
  if (before.opened) {
    if (const zent::CameraProfile* p = ProfileAt(before, m_comboCamera->currentIndex())) {
      m_dlgConfig.LoadProfile(*p, true);
    }
  } else {
    m_dlgConfig.LoadDefaults();
  }
  const int s0 = m_comboCamera->currentIndex();
  m_dlgConfig.m_selection = s0;

  if (m_dlgConfig.DoModal() != QDialog::Accepted) return;

  const zent::ReadResult after = zent::ReadProfiles(path, false);
  if (after.opened) {
    if (const zent::CameraProfile* p = ProfileAt(after, m_comboCamera->currentIndex())) {
      m_dlgConfig.LoadProfile(*p);
      // The profile as the dialog shows it, not as the file holds it: logging to a file stays off.
      const std::string logPath = m_currentProfile.logPath;
      m_currentProfile = m_dlgConfig.SavedProfile();
      m_currentProfile.logPath = logPath;
      AddStatusLine("Configuration applied.");
    }
  } else {
    m_currentProfile = DefaultProfile();
  }
  if (s0 >= 0 && s0 < m_comboCamera->count())
    m_comboCamera->view()->scrollTo(m_comboCamera->model()->index(s0, 0), QAbstractItemView::PositionAtTop);
}
