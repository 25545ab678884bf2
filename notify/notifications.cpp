#include "notify/notifications.h"

namespace zent {

NotifySettings NotifySettingsFor(const Options& options, std::string user, std::string password, std::string& error) {
  NotifySettings settings;
  settings.mqttOn = options.mqttEnabled && !options.mqttUrl.empty();
  settings.mqtt.url = options.mqttUrl;
  settings.mqtt.prefix = options.mqttPrefix.empty() ? "zent" : options.mqttPrefix;
  settings.mqtt.clientId = options.mqttClientId;
  settings.mqtt.caFile = options.mqttCaFile;
  settings.mqtt.user = std::move(user);
  settings.mqtt.password = std::move(password);
  settings.webhooks = options.webhookUrls;
  const std::string& prefix = settings.mqtt.prefix;
  if (prefix.find_first_of("+#") != std::string::npos || prefix.front() == '/' || prefix.back() == '/' ||
      prefix.find("//") != std::string::npos) {
    error = "The MQTT topic prefix \"" + prefix + "\" cannot be used: no '+', '#', or empty level";
    settings.mqttOn = false;
  }
  return settings;
}

Notifications::~Notifications() {
  {
    std::lock_guard lock(laterMutex_);
    stopping_ = true;
  }
  laterWake_.notify_all();
  if (laterThread_.joinable()) laterThread_.join();
}

std::string Notifications::Prefix() {
  std::lock_guard lock(mutex_);
  return prefix_;
}

void Notifications::ConfigureLater(const NotifySettings& settings) {
  {
    std::lock_guard lock(mutex_);
    prefix_ = settings.mqtt.prefix.empty() ? "zent" : settings.mqtt.prefix;  // for notifiers made meanwhile
  }
  {
    std::lock_guard lock(laterMutex_);
    later_ = settings;
    if (!laterThread_.joinable()) laterThread_ = std::thread([this] { ConfigureInTurn(); });
  }
  laterWake_.notify_one();
}

void Notifications::ConfigureInTurn() {
  for (;;) {
    NotifySettings settings;
    {
      std::unique_lock lock(laterMutex_);
      laterWake_.wait(lock, [this] { return stopping_ || later_; });
      if (stopping_) return;
      settings = std::move(*later_);
      later_.reset();
    }
    for (const std::string& problem : Configure(settings)) say_(problem);
  }
}

std::vector<std::string> Notifications::Configure(const NotifySettings& settings) {
  std::vector<std::string> errors;
  std::unique_ptr<MqttPublisher> oldMqtt;
  std::vector<std::unique_ptr<WebhookSender>> oldWebhooks;
  {
    std::lock_guard lock(mutex_);
    if (configured_ && settings == settings_) return errors;
    configured_ = true;
    settings_ = settings;
    prefix_ = settings.mqtt.prefix.empty() ? "zent" : settings.mqtt.prefix;
    oldMqtt = std::move(mqtt_);
    oldWebhooks = std::move(webhooks_);
  }
  // The old ones go outside the lock: saying "offline" may take a moment.
  oldMqtt.reset();
  oldWebhooks.clear();

  std::unique_ptr<MqttPublisher> mqtt;
  if (settings.mqttOn && !settings.mqtt.url.empty()) {
    MqttSettings mqttSettings = settings.mqtt;
    mqttSettings.prefix = prefix_;
    mqtt = std::make_unique<MqttPublisher>(mqttSettings, say_, trigger_);
    if (!mqtt->Error().empty()) {
      errors.push_back(mqtt->Error());
      mqtt.reset();
    }
  }
  std::vector<std::unique_ptr<WebhookSender>> webhooks;
  for (const std::string& url : settings.webhooks)
    if (!url.empty()) webhooks.push_back(std::make_unique<WebhookSender>(url, say_, settings.webhookTimings));
  std::lock_guard lock(mutex_);
  mqtt_ = std::move(mqtt);
  webhooks_ = std::move(webhooks);
  if (mqtt_)
    for (const auto& [topic, notice] : retained_) mqtt_->Send(notice);
  return errors;
}

void Notifications::Send(const Notice& notice) {
  std::lock_guard lock(mutex_);
  if (notice.retained) retained_[notice.topic] = notice;
  if (mqtt_) mqtt_->Send(notice);
  for (const auto& webhook : webhooks_) webhook->Send(notice);
}

}  // namespace zent
