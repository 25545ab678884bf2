#pragma once
// zent-recorder --check: which cameras would be recorded, where from, and whether each camera's
// event port and video answer now.

#include <chrono>
#include <cstdio>
#include <vector>

#include "camera/camera_setup.h"

namespace zent {

// Prints one block per camera (URLs without passwords); true when everything answered.
bool CheckCameras(const std::vector<CameraSetup>& cameras, std::FILE* out,
                  std::chrono::milliseconds timeout = std::chrono::seconds(5));

}  // namespace zent
