#pragma once
// What the web page keeps of recordings between requests: the MP4 made of an H.264 recording (on
// disk, bounded in bytes) and the frame index of a Motion JPEG one (in memory, bounded in count).
// Both are keyed by the recording's path, size and time, so a file that changes is read anew.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "record/recording_name.h"
#include "record/recording_reader.h"

namespace zent {

class Mp4Cache {
 public:
  Mp4Cache(std::string folder, std::int64_t maxBytes) : folder_(std::move(folder)), maxBytes_(maxBytes) {}
  // The MP4 of the recording, made on the first request (packets copied, index in front); empty
  // with the reason when it cannot be.
  std::string Of(const std::string& id, const RecordingFile& file, std::string& error);

 private:
  const std::string folder_;
  const std::int64_t maxBytes_;
  std::mutex mutex_;  // one MP4 made at a time
};

class FrameIndexes {
 public:
  static constexpr std::size_t kKept = 64;
  // Read once per recording, not once per frame: a viewer asks for 30 frames a second. Null with
  // the reason for a file that is not a Motion JPEG recording.
  std::shared_ptr<const FrameIndex> Of(const RecordingFile& file, std::string& error);

 private:
  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<const FrameIndex>> indexes_;
};

}  // namespace zent
