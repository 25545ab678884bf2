#include "record/recording_catalog.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "config/paths.h"
#include "record/recording_reader.h"

namespace zent {
namespace {

constexpr std::size_t kMaxCachedDetails = 20000;

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

bool IsRecordingTail(const std::string& tail) {
  if (tail.empty() || tail.size() > 40) return false;
  return std::all_of(tail.begin(), tail.end(), [](char c) { return (c >= '0' && c <= '9') || c == '_' || c == '-'; });
}

CatalogListing RecordingCatalog::Listing(const RecordingsPlace& place) {
  // A folder changes its time when a file is added, renamed or deleted: until then the last
  // reading holds. A file system's clock ticks coarsely (a jiffy, a second, FAT's two), so a file
  // added within the tick of the change just read leaves that time as it is: a reading is kept only
  // once its folder's time is safely past.
  struct stat info {};
  if (place.stem.empty() || ::stat(place.folder.c_str(), &info) != 0)
    return std::make_shared<const std::vector<CatalogEntry>>();
  const std::int64_t changed = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
  constexpr auto kCoarsestTick = std::chrono::seconds(2);
  const bool settled =
      std::chrono::system_clock::now().time_since_epoch() - std::chrono::nanoseconds(changed) > kCoarsestTick;
  {
    std::lock_guard lock(mutex_);
    const auto found = listings_.find(place);
    if (found != listings_.end() && found->second.changedNs == changed) return found->second.entries;
  }
  std::vector<FolderRecording> names = ReadRecordingFolder(place.folder, place.stem, false);
  auto entries = std::make_shared<std::vector<CatalogEntry>>();
  entries->reserve(names.size());
  for (auto recording = names.rbegin(); recording != names.rend(); ++recording)
    entries->push_back({std::move(recording->tail), recording->stamp, recording->stamp.Day()});
  std::lock_guard lock(mutex_);
  if (!settled) {
    listings_.erase(place);
  } else {
    if (listings_.size() > 64) listings_.clear();  // places come and go with the camera list
    listings_[place] = {changed, entries};
  }
  return entries;
}

std::optional<RecordingFile> RecordingCatalog::Find(const RecordingsPlace& place, const std::string& tail) {
  if (!IsRecordingTail(tail)) return std::nullopt;
  for (const char* extension : {".avi", ".mp4"}) {
    const std::string name = place.stem + "_" + tail + extension;
    if (!IsRecordingName(name, place.stem)) return std::nullopt;
    const std::string path = JoinPath(place.folder, name);
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
    return RecordingFile{path, name, static_cast<std::int64_t>(info.st_size),
                         static_cast<std::int64_t>(info.st_blocks) * 512,
                         static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000 + info.st_mtim.tv_nsec / 1000000};
  }
  return std::nullopt;
}

RecordingDetails RecordingCatalog::Details(const RecordingFile& file) {
  {
    std::lock_guard lock(mutex_);
    const auto found = details_.find(file.path);
    if (found != details_.end() && found->second.size == file.size && found->second.modifiedMs == file.modifiedMs)
      return found->second.details;
  }
  RecordingDetails details;
  std::string error;
  if (const auto reader = RecordingReader::Open(file.path, error)) {
    details.ok = true;
    details.codec = avcodec_get_name(reader->Stream().codecpar->codec_id);
    details.seconds = reader->Seconds();
  }
  std::lock_guard lock(mutex_);
  if (details_.size() >= kMaxCachedDetails) details_.clear();
  details_[file.path] = {file.size, file.modifiedMs, details};
  return details;
}

std::vector<std::array<int, 24>> CountByHour(const std::vector<RecordingStamp>& stamps, std::int64_t firstDay,
                                             int days) {
  // By calendar day and hour, not by seconds: cheap for 10,000 recordings, and an hour is an hour
  // on the clock even across a change of summer time.
  std::vector<std::array<int, 24>> counts(static_cast<std::size_t>(std::max(days, 0)), std::array<int, 24>{});
  for (const RecordingStamp& stamp : stamps) {
    const std::int64_t day = stamp.DayNumber() - firstDay;
    if (day >= 0 && day < days && stamp.hour >= 0 && stamp.hour < 24)
      ++counts[static_cast<std::size_t>(day)][static_cast<std::size_t>(stamp.hour)];
  }
  return counts;
}

std::vector<int> CountLastWeek(const std::vector<RecordingStamp>& stamps, std::time_t now) {
  constexpr int kHours = 7 * 24;
  int hour = 0;
  const std::int64_t today = DayNumberOf(now, &hour);
  // Eight calendar days hold the 168 hours; the first starts 167 hours before this one.
  const auto days = CountByHour(stamps, today - 7, 8);
  std::vector<int> hours;
  hours.reserve(kHours);
  for (int i = hour + 1; i < hour + 1 + kHours; ++i)
    hours.push_back(days[static_cast<std::size_t>(i / 24)][static_cast<std::size_t>(i % 24)]);
  return hours;
}

std::string DayOf(std::time_t time) {
  std::tm local{};
  ::localtime_r(&time, &local);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &local);
  return text;
}

std::int64_t DayNumberOf(std::time_t time, int* hour) {
  std::tm local{};
  ::localtime_r(&time, &local);
  if (hour) *hour = local.tm_hour;
  return RecordingStamp{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, 0, 0, 0}.DayNumber();
}

void TrimCacheFolder(const std::string& folder, const std::string& suffix, std::size_t keepFiles,
                     std::int64_t keepBytes, const std::string& spare) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir))
    if (EndsWith(entry->d_name, suffix)) names.emplace_back(entry->d_name);
  if (names.size() <= keepFiles && keepBytes < 0) {
    ::closedir(dir);
    return;
  }
  struct Cached {
    std::int64_t changedNs, bytes;
    std::string name;
  };
  std::vector<Cached> files;
  for (const std::string& name : names) {
    struct stat info {};
    if (::fstatat(::dirfd(dir), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode)) continue;
    files.push_back({static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec,
                     static_cast<std::int64_t>(info.st_size), name});
  }
  std::sort(files.begin(), files.end(), [](const Cached& a, const Cached& b) { return a.changedNs > b.changedNs; });
  std::int64_t bytes = 0;
  std::size_t kept = 0;
  for (const Cached& file : files) {
    bytes += file.bytes;
    if (file.name == spare || (++kept <= keepFiles && (keepBytes < 0 || bytes <= keepBytes))) continue;
    ::unlinkat(::dirfd(dir), file.name.c_str(), 0);
    bytes -= file.bytes;
  }
  ::closedir(dir);
}

}  // namespace zent
