#include "web/recording_caches.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <limits>

#include "record/mp4_remux.h"
#include "record/recording_catalog.h"

namespace zent {

std::string Mp4Cache::Of(const std::string& id, const RecordingFile& file, std::string& error) {
  if (folder_.empty()) {
    error = "no folder to keep the MP4 in";
    return {};
  }
  const std::string name = id + "-" + std::to_string(file.size) + "-" + std::to_string(file.modifiedMs) + ".mp4";
  std::string mp4 = folder_ + "/" + name;
  std::lock_guard lock(mutex_);
  if (::access(mp4.c_str(), R_OK) == 0) return mp4;
  std::error_code ignored;
  std::filesystem::create_directories(folder_, ignored);
  ::chmod(folder_.c_str(), 0700);  // the MP4s are the recordings themselves
  if (!RemuxToMp4(file.path, mp4, error)) return {};
  // The cache stays within its bound: the oldest MP4s go, never the one just made.
  TrimCacheFolder(folder_, ".mp4", std::numeric_limits<std::size_t>::max(), maxBytes_, name);
  return mp4;
}

std::shared_ptr<const FrameIndex> FrameIndexes::Of(const RecordingFile& file, std::string& error) {
  const std::string key = file.path + "|" + std::to_string(file.size) + "|" + std::to_string(file.modifiedMs);
  {
    std::lock_guard lock(mutex_);
    if (const auto found = indexes_.find(key); found != indexes_.end()) return found->second;
  }
  auto index = std::make_shared<FrameIndex>();
  if (!ReadFrameIndex(file.path, *index, error)) return nullptr;
  if (index->codec != "mjpeg") {
    error = "not a Motion JPEG recording";
    return nullptr;
  }
  std::lock_guard lock(mutex_);
  if (indexes_.size() >= kKept) indexes_.erase(indexes_.begin());
  indexes_[key] = index;
  return index;
}

}  // namespace zent
