#pragma once
// Every receiver of the program's notices: the MQTT broker and the webhooks, as the Options and
// credentials say. The cameras' notifiers send into it for the whole run; a reload replaces the
// receivers behind it.

#include <functional>
#include <condition_variable>
#include <map>
#include <optional>
#include <thread>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "config/options.h"
#include "notify/mqtt_publisher.h"
#include "notify/webhook_sender.h"

namespace zent {

struct NotifySettings {
  bool mqttOn = false;
  MqttSettings mqtt;
  std::vector<std::string> webhooks;
  WebhookTimings webhookTimings;
  bool operator==(const NotifySettings&) const = default;
};

// The receivers the Options name, with the broker's user and password from where the program keeps
// them. A prefix that MQTT would read as a wildcard or an empty level is an error in `error`.
NotifySettings NotifySettingsFor(const Options& options, std::string user, std::string password, std::string& error);

class Notifications : public NoticeSink {
 public:
  using Say = std::function<void(const std::string&)>;  // from any thread
  explicit Notifications(Say say) : say_(std::move(say)) {}
  ~Notifications() override;  // waits for a configuration under way

  // Starts the receivers anew when the settings changed; returns what cannot work, one line each.
  // Waits for the broker's name to resolve and for the old receivers to say goodbye.
  std::vector<std::string> Configure(const NotifySettings& settings);
  // The same on a thread of its own, for a caller that must not wait (a window): the newest
  // settings win, and what cannot work is said through `say`.
  void ConfigureLater(const NotifySettings& settings);
  // The topic prefix of the settings last given.
  std::string Prefix();
  void Send(const Notice& notice) override;
  // Triggers from the broker (PREFIX/CAMERA/trigger) go here from now on; before Configure.
  void OnTrigger(MqttPublisher::Trigger trigger) { trigger_ = std::move(trigger); }

 private:
  void ConfigureInTurn();

  const Say say_;
  MqttPublisher::Trigger trigger_;
  std::mutex mutex_;
  std::string prefix_ = "zent";
  NotifySettings settings_;
  bool configured_ = false;
  std::unique_ptr<MqttPublisher> mqtt_;
  std::vector<std::unique_ptr<WebhookSender>> webhooks_;
  std::map<std::string, Notice> retained_;  // the last of each retained topic, for a new broker

  std::mutex laterMutex_;
  std::condition_variable laterWake_;
  std::optional<NotifySettings> later_;
  bool stopping_ = false;
  std::thread laterThread_;  // started by the first ConfigureLater
};

}  // namespace zent
