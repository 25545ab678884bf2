#pragma once
// One small picture out of a recording, and its length: what the Recordings window shows.

#include <cstdint>
#include <string>
#include <vector>

struct AVFrame;

namespace zent {

struct Thumbnail {
  bool ok = false;
  std::string error;   // why there is no picture (a file cut short, not a video this program wrote)
  double seconds = 0;  // the recording's length
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;  // 32-bit 0xffRRGGBB words, row after row
};

// Decodes the first picture at or after `atSeconds` (clamped to the file), no wider than
// `maxWidth` and no higher than `maxHeight`, keeping its shape.
Thumbnail MakeThumbnail(const std::string& path, double atSeconds, int maxWidth, int maxHeight);

// A decoded picture no larger than the bounds, keeping its shape.
Thumbnail ScaledPicture(const AVFrame& picture, int maxWidth, int maxHeight);

}  // namespace zent
