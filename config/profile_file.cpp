#include "config/profile_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace zent {
namespace {

std::string Reason(const char* what, const std::string& path, int err) {
  return std::string(what) + " " + path + ": " + std::strerror(err);
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// A link is followed so that the file it names is replaced, not the link.
std::string ResolveLink(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved)) return resolved;
  }
  return path;
}

WriteResult ReplaceFile(const std::string& requestedPath, const std::string& text) {
  const std::string path = ResolveLink(requestedPath);
  struct stat old {};
  const bool exists = ::stat(path.c_str(), &old) == 0;
  if (exists) {
    Fd probe(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
    if (probe.get() < 0) return {false, Reason("Cannot write", path, errno)};
  }

  static std::atomic<unsigned> counter{0};
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return {false, Reason("Cannot create a file beside", path, errno)};
  Fd file(fd);

  auto fail = [&](const char* what) {
    const int err = errno;
    ::unlink(temp.c_str());
    return WriteResult{false, Reason(what, path, err)};
  };
  if (!WriteAll(file.get(), text)) return fail("Cannot write");
  if (exists) {
    if (::fchmod(file.get(), old.st_mode & 07777) != 0) return fail("Cannot keep the permissions of");
    [[maybe_unused]] int ignored = ::fchown(file.get(), old.st_uid, old.st_gid);
  }
  if (::fsync(file.get()) != 0) return fail("Cannot write");
  if (::close(file.release()) != 0) return fail("Cannot write");
  if (::rename(temp.c_str(), path.c_str()) != 0) return fail("Cannot replace");
  return {};
}

}  // namespace

ReadResult ReadProfiles(const std::string& path, bool forWriting) {
  ReadResult result;
  Fd file(::open(path.c_str(), (forWriting ? O_RDWR : O_RDONLY) | O_CLOEXEC));
  if (file.get() < 0) {
    if (forWriting && errno != ENOENT) result.cannotWrite = Reason("Cannot write", path, errno);
    return result;
  }
  std::string text;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(file.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      result.error = Reason("Cannot read", path, errno);
      return result;
    }
    if (n == 0) break;
    text.append(buf, static_cast<std::size_t>(n));
  }
  result.opened = true;
  result.profiles = ParseProfiles(text);
  return result;
}

WriteResult WriteProfiles(const std::string& path, const ProfileList& profiles, WriteForm form) {
  std::string text;
  for (const auto& profile : profiles) text += FormatProfile(profile);
  if (text.empty() && form == WriteForm::Rewrite) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return {false, Reason("Cannot delete", path, errno)};
    return {};
  }
  return ReplaceFile(path, text);
}

void AppendProfile(ProfileList& profiles, const CameraProfile& profile) { profiles.push_back(profile); }

bool ReplaceProfile(ProfileList& profiles, int index, const CameraProfile& profile) {
  if (index < 0 || static_cast<std::size_t>(index) >= profiles.size()) return false;
  profiles[static_cast<std::size_t>(index)] = profile;
  return true;
}

bool DeleteProfile(ProfileList& profiles, int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= profiles.size()) return false;
  profiles.erase(profiles.begin() + index);
  return true;
}

}  // namespace zent
