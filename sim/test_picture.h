#pragma once
// The stand-in camera's picture: colour bars with a bar that sweeps across once a second, and a
// caption band at the top with the frame number and the time. The bars are encoded once per
// size; only the caption is encoded for each frame. A still scene has no sweeping bar but a
// sensor's noise, can be brighter or darker as a whole, and can have a block crossing it: only the
// rows the block covers are encoded again.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/jpeg_encoder.h"

namespace camsim {

struct Scene {
  bool still = false;
  int light = 0;  // added to every pixel's brightness
};

class TestPicture {
 public:
  TestPicture(int width, int height, int framesPerCycle, int quality = 75, Scene scene = {});

  int Width() const { return width_; }
  int Height() const { return height_; }
  // The JPEG of frame `number`; its COM segment reads "zent-camsim frame=NUMBER time=TEXT".
  // With `blockX` >= 0 (still scenes), a block stands there across the middle rows of the grid
  // motion zones are drawn on (the fifth and sixth of nine).
  std::string Frame(std::uint64_t number, const std::string& timeText, int blockX = -1) const;
  int BlockWidth() const { return width_ / 6; }

 private:
  int width_;
  int height_;
  int captionRows_;  // rows of 8 pixels at the top that carry the caption
  int scale_;        // caption font scale
  JpegEncoder encoder_;
  std::vector<std::vector<std::string>> bodies_;  // per cycle position: rows below the caption
  std::vector<YCbCrImage> stills_;                // still scenes: the pictures behind the bodies
};

}  // namespace camsim
