#include "settings/options_store.h"

#include <QSettings>
#include <algorithm>

namespace zent {
namespace {

// Camera addresses as keys: QSettings treats '/' and '\' in a key as groups, so they are escaped.
QString AddressKey(const std::string& address) {
  return QString::fromLatin1(QByteArray::fromStdString(address).toPercentEncoding());
}
std::string AddressOfKey(const QString& key) { return QByteArray::fromPercentEncoding(key.toLatin1()).toStdString(); }

// A group of values by camera address, e.g. [cameraEvents].
std::map<std::string, std::string> LoadByCamera(QSettings& settings, const char* group) {
  std::map<std::string, std::string> values;
  settings.beginGroup(group);
  for (const QString& key : settings.childKeys())
    values[AddressOfKey(key)] = settings.value(key).toString().trimmed().toStdString();
  settings.endGroup();
  return values;
}

void SaveByCamera(QSettings& settings, const char* group, const std::map<std::string, std::string>& values) {
  settings.remove(group);
  settings.beginGroup(group);
  for (const auto& [address, value] : values)
    if (!value.empty()) settings.setValue(AddressKey(address), QString::fromStdString(value));
  settings.endGroup();
}

}  // namespace

Options LoadOptions() {
  QSettings settings(QSettings::IniFormat, QSettings::UserScope, "zent-client", "zent-client");
  Options options;
  options.videoUrlTemplate = settings.value("video/urlTemplate").toString().toStdString();
  options.preEventSeconds =
      std::clamp(settings.value("recording/preEventSeconds", options.preEventSeconds).toInt(), 0, kMaxPreEventSeconds);
  options.relogin = settings.value("session/relogin", options.relogin).toBool();
  options.recordingContainer =
      settings.value("recording/container").toString().trimmed().toLower() == "mp4" ? "mp4" : "avi";
  options.diskReserveBytes =
      std::max<qint64>(
          0, settings.value("disk/reserveMiB", static_cast<qint64>(options.diskReserveBytes >> 20)).toLongLong())
      << 20;
  options.deleteOldestRecordings = settings.value("disk/deleteOldest", options.deleteOldestRecordings).toBool();
  options.keepDays = std::clamp(settings.value("disk/keepDays", options.keepDays).toInt(), 0, kMaxKeepDays);
  options.maxMiBPerCamera = std::max<qint64>(0, settings.value("disk/maxMiBPerCamera", 0).toLongLong());
  options.cameraMaxMiB = LoadByCamera(settings, "cameraMaxMiB");
  options.memoryBudgetBytes = std::max<qint64>(0, settings.value("memory/budgetMiB", 0).toLongLong()) << 20;
  options.mqttUrl = settings.value("mqtt/url").toString().trimmed().toStdString();
  // A broker written in by a script is used unless it is switched off.
  options.mqttEnabled = settings.value("mqtt/enabled", !options.mqttUrl.empty()).toBool();
  options.mqttPrefix =
      settings.value("mqtt/prefix", QString::fromStdString(options.mqttPrefix)).toString().toStdString();
  options.mqttClientId = settings.value("mqtt/clientId").toString().toStdString();
  options.mqttCaFile = settings.value("mqtt/caFile").toString().toStdString();
  for (const QString& url : settings.value("webhooks/urls").toStringList())
    if (!url.trimmed().isEmpty()) options.webhookUrls.push_back(url.trimmed().toStdString());
  options.webAddress = settings.value("web/address").toString().trimmed().toStdString();
  options.webCertFile = settings.value("web/certFile").toString().toStdString();
  options.webKeyFile = settings.value("web/keyFile").toString().toStdString();
  options.webHealthFromLocalhost = settings.value("web/healthFromLocalhost", false).toBool();
  options.cameraVideoUrlTemplates = LoadByCamera(settings, "cameraVideoUrl");
  options.cameraEvents = LoadByCamera(settings, "cameraEvents");
  options.motionSensitivity =
      std::clamp(settings.value("motion/sensitivity", options.motionSensitivity).toInt(), 1, 10);
  options.motionMinAreaPercent =
      std::clamp(settings.value("motion/minAreaPercent", options.motionMinAreaPercent).toDouble(), 0.1, 100.0);
  options.cameraMotionZones = LoadByCamera(settings, "cameraMotionZones");
  options.cameraMotionUrlTemplates = LoadByCamera(settings, "cameraMotionUrl");
  for (const QString& topic : settings.value("onvif/topics").toStringList())
    if (!topic.trimmed().isEmpty()) options.onvifTopics.push_back(topic.trimmed().toStdString());
  return options;
}

bool SaveOptions(const Options& options) {
  QSettings settings(QSettings::IniFormat, QSettings::UserScope, "zent-client", "zent-client");
  settings.setValue("video/urlTemplate", QString::fromStdString(options.videoUrlTemplate));
  settings.setValue("recording/preEventSeconds", options.preEventSeconds);
  settings.setValue("session/relogin", options.relogin);
  settings.setValue("recording/container", QString::fromStdString(options.recordingContainer));
  settings.setValue("disk/reserveMiB", static_cast<qint64>(options.diskReserveBytes >> 20));
  settings.setValue("disk/deleteOldest", options.deleteOldestRecordings);
  settings.setValue("disk/keepDays", options.keepDays);
  settings.setValue("disk/maxMiBPerCamera", static_cast<qint64>(options.maxMiBPerCamera));
  SaveByCamera(settings, "cameraMaxMiB", options.cameraMaxMiB);
  settings.setValue("memory/budgetMiB", static_cast<qint64>(options.memoryBudgetBytes >> 20));
  settings.setValue("mqtt/enabled", options.mqttEnabled);
  settings.setValue("mqtt/url", QString::fromStdString(options.mqttUrl));
  settings.setValue("mqtt/prefix", QString::fromStdString(options.mqttPrefix));
  settings.setValue("mqtt/clientId", QString::fromStdString(options.mqttClientId));
  settings.setValue("mqtt/caFile", QString::fromStdString(options.mqttCaFile));
  QStringList webhooks;
  for (const std::string& url : options.webhookUrls) webhooks.push_back(QString::fromStdString(url));
  settings.setValue("webhooks/urls", webhooks);
  if (!options.webAddress.empty()) settings.setValue("web/address", QString::fromStdString(options.webAddress));
  if (!options.webCertFile.empty()) settings.setValue("web/certFile", QString::fromStdString(options.webCertFile));
  if (!options.webKeyFile.empty()) settings.setValue("web/keyFile", QString::fromStdString(options.webKeyFile));
  if (options.webHealthFromLocalhost) settings.setValue("web/healthFromLocalhost", true);
  SaveByCamera(settings, "cameraVideoUrl", options.cameraVideoUrlTemplates);
  SaveByCamera(settings, "cameraEvents", options.cameraEvents);
  settings.setValue("motion/sensitivity", options.motionSensitivity);
  settings.setValue("motion/minAreaPercent", options.motionMinAreaPercent);
  SaveByCamera(settings, "cameraMotionZones", options.cameraMotionZones);
  SaveByCamera(settings, "cameraMotionUrl", options.cameraMotionUrlTemplates);
  if (!options.onvifTopics.empty()) {
    QStringList topics;
    for (const std::string& topic : options.onvifTopics) topics.push_back(QString::fromStdString(topic));
    settings.setValue("onvif/topics", topics);
  }
  settings.sync();
  return settings.status() == QSettings::NoError;
}

}  // namespace zent
