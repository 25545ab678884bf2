#include "record/recording_name.h"

#include <cstdio>

#include "config/paths.h"

namespace zent {

std::string RecordingFileName(const std::string& savePath, int insertTime, const std::tm& time) {
  if (insertTime != 1) return savePath;
  const std::size_t separator = savePath.rfind(kPathSeparator);
  const std::size_t nameStart = separator == std::string::npos ? 0 : separator + 1;
  const std::size_t dot = savePath.rfind('.');
  const std::string prefix = dot != std::string::npos && dot >= nameStart ? savePath.substr(0, dot) : savePath;
  char stamp[96];
  std::snprintf(stamp, sizeof stamp, "_%04d%02d%02d_%02d%02d%02d.avi", time.tm_year + 1900, time.tm_mon + 1,
                time.tm_mday, time.tm_hour, time.tm_min, time.tm_sec);
  return prefix + stamp;
}

}  // namespace zent
