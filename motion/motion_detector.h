#pragma once
// Motion in a camera's picture, decided on small grey pictures (about 160 x 90, five a second):
// each picture is compared with a slowly updated background, pixel by pixel above the picture's
// own noise, inside the zones that are watched. Enough changed area for a few pictures in a row is
// motion; a change of the whole picture's brightness (a cloud, a light, the camera's day/night
// switch) is not. Its rising edge is one event, and a scene that stays in motion is one more event
// each time `refireAfter` passes, as a camera that fires again would be. No FFmpeg, no Qt.

#include <bitset>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zent {

inline constexpr int kZoneColumns = 16;
inline constexpr int kZoneRows = 9;
using MotionZones = std::bitset<kZoneColumns * kZoneRows>;  // row by row; set: watched

// "1" and "0" a cell, row by row, 144 of them; every cell watched when the text is empty.
// Nothing for any other text.
std::optional<MotionZones> ParseMotionZones(const std::string& text);
std::string MotionZonesText(const MotionZones& zones);

struct MotionSettings {
  int sensitivity = 5;        // 1 (only large, clear changes) to 10 (the faintest)
  double minAreaPercent = 1;  // of the watched area
  int consecutive = 3;        // pictures in a row above the area
  MotionZones zones = MotionZones().set();
  std::chrono::milliseconds refireAfter{std::chrono::minutes(10)};
  bool operator==(const MotionSettings&) const = default;
};

struct GreyPicture {
  int width = 0, height = 0;
  std::vector<std::uint8_t> pixels;  // width * height, row by row
};

class MotionDetector {
 public:
  using Clock = std::chrono::steady_clock;
  explicit MotionDetector(const MotionSettings& settings);

  // The share of the watched area that changed, in percent, when this picture is an event.
  std::optional<double> Feed(const GreyPicture& picture, Clock::time_point at);
  // Something began to move and is not yet confirmed: the next pictures are worth a look soon.
  bool Unsure() const { return above_ > 0 && !moving_; }
  // The changed share of the last picture, for a display (percent).
  double LastArea() const { return lastArea_; }

 private:
  bool Fits(const GreyPicture& picture) const;
  // Most of the watched cells shifted the same way by more than a step: the light, not the scene.
  bool LightChanged(const GreyPicture& picture, double shift) const;
  void Restart(const GreyPicture& picture);

  MotionSettings settings_;
  int width_ = 0, height_ = 0;
  std::vector<float> background_;
  std::vector<std::uint8_t> watched_;  // per pixel, from the zones
  double noise_ = 4;                   // a running mean of the absolute difference
  int above_ = 0;                      // pictures in a row with enough changed area
  bool moving_ = false;
  Clock::time_point lastEvent_{};
  double lastArea_ = 0;
};

}  // namespace zent
