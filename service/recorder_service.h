#pragma once
// Every camera the headless recorder records, each on its own CameraRecorder. A reload starts
// the cameras added, stops those removed and restarts those whose setup changed; the others
// are not touched.

#include <memory>
#include <string>
#include <vector>

#include "service/camera_recorder.h"

namespace zent {

class RecorderService {
 public:
  explicit RecorderService(StatusOutput& output, RecorderTuning tuning = {});
  ~RecorderService();  // StopAll

  void Apply(const std::vector<CameraSetup>& cameras);
  // Stops every camera at once, closing open recordings with their index; returns when all are done.
  void StopAll();
  std::vector<std::string> Addresses() const;

 private:
  static void Stop(std::vector<std::unique_ptr<CameraRecorder>> recorders);

  StatusOutput& output_;
  const RecorderTuning tuning_;
  std::vector<std::unique_ptr<CameraRecorder>> recorders_;
};

}  // namespace zent
