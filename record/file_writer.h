#pragma once
// One recording's file written by stream copy, AVI or MP4: packets go in as they came from the
// camera, in decode order, stamped in a time base of the stream's frame rate so that the file
// plays at real speed. The stream takes the source's own codec parameters (size, H.264's SPS/PPS
// and the like), so a file from a camera that sends them only out of band plays everywhere. MP4
// is written in fragments (one key-frame interval, or a fifth of a second of JPEGs), each whole
// once it is out, so a killed program leaves a file that plays up to its last fragment.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "record/ffmpeg_ptr.h"
#include "record/file_io.h"
#include "record/video_mode.h"

namespace zent {

enum class Container { Avi, Mp4 };

// The container a recording's name asks for: MP4 for ".mp4", else AVI.
Container ContainerOf(const std::string& path);
const char* ContainerName(Container container);  // "AVI", "MP4"
// Whether the container can carry video of this codec.
bool Carries(Container container, int codecId);

// How every MP4 of ours is written, recordings and clips: the stream's tag, and fragments from the
// start (the options are the caller's to free).
unsigned Mp4Tag(const AVCodecParameters& source);
AVDictionary* Mp4FragmentOptions(const AVCodecParameters& source);

// "2026-12-09T10:15:03.123Z": when a recording's first frame came, as its files carry it in their
// "date" tag (AVI's ICRD, MP4's ©day), to the millisecond, so recordings can be put end to end.
std::string FileDate(std::chrono::system_clock::time_point at);

class FileWriter {
 public:
  // Starts the file in `file` (created for it, empty) for the source's stream at `frameRate`;
  // `began` is when its first frame came, kept in the file (ExtentOf reads it).
  static std::unique_ptr<FileWriter> Open(UniqueFd file, Container container, const AVCodecParameters& source,
                                          AVRational frameRate, std::chrono::system_clock::time_point began,
                                          std::string& error);
  ~FileWriter();  // finishes the file if Finish was not called
  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;

  // `frame` counts in frames since the start of the file, in decode order; it must grow.
  // `shownAfter`: how many frames later the picture is shown (B-frames; kept by MP4 only).
  bool Write(AVPacket& packet, std::int64_t frame, std::int64_t shownAfter, std::string& error);
  // Pushes what is buffered to the file, so a killed program loses at most the last moments.
  void Flush();
  // Writes the index (AVI) or the fragments' index (MP4) and closes the file.
  bool Finish(std::string& error);

  std::int64_t Frames() const { return frames_; }
  // The frame the last packet went to; -1 before the first.
  std::int64_t LastFrame() const { return lastFrame_; }
  // Playing time: up to the end of the last frame.
  double Seconds() const;
  const VideoMode& Mode() const { return mode_; }

 private:
  FileWriter() = default;
  std::unique_ptr<FdIo> io_;  // outlives the muxer that writes through it
  OutputPtr output_;
  AVStream* stream_ = nullptr;
  AVRational timeBase_{1, 25};
  Container container_ = Container::Avi;
  VideoMode mode_;
  std::int64_t frames_ = 0;
  std::int64_t lastFrame_ = -1;
  bool headerWritten_ = false;
  bool finished_ = false;
};

}  // namespace zent
