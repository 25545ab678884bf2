#pragma once
// The name of the file an event is recorded into: AVI, or MP4 where the Options ask for it.

#include <compare>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace zent {

// With insertTime 1: the saving path without its extension, then "_YYYYMMDD_HHMMSS" from `time`
// and `extension` (".avi" or ".mp4"). A '.' counts as the extension only in the file-name part, so
// a dotted folder name stays whole. Any other insertTime: the saving path unchanged.
std::string RecordingFileName(const std::string& savePath, int insertTime, const std::tm& time,
                              const std::string& extension = ".avi");

// Whether `fileName` (no folder) is a name this program gives a recording of `stem`:
// STEM_YYYYMMDD_HHMMSS.avi (or .mp4), or with -N before the extension when that name was taken.
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

// This program's recordings of `stem` in `folder` (regular files only) with their sizes and times,
// oldest first: by the time in their names, then by their -N.
std::vector<RecordingFile> FindRecordings(const std::string& folder, const std::string& stem);

// Where a camera's recordings go, as its saving path gives them: the folder and the stem of the
// names; an empty stem when the names carry no time (insertTime other than 1).
struct RecordingsPlace {
  std::string folder;
  std::string stem;
  auto operator<=>(const RecordingsPlace&) const = default;
};
RecordingsPlace PlaceOf(const std::string& savePath, int insertTime);

// The time in a recording's name, as the clock on the wall said it when the recording began.
struct RecordingStamp {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  std::string Day() const;         // "YYYY-MM-DD"
  std::time_t Time() const;        // local time
  std::int64_t DayNumber() const;  // days since 1970-01-01 of its calendar date
};
// The one reader of the time in a name this program gives a recording; false for any other name.
bool ReadStamp(const std::string& fileName, RecordingStamp& stamp);

// When the recording was made, from the time in the name this program gave it (local time);
// -1 for a name without one.
std::time_t RecordingTime(const std::string& fileName);

// A recording of a folder as its name tells: `file` holds its path and name, and its size and
// times only when they were looked up.
struct FolderRecording {
  RecordingFile file;
  std::string tail;  // the name after "STEM_", without ".avi" or ".mp4": "YYYYMMDD_HHMMSS" and any "-N"
  RecordingStamp stamp;
};
// This program's recordings of `stem` in `folder`, regular files only, oldest first (by the time in
// their names, then their -N). `lookUp`: each file's size and times too; without, only the names
// are read (a file looked at only where the file system does not say what it is).
std::vector<FolderRecording> ReadRecordingFolder(const std::string& folder, const std::string& stem, bool lookUp);

}  // namespace zent
