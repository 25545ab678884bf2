#include "record/kept_mark.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace zent {

std::string KeptMarkPath(const std::string& recordingPath) { return recordingPath + ".keep"; }

bool IsKept(const std::string& recordingPath) {
  struct stat info {};
  return ::lstat(KeptMarkPath(recordingPath).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool SetKept(const std::string& recordingPath, bool keep, std::string& error) {
  const std::string mark = KeptMarkPath(recordingPath);
  if (keep) {
    // Never through a link planted in its place, never over another file.
    const int fd = ::open(mark.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) {
      error = std::strerror(errno);
      return false;
    }
    ::close(fd);
    return true;
  }
  if (::unlink(mark.c_str()) != 0 && errno != ENOENT) {
    error = std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace zent
