// The JPEG frame-header reader on arbitrary bytes: it reads inside the data and never reports a
// picture without a size.

#include <cstddef>
#include <cstdint>

#include "record/video_mode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto mode = zent::JpegFrameSize(data, size);
  if (mode && (mode->width <= 0 || mode->height <= 0)) __builtin_trap();
  return 0;
}
