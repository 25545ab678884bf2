#include "motion/motion_detector.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace zent {
namespace {

constexpr float kLearn = 0.05f;         // the background follows the picture slowly ...
constexpr float kLearnMoving = 0.005f;  // ... and hardly where something moves, so it is not taken in
constexpr double kWholePicture = 85;    // percent changed: the light changed, not the scene
// Most cells of the grid brighter (or darker) at once is light too, even where parts of the
// picture are too bright or too dark to follow it and so look changed after the shift is taken away.
constexpr double kLightCells = 0.6;
constexpr double kLightStep = 8;        // mean change of a cell's pixels that counts
constexpr double kMaxNoiseSample = 32;  // a pixel's share in the noise estimate, so motion does not inflate it

}  // namespace

std::optional<MotionZones> ParseMotionZones(const std::string& text) {
  MotionZones zones;
  if (text.empty()) return zones.set();
  if (text.size() != zones.size()) return std::nullopt;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '0' && text[i] != '1') return std::nullopt;
    zones[i] = text[i] == '1';
  }
  return zones;
}

std::string MotionZonesText(const MotionZones& zones) {
  std::string text(zones.size(), '0');
  for (std::size_t i = 0; i < zones.size(); ++i)
    if (zones[i]) text[i] = '1';
  return text;
}

MotionDetector::MotionDetector(const MotionSettings& settings) : settings_(settings) {
  settings_.sensitivity = std::clamp(settings_.sensitivity, 1, 10);
  settings_.consecutive = std::max(1, settings_.consecutive);
}

bool MotionDetector::Fits(const GreyPicture& picture) const {
  return picture.width == width_ && picture.height == height_ && !background_.empty();
}

void MotionDetector::Restart(const GreyPicture& picture) {
  width_ = picture.width;
  height_ = picture.height;
  background_.assign(picture.pixels.begin(), picture.pixels.end());
  watched_.assign(picture.pixels.size(), 0);
  std::size_t i = 0;
  for (int y = 0; y < height_; ++y) {
    const int row = y * kZoneRows / height_;
    for (int x = 0; x < width_; ++x, ++i) {
      const int cell = row * kZoneColumns + x * kZoneColumns / width_;
      watched_[i] = settings_.zones[static_cast<std::size_t>(cell)];
    }
  }
  above_ = 0;
}

bool MotionDetector::LightChanged(const GreyPicture& picture, double shift) const {
  if (std::fabs(shift) < kLightStep / 2) return false;
  std::array<double, kZoneColumns * kZoneRows> sums{};
  std::array<int, kZoneColumns * kZoneRows> counts{};
  std::size_t i = 0;
  for (int y = 0; y < height_; ++y) {
    const int row = y * kZoneRows / height_;
    for (int x = 0; x < width_; ++x, ++i) {
      const int column = x * kZoneColumns / width_;
      const auto cell = static_cast<std::size_t>(row) * kZoneColumns + static_cast<std::size_t>(column);
      sums[cell] += picture.pixels[i] - background_[i];
      ++counts[cell];
    }
  }
  int watchedCells = 0, litCells = 0;
  for (std::size_t cell = 0; cell < sums.size(); ++cell) {
    if (!settings_.zones[cell] || counts[cell] == 0) continue;
    ++watchedCells;
    const double mean = sums[cell] / counts[cell];
    litCells += (shift > 0 ? mean : -mean) > kLightStep;
  }
  return litCells >= kLightCells * watchedCells;
}

std::optional<double> MotionDetector::Feed(const GreyPicture& picture, Clock::time_point at) {
  if (picture.width <= 0 || picture.height <= 0 ||
      picture.pixels.size() != static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height))
    return std::nullopt;
  if (!Fits(picture)) {
    Restart(picture);
    return std::nullopt;
  }
  const std::size_t size = picture.pixels.size();
  // The whole picture brighter or darker by the same amount is light, not motion: compared after
  // taking that shift away.
  double shiftSum = 0;
  std::size_t watched = 0;
  for (std::size_t i = 0; i < size; ++i) {
    if (!watched_[i]) continue;
    shiftSum += picture.pixels[i] - background_[i];
    ++watched;
  }
  if (watched == 0) return std::nullopt;
  const double shift = shiftSum / static_cast<double>(watched);
  if (LightChanged(picture, shift)) {
    Restart(picture);
    moving_ = false;
    return std::nullopt;
  }
  // Above the picture's own noise, by more the less sensitive.
  const double sensitivityLeft = 10 - settings_.sensitivity;
  const double threshold = std::max(6 + 2 * sensitivityLeft, (2 + 0.6 * sensitivityLeft) * noise_);
  std::size_t changed = 0;
  double noiseSum = 0;
  for (std::size_t i = 0; i < size; ++i) {
    const double difference = std::fabs(picture.pixels[i] - background_[i] - shift);
    const bool moved = difference > threshold;
    if (watched_[i]) {
      noiseSum += std::min(difference, kMaxNoiseSample);
      changed += moved;
    }
    background_[i] += (moved ? kLearnMoving : kLearn) * (static_cast<float>(picture.pixels[i]) - background_[i]);
  }
  const double area = 100.0 * static_cast<double>(changed) / static_cast<double>(watched);
  lastArea_ = area;
  if (area >= kWholePicture) {
    // The camera switched to night or a floodlight came on: start again from this picture.
    Restart(picture);
    moving_ = false;
    return std::nullopt;
  }
  if (area < settings_.minAreaPercent) {
    noise_ = 0.95 * noise_ + 0.05 * std::max(1.0, noiseSum / static_cast<double>(watched));
    above_ = 0;
    moving_ = false;
    return std::nullopt;
  }
  if (++above_ < settings_.consecutive) return std::nullopt;
  if (moving_ && at - lastEvent_ < settings_.refireAfter) return std::nullopt;
  moving_ = true;
  lastEvent_ = at;
  return area;
}

}  // namespace zent
