#pragma once
// The name of the AVI file an event is recorded into.

#include <compare>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace zent {

// With insertTime 1: the saving path without its extension, then "_YYYYMMDD_HHMMSS.avi" from
// `time`. A '.' counts as the extension only in the file-name part, so a dotted folder name
// stays whole. Any other insertTime: the saving path unchanged.
std::string RecordingFileName(const std::string& savePath, int insertTime, const std::tm& time);

// Whether `fileName` (no folder) is a name this program gives a recording of `stem`:
// STEM_YYYYMMDD_HHMMSS.avi, or with -N before ".avi" when that name was taken.
bool IsRecordingName(const std::string& fileName, const std::string& stem);
// The stem of a recording's name (the part before "_YYYYMMDD_HHMMSS"); empty when the name is
// none that this program gives.
std::string RecordingStem(const std::string& fileName);
// What orders recordings of `stem` oldest first, for a name IsRecordingName accepts: the time in the
// name, then its -N.
std::string RecordingOrderKey(const std::string& fileName, const std::string& stem);

struct RecordingFile {
  std::string path;
  std::string name;  // without the folder
  std::int64_t size = 0;
  std::int64_t allocated = 0;   // what deleting it gives back to the disk
  std::int64_t modifiedMs = 0;  // since the epoch
};

// This program's recordings of `stem` in `folder` (regular files only), oldest first: by the time
// in their names, then by their -N.
std::vector<RecordingFile> FindRecordings(const std::string& folder, const std::string& stem);

// Where a camera's recordings go, as its saving path gives them: the folder and the stem of the
// names; an empty stem when the names carry no time (insertTime other than 1).
struct RecordingsPlace {
  std::string folder;
  std::string stem;
  auto operator<=>(const RecordingsPlace&) const = default;
};
RecordingsPlace PlaceOf(const std::string& savePath, int insertTime);

// When the recording was made, from the time in the name this program gave it (local time);
// -1 for a name without one.
std::time_t RecordingTime(const std::string& fileName);

}  // namespace zent
