#include "notify/notices.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>

namespace zent {
namespace {

using Json = nlohmann::json;

std::string Dump(const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace); }

Notice Message(const std::string& topic, const Json& json, bool retained = false) {
  return {topic, Dump(json), retained, true, false};
}

double Rounded(double value, double step) { return std::round(value / step) * step; }

std::int64_t FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

std::string TopicName(const std::string& cameraAddress) {
  std::string name;
  for (const char c : cameraAddress) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
    name += plain ? c : '_';
  }
  return name.empty() ? "camera" : name;
}

std::string IsoTime(std::chrono::system_clock::time_point at, bool milliseconds) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(at);
  const long millis =
      static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count() % 1000);
  std::tm local{};
  ::localtime_r(&seconds, &local);
  char date[32], zone[8];
  std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
  std::strftime(zone, sizeof zone, "%z", &local);  // +0100
  char fraction[8] = "";
  if (milliseconds) std::snprintf(fraction, sizeof fraction, ".%03ld", millis < 0 ? millis + 1000 : millis);
  char text[48];
  std::snprintf(text, sizeof text, "%s%s%.3s:%.2s", date, fraction, zone, zone + 3);
  return text;
}

Notice EventNotice(const std::string& camera, std::chrono::system_clock::time_point at, std::uint64_t sequence,
                   const EventOrigin& origin) {
  nlohmann::json fields{{"camera", camera}, {"time", IsoTime(at)}, {"sequence", sequence}, {"source", origin.source}};
  if (!origin.topic.empty()) fields["topic"] = origin.topic;
  if (!origin.item.empty()) fields["item"] = origin.item;
  if (!origin.reason.empty()) fields["reason"] = origin.reason;
  if (!origin.by.empty()) fields["by"] = origin.by;
  if (origin.area) fields["area"] = std::round(*origin.area * 10) / 10;
  return Message(camera + "/event", fields);
}

Notice StatusNotice(const std::string& camera, bool online, const std::string& reason,
                    std::chrono::system_clock::time_point since) {
  return Message(
      camera + "/status",
      {{"camera", camera}, {"state", online ? "online" : "offline"}, {"reason", reason}, {"since", IsoTime(since)}},
      true);
}

Notice MotionNotice(const std::string& camera, bool on) {
  return {camera + "/motion", on ? "ON" : "OFF", true, false, false};
}

std::vector<Notice> RecordingNotices(const std::string& camera, const VideoReport& report,
                                     std::chrono::system_clock::time_point at) {
  using Kind = VideoReport::Kind;
  Json json{{"camera", camera}, {"time", IsoTime(at)}, {"file", report.path}};
  switch (report.kind) {
    case Kind::RecordingStarted:
      json["state"] = "started";
      json["pre_event_seconds"] = Rounded(report.preEventSeconds, 0.001);
      break;
    case Kind::RecordingSaved:
      json["state"] = "saved";
      json["frames"] = report.frames;
      json["seconds"] = Rounded(report.seconds, 0.001);
      json["bytes"] = FileSize(report.path);
      // The first frame's place against the event: before it when negative.
      json["first_frame_offset_seconds"] = Rounded(-report.preEventSeconds, 0.001);
      json["text"] = report.text;
      break;
    case Kind::RecordingFailed:
      json["state"] = "refused";
      json["reason"] = report.text;
      break;
    default: return {};
  }
  return {Message(camera + "/recording", json, true)};
}

std::vector<Notice> HealthNotices(const std::string& camera, const VideoReport& report,
                                  std::chrono::system_clock::time_point at) {
  using Kind = VideoReport::Kind;
  const char* kind = nullptr;
  if (report.kind == Kind::RecordingDeleted)
    kind = StartsWith(report.text, "Deleted the oldest") ? "disk_made_room" : "retention_deleted";
  else if (report.kind == Kind::FramesDropped)
    kind = StartsWith(report.text, "Memory for buffered video full") ? "memory_full" : "memory_free";
  else if (StartsWith(report.text, "Disk almost full")) kind = "disk_low";
  else if (report.kind == Kind::RecordingFailed && !StartsWith(report.text, "Nothing saved")) kind = "write_failure";
  if (!kind) return {};
  Json json{{"camera", camera}, {"time", IsoTime(at)}, {"kind", kind}, {"text", report.text}};
  if (!report.path.empty()) json["file"] = report.path;
  return {Message("health", json)};
}

Notice NotRecordingNotice(const std::string& camera, bool down, const std::string& text,
                          std::chrono::system_clock::time_point at) {
  return Message("health", {{"camera", camera},
                            {"time", IsoTime(at)},
                            {"kind", down ? "not_recording" : "recording_again"},
                            {"text", text}});
}

Notice TestNotice(std::chrono::system_clock::time_point at) {
  return Message("test", {{"test", true}, {"time", IsoTime(at)}});
}

std::vector<Notice> DiscoveryNotices(const std::string& prefix, const std::string& camera,
                                     const std::string& cameraAddress) {
  const std::string base = prefix + "/" + camera;
  const Json device{{"identifiers", {"zent_" + camera}},
                    {"name", "Camera " + cameraAddress},
                    {"manufacturer", "ZENT Client"},
                    {"model", "Network camera"}};
  const Json availability = Json::array({{{"topic", prefix + "/available"}},
                                         {{"topic", base + "/status"}, {"value_template", "{{ value_json.state }}"}}});
  Json motion{{"name", "Motion"},
              {"unique_id", "zent_" + camera + "_motion"},
              {"object_id", "zent_" + camera + "_motion"},
              {"device_class", "motion"},
              {"state_topic", base + "/motion"},
              {"payload_on", "ON"},
              {"payload_off", "OFF"},
              {"availability", availability},
              {"availability_mode", "all"},
              {"device", device}};
  Json recording{{"name", "Last recording"},
                 {"unique_id", "zent_" + camera + "_recording"},
                 {"object_id", "zent_" + camera + "_recording"},
                 {"icon", "mdi:filmstrip"},
                 {"state_topic", base + "/recording"},
                 {"value_template", "{{ value_json.time }}"},
                 {"device_class", "timestamp"},
                 {"json_attributes_topic", base + "/recording"},
                 {"availability", availability},
                 {"availability_mode", "all"},
                 {"device", device}};
  // Anyone who may publish here may start recordings: the broker's ACL decides who that is.
  Json record{{"name", "Record now"},
              {"unique_id", "zent_" + camera + "_trigger"},
              {"object_id", "zent_" + camera + "_trigger"},
              {"icon", "mdi:record-rec"},
              {"command_topic", base + "/trigger"},
              {"payload_press", "Home Assistant"},
              {"availability", availability},
              {"availability_mode", "all"},
              {"device", device}};
  return {{"homeassistant/binary_sensor/zent_" + camera + "/motion/config", Dump(motion), true, false, true},
          {"homeassistant/sensor/zent_" + camera + "/recording/config", Dump(recording), true, false, true},
          {"homeassistant/button/zent_" + camera + "/trigger/config", Dump(record), true, false, true}};
}

}  // namespace zent
