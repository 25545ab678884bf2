#pragma once
// The rules of the status log: how a line reads and which file it is appended to.

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>

#include "config/camera_profile.h"

namespace zent {

// The log settings of a camera profile, read for every line.
struct LogSettings {
  std::int32_t logToFile = 0;
  std::int32_t logPeriod = 0;
  std::string logPath;
  std::string logFileName;
};

LogSettings LogSettingsOf(const CameraProfile& profile);

// Local time with one-second resolution; injectable so tests can cross midnight.
using LocalClock = std::function<std::tm()>;
std::tm LocalTimeNow();

// "%H:%M:%S : " followed by the text unchanged.
std::string FormatStatusLine(const std::tm& time, std::string_view text);

// The log file for a line written at `time`: per day, month or year inside the directory part
// of logPath, or logPath itself for any other period. A relative logPath is taken inside
// `documentsFolder`, never in whatever folder the program was started from.
std::string LogFileName(const LogSettings& settings, const std::tm& time, std::string_view documentsFolder);

// Appends the line and CR LF in one write, opening and closing the file for this line alone; a
// new file is made 0640, and a link in the file's place is not followed.
// Appends are serialised within the process so lines never interleave. A file that cannot be
// opened or written is skipped; the result only tells tests what happened.
bool AppendLogLine(const std::string& path, std::string_view line);

}  // namespace zent
