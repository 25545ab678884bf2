#include "service/recorder_service.h"

#include <algorithm>

namespace zent {

RecorderService::RecorderService(StatusOutput& output, RecorderTuning tuning)
    : output_(output), tuning_(std::move(tuning)) {}

RecorderService::~RecorderService() { StopAll(); }

void RecorderService::Apply(const std::vector<CameraSetup>& cameras) {
  std::vector<std::unique_ptr<CameraRecorder>> leaving;
  std::vector<std::unique_ptr<CameraRecorder>> staying;
  for (auto& recorder : recorders_) {
    const bool unchanged = std::find(cameras.begin(), cameras.end(), recorder->Setup()) != cameras.end();
    (unchanged ? staying : leaving).push_back(std::move(recorder));
  }
  for (const auto& recorder : leaving)
    output_.Line(recorder->Setup().Address(), LogSettingsOf(recorder->Setup().profile),
                 "Stopping: this camera left the camera list or its settings changed.");
  // Stopped before their successors start, so one camera never has two sessions at once.
  Stop(std::move(leaving));
  recorders_.clear();
  for (const CameraSetup& setup : cameras) {
    const auto kept = std::find_if(staying.begin(), staying.end(),
                                   [&](const auto& recorder) { return recorder && recorder->Setup() == setup; });
    if (kept != staying.end()) recorders_.push_back(std::move(*kept));
    else recorders_.push_back(std::make_unique<CameraRecorder>(setup, output_, tuning_));
  }
}

void RecorderService::StopAll() { Stop(std::move(recorders_)); recorders_.clear(); }

void RecorderService::Stop(std::vector<std::unique_ptr<CameraRecorder>> recorders) {
  for (auto& recorder : recorders) recorder->RequestStop();
  for (auto& recorder : recorders) recorder->Join();
}

std::vector<std::string> RecorderService::Addresses() const {
  std::vector<std::string> addresses;
  for (const auto& recorder : recorders_) addresses.push_back(recorder->Setup().Address());
  return addresses;
}

}  // namespace zent
