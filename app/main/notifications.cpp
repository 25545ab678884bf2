// The main window's notices to the world: the MQTT broker and the webhooks the Options name, told
// of the logged-in camera's cycle by a notifier among the cycle's observers.

#include <QCoreApplication>

#include "app/main/main_dlg.h"
#include "link/external_source.h"
#include "notify/broker_address.h"
#include "notify/notices.h"

void CMainDlg::OnTrigger(const std::string& camera, const std::string& payload) {
  if (!m_cycle->RecorderWanted() || camera != zent::TopicName(m_currentProfile.cameraAddress)) return;
  const zent::EventOrigin origin{"external", "", "", payload, "MQTT"};
  AddStatusLine(zent::TriggerLine(origin));
  OnEvent(origin);
}

void CMainDlg::ConfigureNotifications(std::optional<BrokerLogin> login) {
  if (!m_notifications) {
    std::weak_ptr<int> alive = m_alive;
    // From the senders' threads, never waiting for this one: it may be waiting for them.
    m_notifications = std::make_unique<zent::Notifications>([this, alive](const std::string& line) {
      QMetaObject::invokeMethod(QCoreApplication::instance(), [this, alive, line] {
        if (alive.lock()) AddStatusLine(line);
      });
    });
    // A trigger from the broker for the camera logged in here: an event like the camera's own.
    m_notifications->OnTrigger([this, alive](const std::string& camera, const std::string& payload) {
      QMetaObject::invokeMethod(QCoreApplication::instance(), [this, alive, camera, payload] {
        if (alive.lock()) OnTrigger(camera, payload);
      });
    });
  }
  zent::BrokerAddress broker;
  std::string error;
  const bool brokerNamed = m_options.mqttEnabled && zent::ParseBrokerUrl(m_options.mqttUrl, broker, error);
  if (!login && brokerNamed && m_services.keyRing.read) {
    // Answers later; the window may be gone by then.
    std::weak_ptr<int> alive = m_alive;
    m_services.keyRing.read(QString::fromStdString(broker.Key()),
                            [this, alive](std::optional<QString> secret, QString readError) {
                              if (!alive.lock()) return;
                              if (!readError.isEmpty())
                                AddStatusLine("The key ring cannot be read (" + readError.toStdString() +
                                              "): the MQTT broker is asked without a user and password");
                              ConfigureNotifications(secret ? BrokerLogin::FromSecret(*secret) : BrokerLogin{});
                            });
    return;
  }
  const BrokerLogin given = login.value_or(BrokerLogin{});
  const zent::NotifySettings settings =
      zent::NotifySettingsFor(m_options, given.user.toStdString(), given.password.toStdString(), error);
  if (!error.empty()) AddStatusLine(error);
  // Resolving the broker's name and the old receivers' goodbye are no work for the GUI thread.
  m_notifications->ConfigureLater(settings);
}
