#include "camera/camera_setup.h"

#include <string.h>

#include "link/external_source.h"
#include "record/ffmpeg_limits.h"
#include "record/recording_name.h"

namespace zent {

void WipeSecret(std::string& text) {
  if (!text.empty()) explicit_bzero(text.data(), text.size());
}

VideoSource CameraSetup::Video() const {
  VideoSource source;
  source.address = Address();
  source.port = profile.videoPort;
  source.user = credentials.userId;
  source.password = credentials.password;
  source.urlTemplate = videoUrlTemplate;
  return source;
}

VideoSource CameraSetup::MotionVideo() const {
  VideoSource source = Video();
  source.urlTemplate = motionUrlTemplate;
  return source;
}

namespace {

std::string ValueFor(const std::map<std::string, std::string>& values, const std::string& address) {
  const auto found = values.find(address);
  return found == values.end() ? std::string() : found->second;
}

// The camera's own size limit where the Options give one it can read, else the one for all.
std::int64_t MaxBytesFor(const Options& options, const std::string& address) {
  std::int64_t mebibytes = options.maxMiBPerCamera;
  const std::string own = ValueFor(options.cameraMaxMiB, address);
  if (!own.empty() && own.size() < 12 && own.find_first_not_of("0123456789") == std::string::npos)
    mebibytes = std::stoll(own);
  return mebibytes << 20;
}

// A camera that re-fires while the scene moves gives one event per recording; motion does the same.
constexpr int kDefaultRefireMinutes = 10;

void DescribeMotion(CameraSetup& setup, const Options& options) {
  const std::string& address = setup.Address();
  setup.motion.sensitivity = options.motionSensitivity;
  setup.motion.minAreaPercent = options.motionMinAreaPercent;
  setup.motion.refireAfter =
      std::chrono::minutes(setup.profile.fileMinutes > 0 ? setup.profile.fileMinutes : kDefaultRefireMinutes);
  if (setup.events.kind != EventSourceChoice::Kind::Motion || !setup.eventsError.empty()) return;
  const std::string zones = ValueFor(options.cameraMotionZones, address);
  if (const auto parsed = ParseMotionZones(zones)) setup.motion.zones = *parsed;
  else setup.eventsError = "The motion zones of camera " + address + " are not 144 cells of 0 and 1";
  setup.motionUrlTemplate = ValueFor(options.cameraMotionUrlTemplates, address);
  if (setup.motionUrlTemplate.empty()) return;
  // The camera's password goes to the camera only.
  const std::string host = UrlHost(SourceUrl(setup.MotionVideo()));
  std::string lowerAddress = address;
  for (char& c : lowerAddress) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (host != lowerAddress)
    setup.eventsError = "The motion stream of camera " + address + " is on another host (" + host +
                        "); only the camera's own address is used";
}

}  // namespace

CameraSetup DescribeCamera(const CameraProfile& profile, const CameraCredentials& credentials, const Options& options) {
  CameraSetup setup;
  setup.profile = profile;
  setup.credentials = credentials;
  setup.videoUrlTemplate = VideoUrlTemplateFor(options, profile.cameraAddress);
  const auto events = options.cameraEvents.find(profile.cameraAddress);
  const std::string eventsText = events == options.cameraEvents.end() ? std::string() : events->second;
  if (const auto choice = ParseEventSource(eventsText)) setup.events = *choice;
  else
    setup.eventsError = "The events of camera " + profile.cameraAddress + " are \"" + eventsText +
                        "\", which is none of camera, onvif, onvif:PORT, external and motion";
  setup.onvifTopics = options.onvifTopics;
  DescribeMotion(setup, options);
  setup.preEventSeconds = options.preEventSeconds;
  setup.recordingExtension = RecordingExtension(options);
  setup.relogin = options.relogin;
  setup.diskGuard.reserveBytes = options.diskReserveBytes;
  setup.diskGuard.deleteOldest = options.deleteOldestRecordings;
  const RecordingsPlace place = PlaceOf(profile.savePath, profile.insertTime);
  setup.retention = {place.folder, place.stem, options.keepDays, MaxBytesFor(options, profile.cameraAddress)};
  return setup;
}

CycleSettings CycleSettingsFor(const CameraSetup& setup) {
  CycleSettings settings;
  settings.fileMinutes = setup.profile.fileMinutes;
  settings.relogin = setup.relogin;
  return settings;
}

onvif::OnvifSettings OnvifSettingsFor(const CameraSetup& setup) {
  onvif::OnvifSettings settings;
  settings.address = setup.Address();
  settings.port = setup.events.port;
  settings.user = setup.credentials.userId;
  settings.password = setup.credentials.password;
  settings.askVideo = AskedOfTheCamera(setup);
  settings.topics = setup.onvifTopics;
  return settings;
}

SessionSettings SessionSettingsFor(const CameraSetup& setup) {
  SessionSettings settings;
  settings.cameraAddress = setup.Address();
  settings.privatePort = setup.profile.privatePort;
  settings.userId = setup.credentials.userId;
  settings.password = setup.credentials.password;
  return settings;
}

bool AskedOfTheCamera(const CameraSetup& setup) {
  return setup.events.kind == EventSourceChoice::Kind::Onvif && setup.videoUrlTemplate.empty();
}

MotionSourceSettings MotionSourceSettingsFor(const CameraSetup& setup, std::shared_ptr<CameraFeed> feed) {
  MotionSourceSettings settings;
  settings.detection = setup.motion;
  settings.feed = std::move(feed);
  if (!setup.motionUrlTemplate.empty()) {
    settings.subStreamUrl = SourceUrl(setup.MotionVideo());
    settings.subStreamLabel = UrlWithoutCredentials(settings.subStreamUrl);
  }
  return settings;
}

std::shared_ptr<EventSource> StartEventSource(const CameraSetup& setup, std::shared_ptr<SessionHost> host,
                                              std::shared_ptr<CameraFeed> feed) {
  switch (setup.events.kind) {
    case EventSourceChoice::Kind::Motion:
      return MotionSource::Start(MotionSourceSettingsFor(setup, std::move(feed)), std::move(host));
    case EventSourceChoice::Kind::External: return ExternalSource::Start(std::move(host));
    case EventSourceChoice::Kind::Onvif: return onvif::OnvifSession::Start(OnvifSettingsFor(setup), std::move(host));
    case EventSourceChoice::Kind::Camera: break;
  }
  return EventSession::Start(SessionSettingsFor(setup), std::move(host));
}

void ConfigureEngine(VideoEngine& engine, const CameraSetup& setup) {
  engine.SetSource(setup.Video());
  engine.SetPreEventSeconds(setup.preEventSeconds);
  engine.SetDiskGuard(setup.diskGuard);
  engine.SetRetention(setup.retention);
}

}  // namespace zent
