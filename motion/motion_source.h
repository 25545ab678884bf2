#pragma once
// A camera whose recordings start at motion in its picture. It reads the video the camera's
// engine already receives (never a second connection to it), or a small sub-stream of the
// camera's when one is named; either way nothing is decoded for cameras with another source.
// There is nothing to log in to: the source says what it watches and hands the recorder over.

#include <atomic>
#include <memory>
#include <string>

#include "link/event_source.h"
#include "link/session_host.h"
#include "motion/motion_detector.h"
#include "motion/motion_pictures.h"

namespace zent {

class CameraFeed;
class LiveViewer;

struct MotionSourceSettings {
  MotionSettings detection;
  std::shared_ptr<CameraFeed> feed;  // the recorded stream; used when there is no sub-stream
  std::string subStreamUrl;          // with the ID and password; empty: the feed
  std::string subStreamLabel;        // the same without them, for the status lines
};

// "Motion detected (12 % of the picture)"
std::string MotionLine(double area);

class MotionSource : public EventSource {
 public:
  // Null when no thread could be started.
  static std::shared_ptr<MotionSource> Start(MotionSourceSettings settings, std::shared_ptr<SessionHost> host);

 private:
  MotionSource(MotionSourceSettings settings, std::shared_ptr<SessionHost> host);
  void Body() override;
  void OnStop() override;
  void WatchFeed();
  void WatchSubStream();
  void Look(const AVPacket& packet, const AVCodecParameters& parameters, MotionPictures::Clock::time_point at);
  static int Interrupt(void* source);

  const MotionSourceSettings settings_;
  const std::shared_ptr<SessionHost> host_;
  MotionDetector detector_;
  MotionPictures pictures_;
  std::shared_ptr<LiveViewer> viewer_;       // guarded by mutex_
  std::atomic<std::int64_t> ioDeadline_{0};  // steady clock, ns: a sub-stream read that takes longer ends
};

}  // namespace zent
