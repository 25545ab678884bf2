#include "record/video_mode.h"

extern "C" {
#include <libavcodec/codec_id.h>
}

namespace zent {

std::optional<VideoMode> JpegFrameSize(const std::uint8_t* data, std::size_t size) {
  if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return std::nullopt;
  std::size_t pos = 2;
  while (pos + 4 <= size) {
    if (data[pos] != 0xFF) return std::nullopt;
    const std::uint8_t marker = data[pos + 1];
    if (marker == 0xFF) {  // fill byte
      ++pos;
      continue;
    }
    const std::size_t length = (static_cast<std::size_t>(data[pos + 2]) << 8) | data[pos + 3];
    if (length < 2) return std::nullopt;
    const bool frameHeader = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frameHeader) {
      if (pos + 9 > size) return std::nullopt;
      const int height = (data[pos + 5] << 8) | data[pos + 6];
      const int width = (data[pos + 7] << 8) | data[pos + 8];
      if (width == 0 || height == 0) return std::nullopt;  // no picture, so no mode either
      return VideoMode{AV_CODEC_ID_MJPEG, width, height};
    }
    if (marker == 0xDA) return std::nullopt;  // the scan started without a frame header
    pos += 2 + length;
  }
  return std::nullopt;
}

}  // namespace zent
