#pragma once
// One AVI file written by stream copy: packets go in as they came from the camera, in decode
// order, stamped in a time base of the stream's frame rate so that the file plays at real speed.
// The stream takes the source's own codec parameters (size, H.264's SPS/PPS and the like), so a
// file from a camera that sends them only out of band plays everywhere.

#include <cstdint>
#include <memory>
#include <string>

#include "record/ffmpeg_ptr.h"
#include "record/file_io.h"
#include "record/video_mode.h"

namespace zent {

// Whether an AVI file can carry video of this codec.
bool AviCarries(int codecId);

class AviWriter {
 public:
  // Starts the AVI in `file` (created for it, empty) for the source's stream at `frameRate`.
  static std::unique_ptr<AviWriter> Open(UniqueFd file, const AVCodecParameters& source, AVRational frameRate,
                                         std::string& error);
  ~AviWriter();  // finishes the file if Finish was not called
  AviWriter(const AviWriter&) = delete;
  AviWriter& operator=(const AviWriter&) = delete;

  // `frame` counts in frames since the start of the file; it must grow.
  bool Write(AVPacket& packet, std::int64_t frame, std::string& error);
  // Pushes what is buffered to the file, so a killed program loses at most the last moments.
  void Flush();
  // Writes the index and closes the file.
  bool Finish(std::string& error);

  std::int64_t Frames() const { return frames_; }
  // The frame the last packet went to; -1 before the first.
  std::int64_t LastFrame() const { return lastFrame_; }
  // Playing time: up to the end of the last frame.
  double Seconds() const;
  const VideoMode& Mode() const { return mode_; }

 private:
  AviWriter() = default;
  std::unique_ptr<FdIo> io_;  // outlives the muxer that writes through it
  OutputPtr output_;
  AVStream* stream_ = nullptr;
  AVRational timeBase_{1, 25};
  VideoMode mode_;
  std::int64_t frames_ = 0;
  std::int64_t lastFrame_ = -1;
  bool headerWritten_ = false;
  bool finished_ = false;
};

}  // namespace zent
