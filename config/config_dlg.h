#pragma once
// The configuration dialog: adds, modifies and deletes saved cameras.

#include <QDialog>
#include <cstdint>
#include <string>

class CConfigDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CConfigDlg(QWidget* parent = nullptr);

  // Members in the order the dialog declares them; texts are local 8-bit bytes like the profile.
  float m_spareReal = 0.0f;
  std::int32_t m_videoPort = 0;
  std::int32_t m_fileMinutes = 0;
  std::int32_t m_privatePort = 0;
  std::int32_t m_audioPort = 0;
  std::string m_saveFileName = "zent.avi";
  std::string m_logFileName = "zent_log.txt";
  int m_selection = -1;
  int m_insertTime = 1;
  std::string m_cameraAddress = "192.168.1.";
  std::string m_savePath = "/zent.avi";
  int m_enableSaving = 1;
  std::string m_privatePortText = "11000";
  std::string m_videoPortText = "8080";
  std::string m_fileMinutesText = "1";
  std::string m_audioPortText = "40008";
  int m_mode = 0;  // 0 no change chosen, 1 adding, 2 modifying
};
