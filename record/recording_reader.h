#pragma once
// A recording opened for reading with libavformat: as an AVI only, through a descriptor we checked
// (a regular file, never through a link), given up on after a few seconds. A file in the
// recordings folder may have been put there by anyone.

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "record/ffmpeg_ptr.h"
#include "record/file_io.h"

namespace zent {

class RecordingReader {
 public:
  // Null with the reason in `error`.
  static std::unique_ptr<RecordingReader> Open(const std::string& path, std::string& error,
                                               std::chrono::seconds giveUpAfter = std::chrono::seconds(5));

  AVFormatContext* Input() const { return input_.get(); }
  int VideoStream() const { return stream_; }
  const AVStream& Stream() const { return *input_->streams[stream_]; }
  // The recording's length by its header, 0 when it says none.
  double Seconds() const;

 private:
  RecordingReader() = default;
  static int PastDeadline(void* opaque);

  std::chrono::steady_clock::time_point deadline_;
  std::unique_ptr<FdIo> io_;
  InputPtr input_;
  int stream_ = -1;
};

// Where each frame of a recording lies in its file, from its index: what lets a JPEG of a Motion
// JPEG recording be served as it is stored.
struct FrameIndex {
  std::string codec;  // "mjpeg", "h264"
  double fps = 0;
  int width = 0, height = 0;
  std::vector<std::int64_t> offsets;  // of each frame's data
  std::vector<std::int32_t> sizes;
};
bool ReadFrameIndex(const std::string& path, FrameIndex& index, std::string& error);

}  // namespace zent
