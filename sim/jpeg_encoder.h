#pragma once
// A small baseline JPEG encoder (4:2:2, standard Huffman tables) that ends every row of 16 × 8
// blocks with a restart marker. Rows are independent, so a frame can be put together from rows
// encoded at different times: the picture once, the changing caption per frame.

#include <cstdint>
#include <string>
#include <vector>

namespace camsim {

// Planar YCbCr 4:2:2: Y is width × height, Cb and Cr are (width + 1) / 2 × height.
struct YCbCrImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> y, cb, cr;

  YCbCrImage(int w, int h);
  int chromaWidth() const { return (width + 1) / 2; }
};

class JpegEncoder {
 public:
  JpegEncoder(int width, int height, int quality);

  int Rows() const { return rows_; }  // rows of 8 pixels
  // Entropy-coded rows [first, last) of `image` (same size as the encoder's), each followed by
  // its restart marker except the picture's last row.
  std::vector<std::string> EncodeRows(const YCbCrImage& image, int first, int last) const;
  // Everything before the entropy-coded data; `comment` goes into a COM segment.
  std::string Header(const std::string& comment) const;
  static std::string Trailer() { return "\xFF\xD9"; }

 private:
  int width_;
  int height_;
  int rows_;
  int mcusPerRow_;
  std::uint8_t quant_[2][64];  // natural order
  float scale_[2][64];         // 1 / quantiser, for the forward DCT output
};

}  // namespace camsim
