// The multipart reader on arbitrary streams cut into arbitrary reads: no part and no buffer ever
// exceeds the bound, whatever the camera sends.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "record/multipart_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  constexpr std::size_t kBound = 4096;  // small, so that the fuzzer reaches it
  const std::size_t chunk = 1 + data[0] % 64;
  zent::MultipartReader reader(data[1] % 2 ? "frame" : "", kBound);
  std::vector<std::vector<std::uint8_t>> parts;
  for (std::size_t at = 2; at < size; at += chunk) {
    const std::size_t n = size - at < chunk ? size - at : chunk;
    if (reader.Feed(data + at, n, parts) != zent::MultipartReader::Status::Ok) break;
    if (reader.Buffered() > kBound + (64u << 10) + chunk) __builtin_trap();
  }
  for (const auto& part : parts)
    if (part.empty() || part.size() > kBound) __builtin_trap();
  return 0;
}
