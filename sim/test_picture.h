#pragma once
// The stand-in camera's picture: colour bars with a bar that sweeps across once a second, and a
// caption band at the top with the frame number and the time. The bars are encoded once per
// size; only the caption is encoded for each frame.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/jpeg_encoder.h"

namespace camsim {

class TestPicture {
 public:
  TestPicture(int width, int height, int framesPerCycle, int quality = 75);

  int Width() const { return width_; }
  int Height() const { return height_; }
  // The JPEG of frame `number`; its COM segment reads "zent-camsim frame=NUMBER time=TEXT".
  std::string Frame(std::uint64_t number, const std::string& timeText) const;

 private:
  int width_;
  int height_;
  int captionRows_;  // rows of 8 pixels at the top that carry the caption
  int scale_;        // caption font scale
  JpegEncoder encoder_;
  std::vector<std::vector<std::string>> bodies_;  // per cycle position: rows below the caption
};

}  // namespace camsim
