#include "sim/test_picture.h"

#include <algorithm>
#include <cstdio>

namespace camsim {
namespace {

// 5 × 7 glyphs, one byte per row, low five bits used.
const std::uint8_t* Glyph(char c) {
  static const std::uint8_t digits[10][7] = {
      {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
      {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
      {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
      {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
      {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}};
  static const std::uint8_t colon[7] = {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00};
  static const std::uint8_t hash[7] = {0x0A, 0x0A, 0x1F, 0x0A, 0x1F, 0x0A, 0x0A};
  static const std::uint8_t times[7] = {0x00, 0x00, 0x11, 0x0A, 0x04, 0x0A, 0x11};
  static const std::uint8_t dot[7] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C};
  static const std::uint8_t blank[7] = {};
  if (c >= '0' && c <= '9') return digits[c - '0'];
  switch (c) {
    case ':': return colon;
    case '#': return hash;
    case 'x': return times;
    case '.': return dot;
    default: return blank;
  }
}

void DrawText(YCbCrImage& image, int x0, int y0, int scale, const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::uint8_t* glyph = Glyph(text[i]);
    for (int gy = 0; gy < 7; ++gy)
      for (int gx = 0; gx < 5; ++gx) {
        if (!(glyph[gy] & (0x10 >> gx))) continue;
        for (int sy = 0; sy < scale; ++sy)
          for (int sx = 0; sx < scale; ++sx) {
            const int x = x0 + (static_cast<int>(i) * 6 + gx) * scale + sx;
            const int y = y0 + gy * scale + sy;
            if (x < image.width && y < image.height) image.y[static_cast<std::size_t>(y) * image.width + x] = 235;
          }
      }
  }
}

// Colour bars (white, yellow, cyan, green, magenta, red, blue, black) with a sweeping bar; a still
// scene's bar is off the picture, and `sensor` seeds noise over all of it.
YCbCrImage Bars(int width, int height, int barX, int light = 0, std::uint32_t sensor = 0) {
  static const std::uint8_t colours[8][3] = {{235, 128, 128}, {210, 16, 146}, {170, 166, 16}, {145, 54, 34},
                                             {106, 202, 222}, {81, 90, 240},  {41, 240, 110}, {16, 128, 128}};
  YCbCrImage image(width, height);
  const int cw = image.chromaWidth();
  const int barWidth = std::max(8, width / 40);
  std::uint32_t noise = 1;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const bool sweep = x >= barX && x < barX + barWidth;
      const auto* c = colours[std::min(7, x * 8 / width)];
      // Fine detail in the lowest third, so frames weigh what a real camera's do.
      int luma = c[0];
      if (y >= height * 2 / 3) {
        noise = noise * 1103515245u + 12345u;
        luma = std::clamp(luma + static_cast<int>((noise >> 16) % 61) - 30, 16, 235);
      }
      if (sensor != 0) {
        sensor = sensor * 1103515245u + 12345u;
        luma += static_cast<int>((sensor >> 16) % 7) - 3;
      }
      luma = std::clamp(luma + light, 16, 235);
      image.y[static_cast<std::size_t>(y) * width + x] = static_cast<std::uint8_t>(sweep ? 128 : luma);
      if (x % 2 == 0) {
        image.cb[static_cast<std::size_t>(y) * cw + x / 2] = sweep ? 128 : c[1];
        image.cr[static_cast<std::size_t>(y) * cw + x / 2] = sweep ? 128 : c[2];
      }
    }
  }
  return image;
}

}  // namespace

// A still scene's pictures differ only by the sensor's noise.
constexpr int kNoisyPictures = 4;

TestPicture::TestPicture(int width, int height, int framesPerCycle, int quality, Scene scene)
    : width_(width), height_(height), scale_(std::max(2, height / 270)), encoder_(width, height, quality) {
  captionRows_ = std::min(encoder_.Rows(), (7 * scale_ + 2 * scale_ + 7) / 8);
  if (scene.still) {
    for (int i = 0; i < kNoisyPictures; ++i) {
      stills_.push_back(Bars(width, height, -width, scene.light, 977u * static_cast<std::uint32_t>(i + 1)));
      bodies_.push_back(encoder_.EncodeRows(stills_.back(), captionRows_, encoder_.Rows()));
    }
    return;
  }
  framesPerCycle = std::max(1, framesPerCycle);
  for (int i = 0; i < framesPerCycle; ++i) {
    const YCbCrImage image = Bars(width, height, i * width / framesPerCycle);
    bodies_.push_back(encoder_.EncodeRows(image, captionRows_, encoder_.Rows()));
  }
}

std::string TestPicture::Frame(std::uint64_t number, const std::string& timeText, int blockX) const {
  char caption[96];
  std::snprintf(caption, sizeof caption, "#%06llu  %s  %dx%d", static_cast<unsigned long long>(number),
                timeText.c_str(), width_, height_);
  YCbCrImage band(width_, captionRows_ * 8);
  DrawText(band, scale_ * 2, scale_, scale_, caption);

  char comment[128];
  std::snprintf(comment, sizeof comment, "zent-camsim frame=%llu time=%s", static_cast<unsigned long long>(number),
                timeText.c_str());
  std::string jpeg = encoder_.Header(comment);
  for (const auto& row : encoder_.EncodeRows(band, 0, captionRows_)) jpeg += row;
  const std::size_t variant = number % bodies_.size();
  if (blockX < 0 || stills_.empty()) {
    for (const auto& row : bodies_[variant]) jpeg += row;
  } else {
    // Dark where the picture is bright and bright where it is dark, so it shows on every bar.
    YCbCrImage image = stills_[variant];
    const int top = height_ * 4 / 9 + height_ / 36, bottom = height_ * 6 / 9 - height_ / 36;
    for (int y = top; y < bottom; ++y)
      for (int x = std::max(0, blockX); x < std::min(width_, blockX + BlockWidth()); ++x) {
        std::uint8_t& luma = image.y[static_cast<std::size_t>(y) * width_ + x];
        luma = luma > 128 ? 16 : 235;
      }
    const int firstRow = std::max(captionRows_, top / 8), lastRow = std::min(encoder_.Rows(), (bottom + 7) / 8);
    const auto& body = bodies_[variant];
    for (int row = captionRows_; row < firstRow; ++row) jpeg += body[static_cast<std::size_t>(row - captionRows_)];
    for (const auto& row : encoder_.EncodeRows(image, firstRow, lastRow)) jpeg += row;
    for (int row = lastRow; row < encoder_.Rows(); ++row) jpeg += body[static_cast<std::size_t>(row - captionRows_)];
  }
  jpeg += JpegEncoder::Trailer();
  return jpeg;
}

}  // namespace camsim
