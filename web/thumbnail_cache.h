#pragma once
// The page's thumbnails, kept as the desktop's Recordings window keeps its own: one small picture
// a recording in the user's cache folder, named by the recording's path, size and time (a file that
// grows or is replaced gets a new one), the newest 20,000 kept. A restarted recorder, or a second
// page, decodes nothing it has shown before.

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace zent {

class ThumbnailCache {
 public:
  static constexpr int kKeep = 20000;  // pictures of a few kB each
  static constexpr int kTrimEvery = 500;
  static constexpr std::size_t kInMemory = 512;  // the pages being looked at, without a disk read

  // `folder` empty: nothing is kept on disk.
  explicit ThumbnailCache(std::string folder, int keep = kKeep) : folder_(std::move(folder)), keep_(keep) {}

  // The JPEG for the recording, from memory, from the folder, or made by `make` (empty: none,
  // and nothing is kept). Safe from many threads; two asking at once may both make it.
  std::string Get(const std::string& path, std::int64_t size, std::int64_t modifiedMs,
                  const std::function<std::string()>& make);

 private:
  const std::string folder_;
  const int keep_;
  std::mutex mutex_;
  std::map<std::string, std::string> recent_;  // by key; bounded by kInMemory
  int written_ = 0;
};

}  // namespace zent
