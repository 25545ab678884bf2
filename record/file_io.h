#pragma once
// Files that FFmpeg reads and writes through descriptors we opened ourselves: FFmpeg never opens
// a path, so a saving path is never taken for a URL, a name swapped for a link between our check
// and FFmpeg's open is never followed, and a recording is written into the very file that was
// created for it without overwriting anything.

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "record/ffmpeg_ptr.h"

namespace zent {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  int Get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset(int fd = -1);

 private:
  int fd_ = -1;
};

// A recording's file, created exclusively, and the folder it was created in, opened once: the
// file is written through `fd`, and deleted by name in that folder only.
struct CreatedFile {
  std::string path;
  std::string name;  // in `folder`
  std::shared_ptr<UniqueFd> folder;
  UniqueFd fd;
};

// Creates `wanted` (a full path), or the first free STEM-1.avi, STEM-2.avi, … when it exists: an
// existing file is never overwritten, a link never followed. Empty path and the reason in `error`
// on failure.
CreatedFile CreateFreeFile(const std::string& wanted, std::string& error);

// How long a recording's start waits for its file to be created before it gives up.
inline constexpr std::chrono::milliseconds kCreateFileTimeout{1000};

// CreateFreeFile, given up after kCreateFileTimeout; a file created later is deleted again.
CreatedFile CreateFileInTime(const std::string& wanted, std::string& error);

// Deletes `name` in the folder; false with errno set when it could not.
bool DeleteIn(const UniqueFd& folder, const std::string& name);

// An FFmpeg I/O context over a descriptor it owns.
class FdIo {
 public:
  // Writing a file from its start, with seeking (the AVI index is written last).
  static std::unique_ptr<FdIo> ForWriting(UniqueFd fd);
  // Reading a file; every read after `deadline` fails, so a file that stalls cannot hold its reader.
  static std::unique_ptr<FdIo> ForReading(UniqueFd fd, std::chrono::steady_clock::time_point deadline);
  ~FdIo();
  FdIo(const FdIo&) = delete;
  FdIo& operator=(const FdIo&) = delete;

  AVIOContext* Context() const { return context_; }
  // Hands what is gathered to the kernel (after the context's own flush); an FFmpeg error when
  // the file refused it.
  int Drain();
  // Writes out what is buffered and closes the file; an FFmpeg error when either failed.
  int Close();

 private:
  FdIo(UniqueFd fd, std::chrono::steady_clock::time_point deadline) : fd_(std::move(fd)), deadline_(deadline) {}
  static int Read(void* opaque, std::uint8_t* buffer, int size);
#if LIBAVFORMAT_VERSION_MAJOR >= 61
  static int Write(void* opaque, const std::uint8_t* buffer, int size);
#else
  static int Write(void* opaque, std::uint8_t* buffer, int size);
#endif
  static std::int64_t Seek(void* opaque, std::int64_t offset, int whence);

  // Writes `first` then `second` whole; an FFmpeg error when the file refused.
  int WriteOut(const std::uint8_t* first, std::size_t firstSize, const std::uint8_t* second, std::size_t secondSize);

  UniqueFd fd_;
  std::chrono::steady_clock::time_point deadline_;
  AVIOContext* context_ = nullptr;
  // The muxer's small writes (chunk headers, padding, small frames), gathered so that a frame and
  // what precedes it reach the file in one call; a large frame is never copied.
  std::vector<std::uint8_t> gathered_;
};

// Opens a recording for reading: a regular file only, never through a link, never a
// FIFO or a device. Null with the reason in `error`.
UniqueFd OpenRecordingForReading(const std::string& path, std::string& error);

}  // namespace zent
