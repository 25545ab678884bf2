#pragma once
// What the camera's stream looks like: a change of any of these is a video mode change.

#include <cstddef>
#include <cstdint>
#include <optional>

namespace zent {

struct VideoMode {
  int codecId = 0;  // AVCodecID
  int width = 0;
  int height = 0;
  bool operator==(const VideoMode&) const = default;
};

// Width and height from a JPEG's frame header (SOF0 to SOF15 but DHT/JPG/DAC); nothing when the
// data holds no complete frame header before the scan.
std::optional<VideoMode> JpegFrameSize(const std::uint8_t* data, std::size_t size);

}  // namespace zent
