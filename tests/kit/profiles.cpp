#include "tests/kit/profiles.h"

#include <fstream>

#include "config/paths.h"

namespace zent::testing {

CameraProfile StandInProfile(const std::string& address, int eventPort, int videoPort, const std::string& savePath,
                             int minutes) {
  CameraProfile profile;
  profile.savingEnabled = 1;
  profile.savePath = savePath;
  profile.saveFileName = "cam.avi";
  profile.insertTime = 1;
  profile.fileMinutes = minutes;
  profile.cameraAddress = address;
  profile.privatePort = eventPort;
  profile.videoPort = videoPort;
  profile.audioPort = 40008;
  profile.spareReal = 15.0f;
  profile.spareFlag = 1;
  profile.logPath = " ";
  profile.logFileName = "zent_log.txt";
  return profile;
}

void WriteCameraList(const std::string& documents, const std::vector<CameraProfile>& cameras) {
  std::string text;
  for (const CameraProfile& camera : cameras) text += FormatProfile(camera);
  std::ofstream(ConfigFilePath(documents), std::ios::binary) << text;
}

}  // namespace zent::testing
