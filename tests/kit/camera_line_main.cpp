// Prints the camera list line of a stand-in camera, for scripts that set up a home folder.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/kit/profiles.h"

int main(int argc, char** argv) {
  if (argc != 5 && argc != 6) {
    std::fprintf(stderr, "usage: zent-camera-line ADDRESS EVENT_PORT VIDEO_PORT SAVE_PATH [LOG_FILE]\n");
    return 2;
  }
  const std::string savePath = argv[4];
  zent::CameraProfile profile =
      zent::testing::StandInProfile(argv[1], std::atoi(argv[2]), std::atoi(argv[3]), savePath);
  profile.saveFileName = savePath.substr(savePath.rfind('/') + 1);
  if (argc == 6) {
    profile.logToFile = 1;
    profile.logPath = argv[5];  // a period of 0 makes the path itself the log file
  }
  std::fputs(zent::FormatProfile(profile).c_str(), stdout);
  return 0;
}
