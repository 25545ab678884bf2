#pragma once
// What one camera is recorded with: its profile from the camera list, its credentials, and the
// Options that concern it. Two setups that compare equal need no restart on a reload.

#include <string>
#include <vector>

#include "config/camera_profile.h"
#include "config/event_source_choice.h"
#include "config/options.h"
#include "cycle/recording_cycle.h"
#include "link/event_session.h"
#include "link/event_source.h"
#include "motion/motion_source.h"
#include "onvif/onvif_session.h"
#include "record/disk_space.h"
#include "record/video_engine.h"
#include "record/video_source.h"

namespace zent {

// Overwrites the text's bytes, so that freeing it leaves no copy behind.
void WipeSecret(std::string& text);

struct CameraCredentials {
  std::string userId;
  std::string password;
  CameraCredentials() = default;
  CameraCredentials(std::string id, std::string pass) : userId(std::move(id)), password(std::move(pass)) {}
  CameraCredentials(const CameraCredentials&) = default;
  CameraCredentials& operator=(const CameraCredentials&) = default;
  // A password no longer needed does not stay in freed memory, where a core file would find it.
  ~CameraCredentials() { WipeSecret(password); }
  bool operator==(const CameraCredentials&) const = default;
};

struct CameraSetup {
  CameraProfile profile;
  CameraCredentials credentials;
  std::string videoUrlTemplate;
  EventSourceChoice events;
  std::string eventsError;  // the Options name a source that cannot work: not to be recorded
  std::vector<std::string> onvifTopics;
  MotionSettings motion;
  std::string motionUrlTemplate;            // a sub-stream to watch for motion; empty: the recorded stream
  std::string recordingExtension = ".avi";  // ".mp4" for MP4 recordings
  int preEventSeconds = 5;
  bool relogin = true;
  DiskGuard diskGuard;
  Retention retention;

  const std::string& Address() const { return profile.cameraAddress; }
  // Where the camera's video comes from, with the ID and password.
  VideoSource Video() const;
  // The same for the sub-stream watched for motion.
  VideoSource MotionVideo() const;
  bool operator==(const CameraSetup&) const = default;
};

// One camera as both programs record it: its profile, its credentials and the Options that concern
// it. Nothing is checked here; `BuildSetups` refuses what cannot be recorded.
CameraSetup DescribeCamera(const CameraProfile& profile, const CameraCredentials& credentials, const Options& options);
// The recording cycle's settings for the camera; the desktop adds its window's pauses.
CycleSettings CycleSettingsFor(const CameraSetup& setup);
// The event channel's settings for the camera: its address and private port, the ID and password,
// and whether a dropped session is to be logged in again.
SessionSettings SessionSettingsFor(const CameraSetup& setup);
// An ONVIF camera with no video URL in the Options: it is asked where its video is.
bool AskedOfTheCamera(const CameraSetup& setup);
// Starts the camera's source of events, as its setup chooses, reporting to `host`; null when no
// thread could be started. `feed` is the recorded stream, which motion is looked for in.
std::shared_ptr<EventSource> StartEventSource(const CameraSetup& setup, std::shared_ptr<SessionHost> host,
                                              std::shared_ptr<CameraFeed> feed = nullptr);
// What motion is looked for in, and how.
MotionSourceSettings MotionSourceSettingsFor(const CameraSetup& setup, std::shared_ptr<CameraFeed> feed);
// The ONVIF events' settings for the camera: its address, the device service's port, the ID and
// password, the topics, and whether to ask where its video is.
onvif::OnvifSettings OnvifSettingsFor(const CameraSetup& setup);
// Gives the video engine the camera: where its video comes from, the seconds kept before each
// event, the disk guard and the retention. Both programs' engines are set up here and nowhere else.
void ConfigureEngine(VideoEngine& engine, const CameraSetup& setup);

}  // namespace zent
