#pragma once
// Every receiver of the program's notices: the MQTT broker and the webhooks, as the Options and
// credentials say. The cameras' notifiers send into it for the whole run; a reload replaces the
// receivers behind it.

#include <functional>
#include <map>
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
  bool operator==(const NotifySettings& other) const;
};

// The receivers the Options name, with the broker's user and password from where the program keeps
// them. A prefix that MQTT would read as a wildcard or an empty level is an error in `error`.
NotifySettings NotifySettingsFor(const Options& options, std::string user, std::string password, std::string& error);

class Notifications : public NoticeSink {
 public:
  using Say = std::function<void(const std::string&)>;  // from any thread
  explicit Notifications(Say say) : say_(std::move(say)) {}

  // Starts the receivers anew when the settings changed; returns what cannot work, one line each.
  std::vector<std::string> Configure(const NotifySettings& settings);
  const std::string& Prefix() const { return prefix_; }
  void Send(const Notice& notice) override;

 private:
  const Say say_;
  std::string prefix_ = "zent";  // set before any camera's notifier is made
  std::mutex mutex_;
  NotifySettings settings_;
  bool configured_ = false;
  std::unique_ptr<MqttPublisher> mqtt_;
  std::vector<std::unique_ptr<WebhookSender>> webhooks_;
  std::map<std::string, Notice> retained_;  // the last of each retained topic, for a new broker
};

}  // namespace zent
