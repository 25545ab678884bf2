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
  for (auto& camera : cameras_) {
    const bool unchanged = std::find(cameras.begin(), cameras.end(), camera.recorder->Setup()) != cameras.end();
    (unchanged ? staying : leaving).push_back(std::move(camera));
  }
  for (const auto& camera : leaving)
    output_.Line(camera.recorder->Setup().Address(), LogSettingsOf(camera.recorder->Setup().profile),
                 "Stopping: this camera left the camera list or its settings changed.");
  // Stopped before their successors start, so one camera never has two sessions at once.
  Stop(std::move(leaving));
  cameras_.clear();
  for (const CameraSetup& setup : cameras) {
    const auto kept = std::find_if(staying.begin(), staying.end(), [&](const Camera& camera) {
      return camera.recorder && camera.recorder->Setup() == setup;
    });
    if (kept != staying.end()) {
      cameras_.push_back(std::move(*kept));
      continue;
    }
    Camera camera;
    if (makeObservers_) camera.observers = makeObservers_(setup);
    std::vector<CycleObserver*> observers;
    for (const auto& observer : camera.observers) observers.push_back(observer.get());
    camera.recorder = std::make_unique<CameraRecorder>(setup, output_, tuning_, observers,
                                                       feeds_ ? feeds_->For(setup.Address()) : nullptr);
    cameras_.push_back(std::move(camera));
  }
}

void RecorderService::StopAll() {
  Stop(std::move(cameras_));
  cameras_.clear();
}

void RecorderService::Stop(std::vector<Camera> cameras) {
  for (auto& camera : cameras) camera.recorder->RequestStop();
  for (auto& camera : cameras) camera.recorder->Join();
  for (auto& camera : cameras) camera.recorder.reset();  // before the observers it tells
}

std::vector<std::string> RecorderService::Addresses() const {
  std::vector<std::string> addresses;
  for (const auto& camera : cameras_) addresses.push_back(camera.recorder->Setup().Address());
  return addresses;
}

}  // namespace zent
