// Motion decided on small grey pictures: what is an event, and what is only noise or light.

#include "motion/motion_detector.h"

#include <gtest/gtest.h>

#include <array>
#include <random>

namespace zent {
namespace {

using namespace std::chrono_literals;
using Clock = MotionDetector::Clock;

constexpr int kWidth = 160, kHeight = 90;
constexpr auto kPicture = 200ms;  // five a second

// A grey scene with sensor noise, its brightness `level`, and a 16 x 16 block at `blockX`.
class Scene {
 public:
  // The sensor's noise, drawn once: ten minutes of pictures need not draw it anew for each.
  Scene() {
    std::normal_distribution<double> noise(0, 3);
    for (auto& field : noise_) {
      field.resize(kWidth * kHeight);
      for (double& value : field) value = noise(random_);
    }
  }
  // `lamp`: a patch too bright to follow the light, as a lamp or a window in the picture is.
  GreyPicture Picture(double level, int blockX = -1, int blockY = 40, bool lamp = false) {
    GreyPicture p{kWidth, kHeight, std::vector<std::uint8_t>(kWidth * kHeight)};
    const std::vector<double>& noise = noise_[(picture_++ * 5) % noise_.size()];
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        // A little structure, so that a change of light is not a flat shift only.
        double v = level + 20 * ((x / 20 + y / 15) % 2) + noise[static_cast<std::size_t>(y * kWidth + x)];
        if (blockX >= 0 && x >= blockX && x < blockX + 16 && y >= blockY && y < blockY + 16) v = level + 110;
        if (lamp && x < 40) v = 255;
        p.pixels[static_cast<std::size_t>(y * kWidth + x)] = static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
      }
    return p;
  }

 private:
  std::mt19937 random_{7};
  std::array<std::vector<double>, 16> noise_;
  std::size_t picture_ = 0;
};

TEST(MotionDetector, AMovingBlockIsOneEventAfterAFewPicturesAndAgainOnlyAfterItStopped) {
  Scene scene;
  MotionSettings settings;
  settings.refireAfter = 1h;
  MotionDetector detector(settings);
  auto at = Clock::time_point{};
  for (int i = 0; i < 25; ++i, at += kPicture) EXPECT_FALSE(detector.Feed(scene.Picture(80), at)) << i;
  std::vector<int> events;
  for (int i = 0; i < 30; ++i, at += kPicture)
    if (const auto area = detector.Feed(scene.Picture(80, 4 * i), at)) {
      events.push_back(i);
      EXPECT_GT(*area, 1.0);
      EXPECT_LT(*area, 10.0);
    }
  EXPECT_EQ(events, std::vector<int>{2});  // the third moved picture in a row
  for (int i = 0; i < 25; ++i, at += kPicture) EXPECT_FALSE(detector.Feed(scene.Picture(80), at));
  int again = 0;
  for (int i = 0; i < 10; ++i, at += kPicture) again += detector.Feed(scene.Picture(80, 100 - 5 * i), at).has_value();
  EXPECT_EQ(again, 1);
}

TEST(MotionDetector, TenMinutesOfNoiseASlowDawnAndALightSwitchedOnAreNoEvent) {
  Scene scene;
  MotionDetector detector(MotionSettings{});
  auto at = Clock::time_point{};
  // Ten minutes at five pictures a second, the light rising from 40 to 160.
  for (int i = 0; i < 3000; ++i, at += kPicture)
    ASSERT_FALSE(detector.Feed(scene.Picture(40 + 120.0 * i / 3000), at)) << "picture " << i;
  // The light switched on, then the camera's night mode: the whole picture at once; then a light
  // switched on where a lamp in the picture was already as bright as can be.
  for (int i = 0; i < 20; ++i, at += kPicture) ASSERT_FALSE(detector.Feed(scene.Picture(i < 10 ? 100 : 20), at)) << i;
  for (int i = 0; i < 30; ++i, at += kPicture)
    ASSERT_FALSE(detector.Feed(scene.Picture(i < 15 ? 60 : 120, -1, 40, true), at)) << i;
}

TEST(MotionDetector, MotionOnlyInAMaskedZoneIsNoEventAndAZoneMaskReadsAsTyped) {
  // The left half of the picture is not watched; the block moves only there.
  MotionZones zones;
  for (int row = 0; row < kZoneRows; ++row)
    for (int column = kZoneColumns / 2; column < kZoneColumns; ++column) zones.set(row * kZoneColumns + column);
  const auto text = MotionZonesText(zones);
  EXPECT_EQ(text.substr(0, 16), "0000000011111111");
  EXPECT_EQ(ParseMotionZones(text), zones);
  EXPECT_EQ(ParseMotionZones(""), MotionZones().set());
  EXPECT_FALSE(ParseMotionZones(text.substr(1)));
  EXPECT_FALSE(ParseMotionZones(std::string(144, 'x')));

  Scene scene;
  MotionSettings settings;
  settings.zones = zones;
  MotionDetector detector(settings);
  auto at = Clock::time_point{};
  for (int i = 0; i < 20; ++i, at += kPicture) detector.Feed(scene.Picture(80), at);
  for (int i = 0; i < 15; ++i, at += kPicture) EXPECT_FALSE(detector.Feed(scene.Picture(80, 2 + 3 * i), at)) << i;
  int seen = 0;
  for (int i = 0; i < 10; ++i, at += kPicture) seen += detector.Feed(scene.Picture(80, 90 + 4 * i), at).has_value();
  EXPECT_EQ(seen, 1);  // the same block in the watched half
}

TEST(MotionDetector, ASceneThatStaysInMotionIsOneEventPerRecordingLength) {
  Scene scene;
  MotionSettings settings;
  settings.refireAfter = 10s;
  MotionDetector detector(settings);
  auto at = Clock::time_point{};
  for (int i = 0; i < 20; ++i, at += kPicture) detector.Feed(scene.Picture(80), at);
  int events = 0;
  for (int i = 0; i < 5 * 25; ++i, at += kPicture)  // 25 s of a block going back and forth
    events += detector.Feed(scene.Picture(80, 4 * (i % 30)), at).has_value();
  EXPECT_EQ(events, 3);  // at the start, after 10 s and after 20 s
}

}  // namespace
}  // namespace zent
