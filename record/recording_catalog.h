#pragma once
// The recordings of a place (a folder and the stem of the names given there) for whoever shows
// them, the desktop's Recordings window and the web page alike: listed from their names alone and
// kept until the folder changes, one found by its name, what a look into a file says, the events of
// a week by hour, and a folder of cached pictures kept within its bound.

#include <array>
#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "record/recording_name.h"

namespace zent {

// A recording as the folder's listing names it, nothing looked up.
struct CatalogEntry {
  std::string tail;  // after "STEM_", without ".avi": "20261207_143005-1"
  RecordingStamp stamp;
  std::string day;  // "YYYY-MM-DD"
};
using CatalogListing = std::shared_ptr<const std::vector<CatalogEntry>>;  // newest first

// What a look into the file says; kept while the file's size and time stay the same.
struct RecordingDetails {
  bool ok = false;
  std::string codec;
  double seconds = 0;
};

class RecordingCatalog {
 public:
  // The place's recordings newest first, shared and unchanged until the folder changes. Names only,
  // no file looked into or even at: ten thousand recordings list in milliseconds.
  CatalogListing Listing(const RecordingsPlace& place);
  // One recording by the tail of its name: its one name looked at, never the whole folder; a
  // regular file only, never a link planted in its place.
  std::optional<RecordingFile> Find(const RecordingsPlace& place, const std::string& tail);
  RecordingDetails Details(const RecordingFile& file);

 private:
  std::mutex mutex_;
  struct Cached {
    std::int64_t size = 0, modifiedMs = 0;
    RecordingDetails details;
  };
  std::map<std::string, Cached> details_;  // by path, bounded
  struct Listed {
    std::int64_t changedNs = -1;
    CatalogListing entries;
  };
  std::map<RecordingsPlace, Listed> listings_;
};

// Whether `tail` can be the tail of a recording's name: digits, '_' and '-', 40 at most.
bool IsRecordingTail(const std::string& tail);

// Events per hour by the times in the names, as the clock on the wall said them: for each of
// `days` calendar days from `firstDay` (days since 1970-01-01) on, the recordings that began in
// each of its hours.
std::vector<std::array<int, 24>> CountByHour(const std::vector<RecordingStamp>& stamps, std::int64_t firstDay,
                                             int days);
// The same for the 168 hours that end with the hour of `now`, oldest first.
std::vector<int> CountLastWeek(const std::vector<RecordingStamp>& stamps, std::time_t now);

// "YYYY-MM-DD" of a time, local.
std::string DayOf(std::time_t time);
// The calendar date of a local time, as days since 1970-01-01, and its hour.
std::int64_t DayNumberOf(std::time_t time, int* hour = nullptr);

// Keeps a folder of cached files (those whose names end in `suffix`) within `keepFiles` and
// `keepBytes`, the newest kept; `spare` is never deleted. Only counts names while the count is
// within its bound and no byte bound is set: cheap enough to run before anything is served.
void TrimCacheFolder(const std::string& folder, const std::string& suffix, std::size_t keepFiles,
                     std::int64_t keepBytes = -1, const std::string& spare = {});

}  // namespace zent
