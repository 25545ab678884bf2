#include "sim/jpeg_encoder.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace camsim {
namespace {

constexpr int kZigzag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
                             41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
                             30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

constexpr std::uint8_t kLumaQuant[64] = {16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
                                         14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
                                         18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
                                         49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
constexpr std::uint8_t kChromaQuant[64] = {17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
                                           24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99,
                                           99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
                                           99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

// The standard Huffman tables: code counts per length 1..16, then the symbols.
struct HuffmanSpec {
  std::uint8_t counts[16];
  std::vector<std::uint8_t> symbols;
};

const HuffmanSpec kDcLuma{{0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}};
const HuffmanSpec kDcChroma{{0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}};
const HuffmanSpec kAcLuma{
    {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d},
    {0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07, 0x22, 0x71,
     0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72,
     0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37,
     0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59,
     0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
     0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3,
     0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3,
     0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2,
     0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa}};
const HuffmanSpec kAcChroma{
    {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77},
    {0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71, 0x13, 0x22,
     0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33, 0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1,
     0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18, 0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36,
     0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58,
     0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a,
     0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a,
     0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba,
     0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda,
     0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa}};

struct HuffmanCode {
  std::uint16_t code[256] = {};
  std::uint8_t length[256] = {};
};

HuffmanCode BuildCode(const HuffmanSpec& definition) {
  HuffmanCode codes;
  unsigned code = 0;
  std::size_t k = 0;
  for (int len = 1; len <= 16; ++len) {
    for (int i = 0; i < definition.counts[len - 1]; ++i, ++k) {
      codes.code[definition.symbols.at(k)] = static_cast<std::uint16_t>(code++);
      codes.length[definition.symbols.at(k)] = static_cast<std::uint8_t>(len);
    }
    code <<= 1;
  }
  if (k != definition.symbols.size()) throw std::logic_error("inconsistent Huffman table");
  return codes;
}

const HuffmanCode& Code(int index) {
  static const HuffmanCode codes[4] = {BuildCode(kDcLuma), BuildCode(kAcLuma), BuildCode(kDcChroma),
                                       BuildCode(kAcChroma)};
  return codes[index];
}

struct DctTable {
  float c[8][8];
  DctTable() {
    for (int u = 0; u < 8; ++u)
      for (int x = 0; x < 8; ++x)
        c[u][x] = static_cast<float>((u == 0 ? std::sqrt(0.125) : 0.5) * std::cos((2 * x + 1) * u * M_PI / 16));
  }
};
const DctTable kDct;

class BitWriter {
 public:
  explicit BitWriter(std::string& out) : out_(out) {}
  void Put(unsigned bits, int count) {
    buffer_ = (buffer_ << count) | (bits & ((1u << count) - 1));
    filled_ += count;
    while (filled_ >= 8) {
      const auto byte = static_cast<char>((buffer_ >> (filled_ - 8)) & 0xFF);
      out_ += byte;
      if (byte == '\xFF') out_ += '\0';  // byte stuffing
      filled_ -= 8;
    }
  }
  void AlignWithOnes() {
    if (filled_ > 0) Put(0x7F, 8 - filled_);
  }

 private:
  std::string& out_;
  std::uint64_t buffer_ = 0;
  int filled_ = 0;
};

// Number of bits of |value|, and the value's JPEG bit pattern.
inline int Magnitude(int value) {
  int v = value < 0 ? -value : value;
  int n = 0;
  while (v) {
    ++n;
    v >>= 1;
  }
  return n;
}

void EncodeBlock(BitWriter& bits, const float block[64], const float scale[64], int& dcPredictor, const HuffmanCode& dc,
                 const HuffmanCode& ac) {
  float tmp[64];
  for (int y = 0; y < 8; ++y)
    for (int u = 0; u < 8; ++u) {
      float s = 0;
      for (int x = 0; x < 8; ++x) s += kDct.c[u][x] * block[y * 8 + x];
      tmp[y * 8 + u] = s;
    }
  int coefficient[64];
  for (int v = 0; v < 8; ++v)
    for (int u = 0; u < 8; ++u) {
      float s = 0;
      for (int y = 0; y < 8; ++y) s += kDct.c[v][y] * tmp[y * 8 + u];
      coefficient[v * 8 + u] = static_cast<int>(std::lround(s * scale[v * 8 + u]));
    }

  const int diff = coefficient[0] - dcPredictor;
  dcPredictor = coefficient[0];
  const int dcSize = Magnitude(diff);
  bits.Put(dc.code[dcSize], dc.length[dcSize]);
  if (dcSize) bits.Put(static_cast<unsigned>(diff < 0 ? diff - 1 : diff), dcSize);

  int run = 0;
  for (int k = 1; k < 64; ++k) {
    const int value = coefficient[kZigzag[k]];
    if (value == 0) {
      ++run;
      continue;
    }
    while (run > 15) {
      bits.Put(ac.code[0xF0], ac.length[0xF0]);
      run -= 16;
    }
    const int size = Magnitude(value);
    const int symbol = (run << 4) | size;
    bits.Put(ac.code[symbol], ac.length[symbol]);
    bits.Put(static_cast<unsigned>(value < 0 ? value - 1 : value), size);
    run = 0;
  }
  if (run > 0) bits.Put(ac.code[0x00], ac.length[0x00]);
}

void AppendMarkerSegment(std::string& out, std::uint8_t marker, const std::string& body) {
  out += '\xFF';
  out += static_cast<char>(marker);
  const std::size_t length = body.size() + 2;
  out += static_cast<char>(length >> 8);
  out += static_cast<char>(length & 0xFF);
  out += body;
}

std::string HuffmanSegmentBody(int tableClass, int id, const HuffmanSpec& table) {
  std::string body(1, static_cast<char>((tableClass << 4) | id));
  body.append(reinterpret_cast<const char*>(table.counts), 16);
  body.append(table.symbols.begin(), table.symbols.end());
  return body;
}

}  // namespace

YCbCrImage::YCbCrImage(int w, int h)
    : width(w),
      height(h),
      y(static_cast<std::size_t>(w) * h, 16),
      cb(static_cast<std::size_t>((w + 1) / 2) * h, 128),
      cr(cb.size(), 128) {}

JpegEncoder::JpegEncoder(int width, int height, int quality)
    : width_(width), height_(height), rows_((height + 7) / 8), mcusPerRow_((width + 15) / 16) {
  quality = std::clamp(quality, 1, 100);
  const int factor = quality < 50 ? 5000 / quality : 200 - quality * 2;
  for (int i = 0; i < 64; ++i) {
    quant_[0][i] = static_cast<std::uint8_t>(std::clamp((kLumaQuant[i] * factor + 50) / 100, 1, 255));
    quant_[1][i] = static_cast<std::uint8_t>(std::clamp((kChromaQuant[i] * factor + 50) / 100, 1, 255));
    scale_[0][i] = 1.0f / quant_[0][i];
    scale_[1][i] = 1.0f / quant_[1][i];
  }
}

std::string JpegEncoder::Header(const std::string& comment) const {
  std::string out = "\xFF\xD8";
  AppendMarkerSegment(out, 0xFE, comment);
  std::string dqt;
  for (int t = 0; t < 2; ++t) {
    dqt += static_cast<char>(t);
    for (int k = 0; k < 64; ++k) dqt += static_cast<char>(quant_[t][kZigzag[k]]);
  }
  AppendMarkerSegment(out, 0xDB, dqt);
  const std::string sof = {8,
                           static_cast<char>(height_ >> 8),
                           static_cast<char>(height_ & 0xFF),
                           static_cast<char>(width_ >> 8),
                           static_cast<char>(width_ & 0xFF),
                           3,
                           1,
                           0x21,
                           0,
                           2,
                           0x11,
                           1,
                           3,
                           0x11,
                           1};
  AppendMarkerSegment(out, 0xC0, sof);
  AppendMarkerSegment(out, 0xC4,
                      HuffmanSegmentBody(0, 0, kDcLuma) + HuffmanSegmentBody(1, 0, kAcLuma) +
                          HuffmanSegmentBody(0, 1, kDcChroma) + HuffmanSegmentBody(1, 1, kAcChroma));
  AppendMarkerSegment(out, 0xDD, {static_cast<char>(mcusPerRow_ >> 8), static_cast<char>(mcusPerRow_ & 0xFF)});
  AppendMarkerSegment(out, 0xDA, {3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0});
  return out;
}

std::vector<std::string> JpegEncoder::EncodeRows(const YCbCrImage& image, int first, int last) const {
  std::vector<std::string> rows;
  const int cw = image.chromaWidth();
  auto sample = [](const std::vector<std::uint8_t>& plane, int stride, int w, int h, int x, int y) {
    return static_cast<float>(plane[static_cast<std::size_t>(std::min(y, h - 1)) * stride + std::min(x, w - 1)]) -
           128.0f;
  };
  for (int row = first; row < last; ++row) {
    std::string out;
    BitWriter bits(out);
    int dc[3] = {0, 0, 0};
    float block[64];
    for (int mcu = 0; mcu < mcusPerRow_; ++mcu) {
      for (int half = 0; half < 2; ++half) {
        for (int y = 0; y < 8; ++y)
          for (int x = 0; x < 8; ++x)
            block[y * 8 + x] =
                sample(image.y, image.width, image.width, image.height, mcu * 16 + half * 8 + x, row * 8 + y);
        EncodeBlock(bits, block, scale_[0], dc[0], Code(0), Code(1));
      }
      for (int c = 0; c < 2; ++c) {
        const auto& plane = c == 0 ? image.cb : image.cr;
        for (int y = 0; y < 8; ++y)
          for (int x = 0; x < 8; ++x) block[y * 8 + x] = sample(plane, cw, cw, image.height, mcu * 8 + x, row * 8 + y);
        EncodeBlock(bits, block, scale_[1], dc[c + 1], Code(2), Code(3));
      }
    }
    bits.AlignWithOnes();
    if (row + 1 < rows_) {
      out += '\xFF';
      out += static_cast<char>(0xD0 + row % 8);
    }
    rows.push_back(std::move(out));
  }
  return rows;
}

}  // namespace camsim
