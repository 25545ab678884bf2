#pragma once
// Splits a multipart/x-mixed-replace body (Motion JPEG over HTTP) into its parts, with a bound on
// every part: a camera that sends a part without end, or declares an absurd Content-Length, is
// refused before its bytes are buffered, never allowed to take the process's memory.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zent {

// Above any real camera's JPEG; a part larger than this ends the stream.
inline constexpr std::size_t kMaxPartBytes = 32u << 20;
inline constexpr std::size_t kMaxPartHeaderBytes = 16u << 10;

// The boundary of a Content-Type such as `multipart/x-mixed-replace; boundary="frame"`; empty when
// the type is not multipart or names no boundary.
std::string MultipartBoundary(std::string_view contentType);

class MultipartReader {
 public:
  enum class Status { Ok, PartTooLarge, BadHeader };

  // `boundary` as the Content-Type names it; a leading "--" in it is tolerated. Empty: any line
  // that starts with "--" delimits.
  explicit MultipartReader(std::string boundary, std::size_t maxPartBytes = kMaxPartBytes);

  // Takes the next bytes of the body; every part they complete is appended to `parts`. After a
  // status other than Ok the reader takes nothing more.
  Status Feed(const std::uint8_t* data, std::size_t size, std::vector<std::vector<std::uint8_t>>& parts);

  // Bytes held for a part not yet complete (never more than the bound plus one read).
  std::size_t Buffered() const { return buffer_.size(); }

 private:
  enum class State { Preamble, Headers, SizedBody, OpenBody };
  bool IsDelimiterLine(std::string_view line) const;
  // Searches `buffer_` from `from` for a delimiter line; its start (the CR LF before it
  // included), or npos.
  std::size_t FindDelimiter(std::size_t from) const;

  const std::string boundary_;  // without the leading "--"
  const std::size_t maxPart_;
  State state_ = State::Preamble;
  Status status_ = Status::Ok;
  std::vector<std::uint8_t> buffer_;
  std::size_t contentLength_ = 0;
  bool sized_ = false;
  std::size_t scanned_ = 0;  // OpenBody: bytes of buffer_ already searched for a delimiter
};

}  // namespace zent
