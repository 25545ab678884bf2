#pragma once
// One saved camera and the text form it takes in the configuration file.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zent {

// Capacities of the text fields, terminator included, as the stored record defines them.
inline constexpr std::size_t kPathCapacity = 4096;     // savePath, logPath
inline constexpr std::size_t kFileNameCapacity = 256;  // saveFileName, logFileName
inline constexpr std::size_t kAddressCapacity = 104;   // cameraAddress

// logPeriod values; any other value makes logPath itself the log file.
inline constexpr std::int32_t LOG_PERIOD_DAY = 1;
inline constexpr std::int32_t LOG_PERIOD_MONTH = 2;
inline constexpr std::int32_t LOG_PERIOD_YEAR = 3;

struct CameraProfile {
  std::int32_t savingEnabled = 0;
  std::string savePath;
  std::string saveFileName;
  std::int32_t insertTime = 0;
  std::int32_t fileMinutes = 0;
  std::string cameraAddress;
  std::int32_t privatePort = 0;
  std::int32_t videoPort = 0;
  std::int32_t audioPort = 0;
  float spareReal = 0.0f;
  std::int32_t spareFlag = 0;
  std::int32_t logToFile = 0;
  std::int32_t logPeriod = 0;
  std::string logPath;
  std::string logFileName;

  bool operator==(const CameraProfile&) const = default;
};

using ProfileList = std::vector<CameraProfile>;

// The record text of one profile, ending in ';'.
std::string FormatProfile(const CameraProfile& profile);

// Every profile in a configuration file's text. Each ';' ends one record (also an empty one);
// bytes after the last ';' belong to no record; a zero byte ends the text.
ProfileList ParseProfiles(std::string_view text);

// C library conversions as the stored files were written and read with them, independent of
// the process locale: atol (saturating instead of overflowing), atof and _gcvt(value, 10).
std::int64_t ParseLeadingInteger(std::string_view text);
float ParseReal(std::string_view text);
std::string FormatReal(float value);

}  // namespace zent
