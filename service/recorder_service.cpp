#include "service/recorder_service.h"

#include <algorithm>

namespace zent {

RecorderService::RecorderService(StatusOutput& output, RecorderTuning tuning, ObserverFactory observers,
                                 CameraFeeds* feeds)
    : output_(output), tuning_(std::move(tuning)), makeObservers_(std::move(observers)), feeds_(feeds) {}

RecorderService::~RecorderService() { StopAll(); }

void RecorderService::Apply(const std::vector<CameraSetup>& cameras) {
  std::vector<Camera> leaving;
  std::vector<Camera> staying;
  std::vector<Camera> current;
  {
    std::lock_guard lock(mutex_);
    current = std::move(cameras_);
    cameras_.clear();
  }
  for (auto& camera : current) {
    const bool unchanged = std::find(cameras.begin(), cameras.end(), camera.recorder->Setup()) != cameras.end();
    (unchanged ? staying : leaving).push_back(std::move(camera));
  }
  for (const auto& camera : leaving)
    output_.Line(camera.recorder->Setup().Address(), LogSettingsOf(camera.recorder->Setup().profile),
                 "Stopping: this camera left the camera list or its settings changed.");
  // Stopped before their successors start, so one camera never has two sessions at once.
  Stop(std::move(leaving));
  std::vector<Camera> next;
  for (const CameraSetup& setup : cameras) {
    const auto kept = std::find_if(staying.begin(), staying.end(), [&](const Camera& camera) {
      return camera.recorder && camera.recorder->Setup() == setup;
    });
    if (kept != staying.end()) {
      next.push_back(std::move(*kept));
      continue;
    }
    Camera camera;
    if (makeObservers_) camera.observers = makeObservers_(setup);
    std::vector<CycleObserver*> observers;
    for (const auto& observer : camera.observers) observers.push_back(observer.get());
    camera.recorder = std::make_unique<CameraRecorder>(setup, output_, tuning_, observers,
                                                       feeds_ ? feeds_->For(setup.Address()) : nullptr);
    next.push_back(std::move(camera));
  }
  std::lock_guard lock(mutex_);
  cameras_ = std::move(next);
}

void RecorderService::StopAll() {
  std::vector<Camera> all;
  {
    std::lock_guard lock(mutex_);
    all = std::move(cameras_);
    cameras_.clear();
  }
  Stop(std::move(all));
}

bool RecorderService::Trigger(const std::string& address, const EventOrigin& origin) {
  std::lock_guard lock(mutex_);
  for (const auto& camera : cameras_) {
    if (camera.recorder->Setup().Address() != address) continue;
    camera.recorder->Trigger(origin);
    return true;
  }
  return false;
}

void RecorderService::Stop(std::vector<Camera> cameras) {
  for (auto& camera : cameras) camera.recorder->RequestStop();
  for (auto& camera : cameras) camera.recorder->Join();
  for (auto& camera : cameras) camera.recorder.reset();  // before the observers it tells
}

std::vector<std::string> RecorderService::Addresses() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> addresses;
  for (const auto& camera : cameras_) addresses.push_back(camera.recorder->Setup().Address());
  return addresses;
}

}  // namespace zent
