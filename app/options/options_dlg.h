#pragma once
// The Options dialog: the program-wide settings that the camera profile file has no field for,
// grouped as Video, Recording, Motion, Disk and Notifications. The broker's user and password go to the
// key ring, never to the Options file.

#include <QDialog>
#include <functional>
#include <string>

#include "app/key_ring.h"
#include "config/options.h"
#include "record/thumbnail.h"

class MotionZoneGrid;
class QCheckBox;
class QDoubleSpinBox;
class QLabel;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;

class COptionsDlg : public QDialog {
  Q_OBJECT

 public:
  // `cameraAddress`: the camera selected in the main window, whose own settings the dialog shows
  // too; empty when none is. `keyRing` holds the broker's user and password.
  COptionsDlg(const zent::Options& options, const std::string& cameraAddress, KeyRing keyRing,
              QWidget* parent = nullptr);

  // The settings as the user left them; meaningful after the dialog was accepted.
  zent::Options Result() const;
  // The broker's user and password as the dialog shows them.
  BrokerLogin Login() const;
  // "Send a test message" of the broker or the webhooks; the answer comes into their labels.
  void SendBrokerTest();
  void SendWebhookTest();
  // Where the selected camera's picture comes from, for the grid of motion zones: called once, off
  // the GUI thread (it may decode or read the disk).
  void SetSnapshotSource(std::function<zent::Thumbnail()> take);

  void accept() override;

  QTabWidget* m_tabs = nullptr;
  QLabel* m_labelBrokerTest = nullptr;
  QLabel* m_labelWebhookTest = nullptr;

 private:
  QWidget* VideoPage(const zent::Options& options);
  QWidget* RecordingPage(const zent::Options& options);
  QWidget* MotionPage(const zent::Options& options);
  QWidget* DiskPage(const zent::Options& options);
  QWidget* NotificationsPage(const zent::Options& options);
  std::vector<std::string> WebhookUrls() const;
  bool Check();

  zent::Options m_options;
  std::string m_cameraAddress;
  KeyRing m_keyRing;
  QLineEdit* m_editVideoUrl = nullptr;
  QLineEdit* m_editCameraVideoUrl = nullptr;
  QComboBox* m_comboCameraEvents = nullptr;
  QSpinBox* m_spinMotionSensitivity = nullptr;
  QDoubleSpinBox* m_spinMotionMinArea = nullptr;
  QLineEdit* m_editCameraMotionUrl = nullptr;
  MotionZoneGrid* m_gridMotionZones = nullptr;
  QLabel* m_labelMotionPicture = nullptr;
  QComboBox* m_comboContainer = nullptr;
  QSpinBox* m_spinPreEventSeconds = nullptr;
  QCheckBox* m_checkRelogin = nullptr;
  QSpinBox* m_spinDiskReserveMiB = nullptr;
  QCheckBox* m_checkDeleteOldest = nullptr;
  QSpinBox* m_spinKeepDays = nullptr;
  QSpinBox* m_spinMemoryMiB = nullptr;
  QCheckBox* m_checkMqtt = nullptr;
  QLineEdit* m_editMqttUrl = nullptr;
  QLineEdit* m_editMqttPrefix = nullptr;
  QLineEdit* m_editMqttClientId = nullptr;
  QLineEdit* m_editMqttCaFile = nullptr;
  QLineEdit* m_editMqttUser = nullptr;
  QLineEdit* m_editMqttPassword = nullptr;
  QPlainTextEdit* m_editWebhooks = nullptr;
};
