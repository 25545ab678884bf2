#include "record/recording_name.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <strings.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <utility>

#include "config/paths.h"

namespace zent {

std::string RecordingFileName(const std::string& savePath, int insertTime, const std::tm& time,
                              const std::string& extension) {
  if (insertTime != 1) return savePath;
  const std::size_t separator = savePath.rfind(kPathSeparator);
  const std::size_t nameStart = separator == std::string::npos ? 0 : separator + 1;
  const std::size_t dot = savePath.rfind('.');
  const std::string prefix = dot != std::string::npos && dot >= nameStart ? savePath.substr(0, dot) : savePath;
  char stamp[96];
  std::snprintf(stamp, sizeof stamp, "_%04d%02d%02d_%02d%02d%02d", time.tm_year + 1900, time.tm_mon + 1, time.tm_mday,
                time.tm_hour, time.tm_min, time.tm_sec);
  return prefix + stamp + extension;
}

namespace {

bool Digits(const std::string& text, std::size_t from, std::size_t count) {
  if (from + count > text.size()) return false;
  for (std::size_t i = from; i < from + count; ++i)
    if (text[i] < '0' || text[i] > '9') return false;
  return true;
}

// Where "_YYYYMMDD_HHMMSS" starts in a recording's name, or npos.
std::size_t StampAt(const std::string& name) {
  if (name.size() < 4 || (strcasecmp(name.c_str() + name.size() - 4, ".avi") != 0 &&
                          strcasecmp(name.c_str() + name.size() - 4, ".mp4") != 0))
    return std::string::npos;
  std::size_t end = name.size() - 4;
  const std::size_t dash = name.rfind('-', end);
  if (dash != std::string::npos && dash + 1 < end && Digits(name, dash + 1, end - dash - 1)) end = dash;
  if (end < 16) return std::string::npos;
  const std::size_t at = end - 16;
  if (name[at] != '_' || name[at + 9] != '_' || !Digits(name, at + 1, 8) || !Digits(name, at + 10, 6))
    return std::string::npos;
  return at;
}

}  // namespace

std::string RecordingStem(const std::string& fileName) {
  const std::size_t at = StampAt(fileName);
  return at == std::string::npos ? std::string() : fileName.substr(0, at);
}

bool IsRecordingName(const std::string& fileName, const std::string& stem) {
  return !stem.empty() && StampAt(fileName) == stem.size() && fileName.compare(0, stem.size(), stem) == 0;
}

std::string RecordingOrderKey(const std::string& fileName, const std::string& stem) {
  // "YYYYMMDD_HHMMSS" sorts by time; the number after it, zero-padded, by the order taken.
  const std::string stamp = fileName.substr(stem.size() + 1, 15);
  const std::size_t dash = fileName.find('-', stem.size() + 16);
  const std::string number =
      dash == std::string::npos ? "0" : fileName.substr(dash + 1, fileName.size() - 4 - dash - 1);
  return stamp + std::string(12 - std::min<std::size_t>(12, number.size()), '0') + number;
}

std::vector<FolderRecording> ReadRecordingFolder(const std::string& folder, const std::string& stem, bool lookUp) {
  std::vector<std::pair<std::string, FolderRecording>> found;  // (time and number, recording)
  // readdir and fstatat directly: a folder of 10,000 recordings lists in milliseconds.
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (!IsRecordingName(name, stem)) continue;
      FolderRecording recording;
      recording.file.name = name;
      recording.file.path = JoinPath(folder, name);
      if (lookUp || entry->d_type == DT_UNKNOWN) {
        struct stat info {};
        if (::fstatat(::dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode)) continue;
        recording.file.size = static_cast<std::int64_t>(info.st_size);
        recording.file.allocated = static_cast<std::int64_t>(info.st_blocks) * 512;
        recording.file.modifiedMs =
            static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000 + info.st_mtim.tv_nsec / 1000000;
      } else if (entry->d_type != DT_REG) {
        continue;
      }
      recording.tail = name.substr(stem.size() + 1, name.size() - stem.size() - 1 - 4);
      ReadStamp(name, recording.stamp);
      found.emplace_back(RecordingOrderKey(name, stem), std::move(recording));
    }
    ::closedir(dir);
  }
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<FolderRecording> recordings;
  recordings.reserve(found.size());
  for (auto& [key, recording] : found) recordings.push_back(std::move(recording));
  return recordings;
}

std::vector<RecordingFile> FindRecordings(const std::string& folder, const std::string& stem) {
  std::vector<RecordingFile> files;
  for (FolderRecording& recording : ReadRecordingFolder(folder, stem, true)) files.push_back(std::move(recording.file));
  return files;
}

RecordingsPlace PlaceOf(const std::string& savePath, int insertTime) {
  if (insertTime != 1) return {DirectoryPart(savePath), {}};
  const std::string name = RecordingFileName(savePath, insertTime, std::tm{});
  const std::size_t separator = name.rfind(kPathSeparator);
  return {DirectoryPart(name), RecordingStem(separator == std::string::npos ? name : name.substr(separator + 1))};
}

bool ReadStamp(const std::string& fileName, RecordingStamp& stamp) {
  const std::size_t at = StampAt(fileName);
  if (at == std::string::npos) return false;
  // Digits StampAt has vouched for.
  auto number = [&](std::size_t from, std::size_t count) {
    int value = 0;
    for (std::size_t i = from; i < from + count; ++i) value = value * 10 + (fileName[i] - '0');
    return value;
  };
  stamp = {number(at + 1, 4),  number(at + 5, 2),  number(at + 7, 2),
           number(at + 10, 2), number(at + 12, 2), number(at + 14, 2)};
  return true;
}

std::string RecordingStamp::Day() const {
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", year % 10000, month % 100, day % 100);
  return text;
}

std::time_t RecordingStamp::Time() const {
  std::tm time{};
  time.tm_year = year - 1900;
  time.tm_mon = month - 1;
  time.tm_mday = day;
  time.tm_hour = hour;
  time.tm_min = minute;
  time.tm_sec = second;
  time.tm_isdst = -1;
  return std::mktime(&time);
}

std::int64_t RecordingStamp::DayNumber() const {
  using namespace std::chrono;
  return sys_days{std::chrono::year{year} / std::chrono::month{static_cast<unsigned>(month)} /
                  std::chrono::day{static_cast<unsigned>(day)}}
      .time_since_epoch()
      .count();
}

std::time_t RecordingTime(const std::string& fileName) {
  RecordingStamp stamp;
  return ReadStamp(fileName, stamp) ? stamp.Time() : -1;
}

}  // namespace zent
