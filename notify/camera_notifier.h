#pragma once
// Tells the world what one camera's recording cycle does: its events at once, its recordings,
// whether it is online, and what threatens its recordings. One per camera, on the thread that
// runs the camera's cycle; it only observes.

#include <chrono>
#include <cstdint>
#include <string>

#include "cycle/camera_status.h"
#include "cycle/recording_cycle.h"
#include "notify/notice.h"

namespace zent {

class CameraNotifier : public CycleObserver {
 public:
  // `sink` must outlive this object. `prefix` names the discovery messages' topics.
  CameraNotifier(NoticeSink& sink, const std::string& prefix, const std::string& cameraAddress);

  void OnCycleEvent(const CycleEvent& event) override;
  void OnVideoReport(const VideoReport& report) override;

  const std::string& Camera() const { return camera_; }

 private:
  // Says whether the camera is online, and why, when that or the reason changed.
  void SayState(const std::string& reason);

  NoticeSink& sink_;
  const std::string camera_;
  std::uint64_t sequence_ = 0;
  CameraStatus status_;
  bool online_ = false;
  bool stateSent_ = false;
  std::string reason_;
};

}  // namespace zent
