#pragma once
// The messages a camera's cycle gives rise to, as JSON payloads with their topics.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "link/session_host.h"
#include "notify/notice.h"
#include "record/video_listener.h"

namespace zent {

// A camera's name in topics and ids: its address with every character that MQTT or Home
// Assistant would read as structure replaced, the same at every start.
std::string TopicName(const std::string& cameraAddress);

// "2026-12-07T22:14:21.123+01:00": local time with milliseconds (unless left out) and its zone.
std::string IsoTime(std::chrono::system_clock::time_point at, bool milliseconds = true);

Notice EventNotice(const std::string& camera, std::chrono::system_clock::time_point at, std::uint64_t sequence,
                   const EventOrigin& origin = {});
// "online" when the camera's event channel is logged in and its video arrives.
Notice StatusNotice(const std::string& camera, bool online, const std::string& reason,
                    std::chrono::system_clock::time_point since);
// The motion state Home Assistant shows: on at an event, off when its recording is over.
Notice MotionNotice(const std::string& camera, bool on);
// A recording begun, saved or refused, from the engine's report; none for other reports.
std::vector<Notice> RecordingNotices(const std::string& camera, const VideoReport& report,
                                     std::chrono::system_clock::time_point at);
// Disk low, a write failure, the memory budget reached, old recordings deleted.
std::vector<Notice> HealthNotices(const std::string& camera, const VideoReport& report,
                                  std::chrono::system_clock::time_point at);
// A camera stopped recording without being asked to (no video, its event channel down), or is back.
Notice NotRecordingNotice(const std::string& camera, bool down, const std::string& text,
                          std::chrono::system_clock::time_point at);
Notice TestNotice(std::chrono::system_clock::time_point at);

// Home Assistant's MQTT discovery: a device per camera with a motion binary sensor and a sensor of
// the last recording, both available while the program and the camera are.
std::vector<Notice> DiscoveryNotices(const std::string& prefix, const std::string& camera,
                                     const std::string& cameraAddress);

}  // namespace zent
