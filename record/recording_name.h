#pragma once
// The name of the AVI file an event is recorded into.

#include <ctime>
#include <string>

namespace zent {

// With insertTime 1: the saving path without its extension, then "_YYYYMMDD_HHMMSS.avi" from
// `time`. A '.' counts as the extension only in the file-name part, so a dotted folder name
// stays whole. Any other insertTime: the saving path unchanged.
std::string RecordingFileName(const std::string& savePath, int insertTime, const std::tm& time);

}  // namespace zent
