#include "record/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "config/paths.h"

namespace zent {
namespace {

constexpr int kIoBufferBytes = 64 << 10;
constexpr std::size_t kGatherBelow = 64u << 10;  // writes smaller than this are gathered
constexpr std::size_t kGatherUpTo = 256u << 10;

std::string NumberedName(const std::string& wanted, int n) {
  const std::string suffix = "-" + std::to_string(n);
  const std::size_t dot = wanted.size() >= 4 ? wanted.size() - 4 : std::string::npos;
  if (dot != std::string::npos &&
      (strcasecmp(wanted.c_str() + dot, ".avi") == 0 || strcasecmp(wanted.c_str() + dot, ".mp4") == 0))
    return wanted.substr(0, dot) + suffix + wanted.substr(dot);
  return wanted + suffix;
}

}  // namespace

void UniqueFd::Reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

CreatedFile CreateFreeFile(const std::string& wanted, std::string& error) {
  CreatedFile file;
  const std::size_t slash = wanted.rfind(kPathSeparator);
  if (wanted.empty() || wanted[0] != kPathSeparator || slash == std::string::npos || slash + 1 == wanted.size()) {
    error = "not a full path to a file";
    return file;
  }
  const std::string folderPath = slash == 0 ? std::string(1, kPathSeparator) : wanted.substr(0, slash);
  auto folder = std::make_shared<UniqueFd>(::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!*folder) {
    error = std::strerror(errno);
    return file;
  }
  const std::string wantedName = wanted.substr(slash + 1);
  for (int n = 0; n < 10000; ++n) {
    const std::string name = n == 0 ? wantedName : NumberedName(wantedName, n);
    UniqueFd fd(::openat(folder->Get(), name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (fd) {
      file.path = JoinPath(folderPath == "/" ? "" : folderPath, name);
      file.name = name;
      file.folder = std::move(folder);
      file.fd = std::move(fd);
      return file;
    }
    if (errno != EEXIST) {
      error = std::strerror(errno);
      return file;
    }
  }
  error = "no free file name";
  return file;
}

CreatedFile CreateFileInTime(const std::string& wanted, std::string& error) {
  // On a thread of its own: a disk that does not answer (a frozen or stalled file system) would
  // otherwise hold the caller, a window or a camera's cycle, until it answers again.
  struct Creation {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool abandoned = false;
    CreatedFile file;
    std::string error;
  };
  auto creation = std::make_shared<Creation>();
  try {
    std::thread([creation, wanted] {
      std::string why;
      CreatedFile file = CreateFreeFile(wanted, why);
      std::lock_guard lock(creation->mutex);
      if (creation->abandoned) {
        if (file.folder) DeleteIn(*file.folder, file.name);  // nobody records into it any more
      } else {
        creation->file = std::move(file);
        creation->error = std::move(why);
      }
      creation->finished = true;
      creation->done.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return CreateFreeFile(wanted, error);
  }
  std::unique_lock lock(creation->mutex);
  if (!creation->done.wait_for(lock, kCreateFileTimeout, [&] { return creation->finished; })) {
    creation->abandoned = true;
    error = "the disk does not answer";
    return {};
  }
  error = std::move(creation->error);
  return std::move(creation->file);
}

bool DeleteIn(const UniqueFd& folder, const std::string& name) {
  return ::unlinkat(folder.Get(), name.c_str(), 0) == 0;
}

UniqueFd OpenRecordingForReading(const std::string& path, std::string& error) {
  // Non-blocking, so that opening a FIFO planted under a recording's name cannot wait for a writer.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd) {
    error = errno == ELOOP ? "a link, not a recording" : std::strerror(errno);
    return fd;
  }
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    error = "not a regular file";
    return UniqueFd();
  }
  return fd;
}

std::unique_ptr<FdIo> FdIo::ForWriting(UniqueFd fd) {
  std::unique_ptr<FdIo> io(new FdIo(std::move(fd), std::chrono::steady_clock::time_point::max()));
  auto* buffer = static_cast<std::uint8_t*>(av_malloc(kIoBufferBytes));
  if (!buffer) return nullptr;
  io->context_ = avio_alloc_context(buffer, kIoBufferBytes, 1, io.get(), nullptr, &FdIo::Write, &FdIo::Seek);
  if (!io->context_) {
    av_free(buffer);
    return nullptr;
  }
  // A frame goes from its packet to the file without a copy into the buffer; only the muxer's
  // small headers and index are gathered there.
  io->context_->direct = 1;
  return io;
}

std::unique_ptr<FdIo> FdIo::ForReading(UniqueFd fd, std::chrono::steady_clock::time_point deadline) {
  std::unique_ptr<FdIo> io(new FdIo(std::move(fd), deadline));
  auto* buffer = static_cast<std::uint8_t*>(av_malloc(kIoBufferBytes));
  if (!buffer) return nullptr;
  io->context_ = avio_alloc_context(buffer, kIoBufferBytes, 0, io.get(), &FdIo::Read, nullptr, &FdIo::Seek);
  if (!io->context_) {
    av_free(buffer);
    return nullptr;
  }
  return io;
}

FdIo::~FdIo() {
  if (context_) {
    av_freep(&context_->buffer);
    avio_context_free(&context_);
  }
}

int FdIo::Close() {
  int result = 0;
  if (context_) {
    avio_flush(context_);
    result = context_->error;
  }
  if (const int drained = Drain(); drained < 0 && result >= 0) result = drained;
  if (fd_ && ::close(fd_.Release()) != 0 && result >= 0) result = AVERROR(errno);
  return result;
}

int FdIo::Read(void* opaque, std::uint8_t* buffer, int size) {
  auto* io = static_cast<FdIo*>(opaque);
  if (std::chrono::steady_clock::now() > io->deadline_) return AVERROR_EXIT;
  for (;;) {
    const ssize_t n = ::read(io->fd_.Get(), buffer, static_cast<std::size_t>(size));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return AVERROR(errno);
    return n == 0 ? AVERROR_EOF : static_cast<int>(n);
  }
}

#if LIBAVFORMAT_VERSION_MAJOR >= 61
int FdIo::Write(void* opaque, const std::uint8_t* buffer, int size) {
#else
int FdIo::Write(void* opaque, std::uint8_t* buffer, int size) {
#endif
  auto* io = static_cast<FdIo*>(opaque);
  const auto bytes = static_cast<std::size_t>(size);
  if (bytes < kGatherBelow) {
    io->gathered_.insert(io->gathered_.end(), buffer, buffer + bytes);
    if (io->gathered_.size() >= kGatherUpTo) {
      const int result = io->Drain();
      if (result < 0) return result;
    }
    return size;
  }
  // What was gathered goes first, with the frame, in one call.
  const int result = io->WriteOut(io->gathered_.data(), io->gathered_.size(), buffer, bytes);
  io->gathered_.clear();
  return result < 0 ? result : size;
}

int FdIo::Drain() {
  const int result = WriteOut(gathered_.data(), gathered_.size(), nullptr, 0);
  gathered_.clear();
  return result;
}

int FdIo::WriteOut(const std::uint8_t* first, std::size_t firstSize, const std::uint8_t* second,
                   std::size_t secondSize) {
  iovec parts[2] = {{const_cast<std::uint8_t*>(first), firstSize}, {const_cast<std::uint8_t*>(second), secondSize}};
  int index = firstSize > 0 ? 0 : 1;
  while (index < 2 && (index == 0 || parts[1].iov_len > 0)) {
    const ssize_t n = ::writev(fd_.Get(), parts + index, 2 - index);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return AVERROR(errno);
    if (n == 0) return AVERROR(EIO);
    auto left = static_cast<std::size_t>(n);
    while (index < 2 && left >= parts[index].iov_len) left -= parts[index++].iov_len;
    if (index < 2) {
      parts[index].iov_base = static_cast<std::uint8_t*>(parts[index].iov_base) + left;
      parts[index].iov_len -= left;
    }
  }
  return 0;
}

std::int64_t FdIo::Seek(void* opaque, std::int64_t offset, int whence) {
  auto* io = static_cast<FdIo*>(opaque);
  if (const int drained = io->Drain(); drained < 0) return drained;  // what was gathered lies before here
  if (whence & AVSEEK_SIZE) {
    struct stat info {};
    return ::fstat(io->fd_.Get(), &info) == 0 ? static_cast<std::int64_t>(info.st_size) : AVERROR(errno);
  }
  const off_t at = ::lseek(io->fd_.Get(), static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
  return at < 0 ? AVERROR(errno) : static_cast<std::int64_t>(at);
}

}  // namespace zent
