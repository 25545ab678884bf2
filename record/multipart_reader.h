#pragma once
// Splits a multipart/x-mixed-replace body (Motion JPEG over HTTP) into its parts, with a bound on
// every part: a camera that sends a part without end, or declares an absurd Content-Length, is
// refused before its bytes are buffered, never allowed to take the process's memory.
//
// Each part is read once, into a buffer of its own that is handed over whole: the caller reads
// the connection straight into Space(), so a JPEG whose length the camera declares is copied
// once on its way from the connection to the recording.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zent {

// Above any real camera's JPEG; a part larger than this ends the stream.
inline constexpr std::size_t kMaxPartBytes = 32u << 20;
inline constexpr std::size_t kMaxPartHeaderBytes = 16u << 10;
// Zero bytes after every part: decoders may read a little past a picture's end.
inline constexpr std::size_t kPartPadding = 64;

// The boundary of a Content-Type such as `multipart/x-mixed-replace; boundary="frame"`; empty when
// the type is not multipart or names no boundary.
std::string MultipartBoundary(std::string_view contentType);

// One part's bytes, followed by kPartPadding zero bytes once complete.
class PartBuffer {
 public:
  PartBuffer() = default;
  explicit PartBuffer(std::size_t capacity);
  std::uint8_t* data() const { return bytes_.get(); }
  std::size_t size() const { return size_; }
  std::size_t capacity() const { return capacity_; }
  bool empty() const { return size_ == 0; }
  void Resize(std::size_t size) { size_ = size; }  // at most capacity()
  // More room, keeping the bytes.
  void Reserve(std::size_t capacity);
  // Zeroes the padding after the bytes; done by the reader before a part is handed over.
  void Pad();
  // The bytes, capacity() + kPartPadding of them, for the caller to free with delete[].
  std::uint8_t* Release();
  std::string_view Text() const { return {reinterpret_cast<const char*>(data()), size_}; }

 private:
  std::unique_ptr<std::uint8_t[]> bytes_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

class MultipartReader {
 public:
  enum class Status { Ok, PartTooLarge, BadHeader };

  // `boundary` as the Content-Type names it; a leading "--" in it is tolerated. Empty: any line
  // that starts with "--" delimits.
  explicit MultipartReader(std::string boundary, std::size_t maxPartBytes = kMaxPartBytes);

  // Where the next bytes of the body are to be read to: up to `wanted` bytes, fewer where only
  // headers are expected. Never empty while the status is Ok.
  std::span<std::uint8_t> Space(std::size_t wanted);
  // `count` bytes were put at the start of the last Space(); every part they complete is
  // appended to `parts`. After a status other than Ok the reader takes nothing more.
  Status Commit(std::size_t count, std::vector<PartBuffer>& parts);
  // Space() and Commit() for bytes that are somewhere else already.
  Status Feed(const std::uint8_t* data, std::size_t size, std::vector<PartBuffer>& parts);

  // The body of a part whose length was declared is being read: Space() is exactly what is
  // still missing of it, so a reader may wait for all of it at once.
  bool ReadingSizedBody() const { return state_ == State::SizedBody && status_ == Status::Ok; }

  // Bytes held for a part not yet complete (never more than the bound plus one read).
  std::size_t Buffered() const { return (end_ - start_) + part_.capacity(); }

 private:
  enum class State { Preamble, Headers, SizedBody, OpenBody };
  bool IsDelimiterLine(std::string_view line) const;
  // Where a delimiter line starts in `text`, searching from `from`; npos when none does.
  std::size_t FindDelimiter(std::string_view text, std::size_t from) const;
  // A body ends before the line end that precedes its delimiter.
  static std::size_t BodyEnd(std::string_view text, std::size_t delimiter);
  // The next whole line of the line buffer, without its CR LF; false when it is not complete.
  bool NextLine(std::string_view& line);
  Status Run(std::vector<PartBuffer>& parts);
  Status Fail(Status status);
  void Emit(std::vector<PartBuffer>& parts);

  const std::string boundary_;  // without the leading "--"
  const std::string needle_;    // what starts a delimiter line
  const std::size_t maxPart_;
  State state_ = State::Preamble;
  Status status_ = Status::Ok;
  // Lines between parts: bytes [start_, end_) of lines_ are still to be read, and up to
  // lineScanned_ they hold no line end.
  std::vector<std::uint8_t> lines_;
  std::size_t start_ = 0;
  std::size_t end_ = 0;
  std::size_t lineScanned_ = 0;
  PartBuffer part_;           // the body being read; none yet while it lies among the lines
  bool spaceInPart_ = false;  // the last Space() lay in part_
  std::size_t contentLength_ = 0;
  bool sized_ = false;
  std::size_t scanned_ = 0;  // OpenBody: bytes of the body already searched for a delimiter
  std::size_t lastOpenPart_ = 0;
};

}  // namespace zent
