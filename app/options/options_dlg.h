#pragma once
// The Options dialog: the program-wide settings that the camera profile file has no field for.

#include <QDialog>
#include <string>

#include "config/options.h"

class QCheckBox;
class QLineEdit;
class QSpinBox;

class COptionsDlg : public QDialog {
  Q_OBJECT

 public:
  // `cameraAddress`: the camera selected in the main window, whose own settings the dialog shows
  // too; empty when none is.
  COptionsDlg(const zent::Options& options, const std::string& cameraAddress, QWidget* parent = nullptr);

  // The settings as the user left them; meaningful after the dialog was accepted.
  zent::Options Result() const;

  void accept() override;

 private:
  zent::Options m_options;
  std::string m_cameraAddress;
  QLineEdit* m_editVideoUrl = nullptr;
  QLineEdit* m_editCameraVideoUrl = nullptr;
  QSpinBox* m_spinPreEventSeconds = nullptr;
  QCheckBox* m_checkRelogin = nullptr;
  QSpinBox* m_spinDiskReserveMiB = nullptr;
  QCheckBox* m_checkDeleteOldest = nullptr;
  QSpinBox* m_spinKeepDays = nullptr;
  QSpinBox* m_spinMemoryMiB = nullptr;
};
