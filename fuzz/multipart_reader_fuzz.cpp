// The multipart reader on arbitrary streams cut into arbitrary reads: no part and no buffer ever
// exceeds the bound, whatever the camera sends, and the time it takes grows with the bytes, not
// with their square (a stream of junk lines once cost 23 ms of CPU per 64 KiB read).

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "record/multipart_reader.h"

namespace {

constexpr std::size_t kBound = 4096;  // small, so that the fuzzer reaches it

// Seconds to feed `stream` in reads of `chunk` bytes.
double FeedTime(const std::string& stream, std::size_t chunk, bool named) {
  zent::MultipartReader reader(named ? "frame" : "", 1u << 20);
  std::vector<zent::PartBuffer> parts;
  const auto start = std::chrono::steady_clock::now();
  const auto* data = reinterpret_cast<const std::uint8_t*>(stream.data());
  for (std::size_t at = 0; at < stream.size(); at += chunk) {
    const std::size_t n = stream.size() - at < chunk ? stream.size() - at : chunk;
    if (reader.Feed(data + at, n, parts) != zent::MultipartReader::Status::Ok) break;
    if (parts.size() > 64) parts.clear();
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::size_t chunk = 1 + data[0] % 64;
  const bool named = data[1] % 2;
  zent::MultipartReader reader(named ? "frame" : "", kBound);
  std::vector<zent::PartBuffer> parts;
  for (std::size_t at = 2; at < size; at += chunk) {
    const std::size_t n = size - at < chunk ? size - at : chunk;
    if (reader.Feed(data + at, n, parts) != zent::MultipartReader::Status::Ok) break;
    if (reader.Buffered() > kBound + (64u << 10) + chunk) __builtin_trap();
  }
  for (const auto& part : parts)
    if (part.empty() || part.size() > kBound) __builtin_trap();

  // The input repeated to 64 KiB, one read as the program reads it: under half a
  // microsecond a byte (linear work takes tens of nanoseconds, even under the sanitizers). Timed
  // twice before it counts, so that a moment without the CPU is not taken for a fault.
  const std::string body(reinterpret_cast<const char*>(data) + 2, size - 2);
  std::string stream;
  while (stream.size() < (64u << 10)) stream += body;
  const double limit = 0.5e-6 * static_cast<double>(stream.size());
  if (FeedTime(stream, 64u << 10, named) > limit && FeedTime(stream, 64u << 10, named) > limit) __builtin_trap();
  return 0;
}
