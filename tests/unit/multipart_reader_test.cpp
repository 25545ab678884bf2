// The multipart reader against the ways cameras really frame their JPEGs.

#include "record/multipart_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zent::testing {
namespace {

// Feeds `stream` in reads of `chunk` bytes; the parts as text.
std::vector<std::string> Split(MultipartReader& reader, const std::string& stream, std::size_t chunk) {
  std::vector<PartBuffer> parts;
  for (std::size_t at = 0; at < stream.size(); at += chunk) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(stream.data()) + at;
    EXPECT_EQ(reader.Feed(data, std::min(chunk, stream.size() - at), parts), MultipartReader::Status::Ok);
  }
  std::vector<std::string> texts;
  for (const auto& part : parts) texts.emplace_back(part.Text());
  return texts;
}

TEST(MultipartReader, SplitsSizedAndUnsizedPartsWhateverTheReads) {
  // Sized and unsized parts, LF-only lines, a body holding "--" and CR LF, the closing delimiter.
  const std::string stream =
      "--cam\r\nContent-Type: image/jpeg\r\nContent-Length: 6\r\n\r\nAB\r\n--\r\n"
      "--cam\nContent-Type: image/jpeg\n\nCD--cam x\r\n--cam\r\n\r\nEF\r\n--cam--\r\n";
  for (std::size_t chunk : {1, 3, 7, 1000}) {
    MultipartReader reader("cam");
    EXPECT_EQ(Split(reader, stream, chunk), (std::vector<std::string>{"AB\r\n--", "CD--cam x", "EF"})) << chunk;
  }
  // Cameras that put the dashes into the boundary they announce.
  EXPECT_EQ(MultipartBoundary("multipart/x-mixed-replace; boundary=\"--myboundary\""), "--myboundary");
  MultipartReader dashed(MultipartBoundary("multipart/x-mixed-replace;boundary=--myboundary"));
  EXPECT_EQ(Split(dashed, "--myboundary\r\n\r\nJPEG\r\n--myboundary\r\n", 5), (std::vector<std::string>{"JPEG"}));
  EXPECT_EQ(MultipartBoundary("image/jpeg"), "");
}

TEST(MultipartReader, RefusesAPartOverTheBoundBeforeBufferingIt) {
  MultipartReader declared("b", 1000);
  std::vector<PartBuffer> parts;
  const std::string header = "--b\r\nContent-Length: 1001\r\n\r\n";
  EXPECT_EQ(declared.Feed(reinterpret_cast<const std::uint8_t*>(header.data()), header.size(), parts),
            MultipartReader::Status::PartTooLarge);
  EXPECT_EQ(declared.Buffered(), 0u);

  MultipartReader endless("b", 1000);
  const std::string start = "--b\r\n\r\n";
  endless.Feed(reinterpret_cast<const std::uint8_t*>(start.data()), start.size(), parts);
  const std::string data(600, 'x');
  EXPECT_EQ(endless.Feed(reinterpret_cast<const std::uint8_t*>(data.data()), data.size(), parts),
            MultipartReader::Status::Ok);
  EXPECT_EQ(endless.Feed(reinterpret_cast<const std::uint8_t*>(data.data()), data.size(), parts),
            MultipartReader::Status::PartTooLarge);
  EXPECT_TRUE(parts.empty());
}

}  // namespace
}  // namespace zent::testing
