#pragma once
// Camera profiles for tests and benchmarks, written through the program's own file format.

#include <string>
#include <vector>

#include "config/camera_profile.h"

namespace zent::testing {

// A stand-in camera at `address`, recorded to `savePath` with the time in each name, `minutes`
// a recording.
CameraProfile StandInProfile(const std::string& address, int eventPort, int videoPort, const std::string& savePath,
                             int minutes = 1);

// The camera list in `documents`, as the configuration dialog would save it.
void WriteCameraList(const std::string& documents, const std::vector<CameraProfile>& cameras);

}  // namespace zent::testing
