#pragma once
// Program-wide settings that the camera profile file has no field for. The desktop program keeps
// them with QSettings; the core only reads them.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace zent {

struct Options {
  // Where cameras serve their video ("rtsp://{address}:{port}/stream1"); empty: the built-in rule.
  std::string videoUrlTemplate;
  // The same for one camera address, where it differs from the others.
  std::map<std::string, std::string> cameraVideoUrlTemplates;
  // What starts each camera's recordings, by camera address (see event_source_choice.h); a camera
  // not named here, or named with an empty value, uses its own event channel.
  std::map<std::string, std::string> cameraEvents;
  // ONVIF topics that are events, as parts of a topic's name; empty: the usual motion and input ones.
  std::vector<std::string> onvifTopics;
  // Cameras whose source is "motion": how faint a change counts (1 to 10), how much of the
  // watched picture must change (percent), the watched cells of a 16 x 9 grid by camera address
  // (144 of "0" and "1", row by row; none named: all watched), and a small second stream to
  // watch instead of the recorded one, by camera address (a URL template like the video's).
  int motionSensitivity = 5;
  double motionMinAreaPercent = 1;
  std::map<std::string, std::string> cameraMotionZones;
  std::map<std::string, std::string> cameraMotionUrlTemplates;
  // The recordings' container: "avi" (the default) or "mp4" (fragmented while it records).
  std::string recordingContainer = "avi";
  // Seconds recorded before each event, 0 to 30.
  int preEventSeconds = 5;
  // Log in again by itself when the camera drops the session.
  bool relogin = true;
  // Free space kept on the recordings' disk; a recording does not start, or stops, below it.
  std::int64_t diskReserveBytes = std::int64_t{1} << 30;
  // Below the reserve, delete this program's oldest recordings of the camera before a recording.
  bool deleteOldestRecordings = false;
  // Recordings older than this many days are deleted (this program's names only); 0: kept for ever.
  int keepDays = 0;
  // The most a camera's recordings may take, in MiB (0: no limit), and the same by camera address;
  // past it, the camera's oldest are deleted.
  std::int64_t maxMiBPerCamera = 0;
  std::map<std::string, std::string> cameraMaxMiB;
  // Video held in memory by all cameras together (pre-event seconds, frames waiting for the disk);
  // 0: 1 GiB, or a quarter of the machine's memory where that is less.
  std::int64_t memoryBudgetBytes = 0;

  // Notices of events, recordings and health to an MQTT broker (its user and password are kept
  // elsewhere: the credentials file, the desktop's key ring) and to webhooks.
  bool mqttEnabled = false;
  std::string mqttUrl;  // mqtt://host:1883, mqtts://host:8883
  std::string mqttPrefix = "zent";
  std::string mqttClientId;  // empty: made from the host's name
  std::string mqttCaFile;    // mqtts: the broker's CA, else the system's
  std::vector<std::string> webhookUrls;

  // zent-recorder's web page: "ADDRESS:PORT" to serve it (empty: off), and TLS from these files.
  std::string webAddress;
  std::string webCertFile, webKeyFile;
  // /metrics and /healthz answer any request from this machine, without a log-in or token.
  bool webHealthFromLocalhost = false;

  bool operator==(const Options&) const = default;
};

inline constexpr int kMaxPreEventSeconds = 30;
inline constexpr int kMaxKeepDays = 3650;

// The extension of the recordings' names the Options ask for: ".mp4" or ".avi".
inline const char* RecordingExtension(const Options& options) {
  return options.recordingContainer == "mp4" ? ".mp4" : ".avi";
}

// The template for the camera at `address`: its own, else the one for all cameras, else empty.
std::string VideoUrlTemplateFor(const Options& options, const std::string& address);

}  // namespace zent
