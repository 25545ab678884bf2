// The configuration file's parser on arbitrary text: a hand-edited or damaged file must never
// crash the program, and a profile it parses writes back as the same profile (empty texts aside:
// the file cannot hold them).

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "config/camera_profile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const zent::CameraProfile& profile : zent::ParseProfiles(text)) {
    const zent::ProfileList again = zent::ParseProfiles(zent::FormatProfile(profile));
    if (again.size() != 1) __builtin_trap();
    const bool textsWhole = !profile.savePath.empty() && !profile.saveFileName.empty() &&
                            !profile.cameraAddress.empty() && !profile.logPath.empty() && !profile.logFileName.empty();
    if (textsWhole && again[0].cameraAddress != profile.cameraAddress) __builtin_trap();
  }
  return 0;
}
