#pragma once
// Every camera the headless recorder records, each on its own CameraRecorder. A reload starts
// the cameras added, stops those removed and restarts those whose setup changed; the others
// are not touched.

#include <functional>
#include <mutex>
#include <memory>
#include <string>
#include <vector>

#include "service/camera_recorder.h"

namespace zent {

class RecorderService {
 public:
  // What observes each camera's cycle (notices to the world), made as each camera starts.
  using ObserverFactory = std::function<std::vector<std::unique_ptr<CycleObserver>>(const CameraSetup&)>;

  // `feeds`, when given, receive each camera's stream for live viewers; it must outlive this object.
  explicit RecorderService(StatusOutput& output, RecorderTuning tuning = {}, ObserverFactory observers = {},
                           CameraFeeds* feeds = nullptr);
  ~RecorderService();  // StopAll

  void Apply(const std::vector<CameraSetup>& cameras);
  // Stops every camera at once, closing open recordings with their index; returns when all are done.
  void StopAll();
  std::vector<std::string> Addresses() const;
  // An event from outside for the camera at `address`, from any thread; false when there is none.
  bool Trigger(const std::string& address, const EventOrigin& origin);

 private:
  struct Camera {
    std::vector<std::unique_ptr<CycleObserver>> observers;  // outlive the recorder
    std::unique_ptr<CameraRecorder> recorder;
  };
  static void Stop(std::vector<Camera> cameras);

  StatusOutput& output_;
  const RecorderTuning tuning_;
  const ObserverFactory makeObservers_;
  CameraFeeds* const feeds_;
  mutable std::mutex mutex_;  // cameras_, which triggers from other threads read
  std::vector<Camera> cameras_;
};

}  // namespace zent
