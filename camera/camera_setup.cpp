#include "camera/camera_setup.h"

#include <string.h>

#include "link/external_source.h"
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
                        "\", which is none of camera, onvif, onvif:PORT and external";
  setup.onvifTopics = options.onvifTopics;
  setup.preEventSeconds = options.preEventSeconds;
  setup.relogin = options.relogin;
  setup.diskGuard.reserveBytes = options.diskReserveBytes;
  setup.diskGuard.deleteOldest = options.deleteOldestRecordings;
  const RecordingsPlace place = PlaceOf(profile.savePath, profile.insertTime);
  setup.retention = {place.folder, place.stem, options.keepDays};
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

std::shared_ptr<EventSource> StartEventSource(const CameraSetup& setup, std::shared_ptr<SessionHost> host) {
  switch (setup.events.kind) {
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
