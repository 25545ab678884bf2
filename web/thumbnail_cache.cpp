#include "web/thumbnail_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <utility>
#include <vector>

#include "record/recording_catalog.h"
#include "service/private_file.h"
#include "web/tokens.h"

namespace zent {
namespace {

std::string Key(const std::string& path, std::int64_t size, std::int64_t modifiedMs) {
  return Sha256(path + "\n" + std::to_string(size) + "\n" + std::to_string(modifiedMs));
}

// Only a picture of this user's that nobody else could have changed is shown.
std::string ReadPicture(const std::string& path) {
  std::string jpeg, error;
  return ReadPrivateFile(path, "thumbnail", 4 << 20, jpeg, error) ? jpeg : std::string();
}

// Written beside its place and renamed in: a page asking meanwhile never reads half a picture.
// Private, as the recordings it shows are. Not WritePrivateFile: a cache needs no fsync, and two
// pages may write the same picture at once, each through a temporary file of its own.
void WriteWhole(const std::string& folder, const std::string& name, const std::string& bytes) {
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(folder).parent_path(), ignored);
  ::mkdir(folder.c_str(), 0700);
  const std::string temporary = folder + "/." + name + "." + std::to_string(::gettid());
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return;
  const bool whole = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  ::close(fd);
  if (!whole || ::rename(temporary.c_str(), (folder + "/" + name).c_str()) != 0) ::unlink(temporary.c_str());
}

}  // namespace

std::string ThumbnailCache::Get(const std::string& path, std::int64_t size, std::int64_t modifiedMs,
                                const std::function<std::string()>& make) {
  const std::string key = Key(path, size, modifiedMs);
  {
    std::lock_guard lock(mutex_);
    if (const auto found = recent_.find(key); found != recent_.end()) return found->second;
  }
  const std::string name = key + ".jpg";
  std::string jpeg = folder_.empty() || key.empty() ? std::string() : ReadPicture(folder_ + "/" + name);
  bool made = false;
  if (jpeg.empty()) {
    jpeg = make();
    if (jpeg.empty()) return {};
    made = true;
    if (!folder_.empty() && !key.empty()) WriteWhole(folder_, name, jpeg);
  }
  bool trim = false;
  {
    std::lock_guard lock(mutex_);
    if (recent_.size() >= kInMemory) recent_.erase(recent_.begin());
    recent_[key] = jpeg;
    trim = made && ++written_ % kTrimEvery == 0;
  }
  if (trim) TrimCacheFolder(folder_, ".jpg", static_cast<std::size_t>(std::max(keep_, 0)));
  return jpeg;
}

}  // namespace zent
