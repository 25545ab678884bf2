// The Configuration button: the dialog runs on the selected camera, and after OK the selected
// profile is put in force.

#include <QAbstractItemView>
#include <QComboBox>

#include "app/main/default_profile.h"
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
      LoadProfileIntoConfigDlg(*p);
      m_dlgConfig.m_fileMinutesText = std::to_string(p->fileMinutes);
      m_dlgConfig.m_privatePortText = std::to_string(p->privatePort);
      m_dlgConfig.m_videoPortText = std::to_string(p->videoPort);
      m_dlgConfig.m_audioPortText = std::to_string(p->audioPort);
    }
  } else {
    LoadConfigDlgDefaults();
  }
  const int s0 = m_comboCamera->currentIndex();
  m_dlgConfig.m_selection = s0;

  if (m_dlgConfig.DoModal() != QDialog::Accepted) return;

  const zent::ReadResult after = zent::ReadProfiles(path, false);
  if (after.opened) {
    if (const zent::CameraProfile* p = ProfileAt(after, m_comboCamera->currentIndex())) {
      LoadProfileIntoConfigDlg(*p);
      const CConfigDlg& dlg = m_dlgConfig;
      currentProfile.savingEnabled = dlg.m_enableSaving;
      currentProfile.savePath = dlg.m_savePath;
      currentProfile.saveFileName = dlg.m_saveFileName;
      currentProfile.insertTime = dlg.m_insertTime;
      currentProfile.fileMinutes = dlg.m_fileMinutes;
      currentProfile.cameraAddress = dlg.m_cameraAddress;
      currentProfile.privatePort = dlg.m_privatePort;
      currentProfile.videoPort = dlg.m_videoPort;
      currentProfile.audioPort = dlg.m_audioPort;
      currentProfile.spareReal = dlg.m_spareReal;
      currentProfile.logFileName = dlg.m_logFileName;
      currentProfile.spareFlag = 1;
      currentProfile.logToFile = 0;
      currentProfile.logPeriod = 0;
      AddStatusLine("Configuration applied.");
    }
  } else {
    currentProfile = DefaultProfile();
  }
  if (s0 >= 0 && s0 < m_comboCamera->count())
    m_comboCamera->view()->scrollTo(m_comboCamera->model()->index(s0, 0), QAbstractItemView::PositionAtTop);
}
