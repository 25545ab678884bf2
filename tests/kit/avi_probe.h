#pragma once
// Reads a recording back with libavformat (AVI or MP4): what a player would find in it.

#include <cstdint>
#include <string>
#include <vector>

namespace zent::testing {

struct AviProbe {
  bool opened = false;
  std::string format;
  std::string codec;
  std::string codecTag;  // "hvc1", "avc1", "MJPG"
  int width = 0;
  int height = 0;
  double frameRate = 0;      // the rate the file declares
  double seconds = 0;        // playing time up to the end of the last frame
  std::int64_t packets = 0;  // frames with data
  // Frame times with no picture, in the order shown, up to the last picture but one (a recording
  // stopped in a group of B-frames may end before the pictures shown just before its last).
  std::int64_t missingBeforeLast = 0;
  std::vector<std::uint64_t> cameraFrames;  // zent-camsim's frame number of each packet
  bool startsWithKeyFrame = false;
};

AviProbe ProbeAvi(const std::string& path);

// Writes a playable Motion JPEG AVI of `frames` grey pictures at 10 per second, with our writer.
bool WriteTestAvi(const std::string& path, int frames, int width = 160, int height = 120);

// The times of the pictures a player's decoder gives out, in the order it gives them out:
// `ffprobe -show_entries frame=pts`. They rise when every picture is shown in its place.
std::vector<std::int64_t> ShownTimes(const std::string& path);

// What a player's decoder complains of, playing the whole file: `ffmpeg -v error -i FILE -f null -`.
std::string DecodeErrors(const std::string& path);

}  // namespace zent::testing
