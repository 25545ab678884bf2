#include "service/private_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace zent {

std::string SecretFilePath(const char* credentialsDirectory, const char* configHome, const char* home,
                           const std::string& credential, const std::string& file) {
  if (credentialsDirectory && *credentialsDirectory) return std::string(credentialsDirectory) + "/" + credential;
  const std::string config = configHome && *configHome ? configHome : std::string(home ? home : "") + "/.config";
  return config + "/zent-client/" + file;
}

bool ReadPrivateFile(const std::string& path, const std::string& what, off_t maxBytes, std::string& text,
                     std::string& error) {
  // Non-blocking: a FIFO in its place must not hold the thread that waits for SIGTERM.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    error = "Cannot read the " + what + " " + path + ": " + std::strerror(errno);
    return false;
  }
  // The file actually opened is checked, so it cannot be swapped between the check and the read.
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    error = "The " + what + " " + path + " is not a regular file";
  } else if (info.st_uid != ::geteuid() && info.st_uid != 0) {
    error = "The " + what + " " + path + " belongs to another user (uid " + std::to_string(info.st_uid) +
            "); it must be this user's or root's";
  } else if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    error = "The " + what + " " + path + " may be read by other users (mode " + mode +
            "); make it private with: chmod 600 " + path;
  } else if (info.st_size > maxBytes) {
    error = "The " + what + " " + path + " is larger than " + std::to_string(maxBytes >> 10) + " kB";
  } else {
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
    explicit_bzero(buffer, sizeof buffer);
  }
  ::close(fd);
  return error.empty();
}

bool WritePrivateFile(const std::string& path, const std::string& text, std::string& error) {
  // A first account or token on a fresh machine: its folder may not exist yet, and is private too.
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
    ::mkdir(path.substr(0, slash).c_str(), 0700);
  const std::string temporary = path + ".new";
  ::unlink(temporary.c_str());
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    error = "Cannot write " + temporary + ": " + std::strerror(errno);
    return false;
  }
  bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && ::fsync(fd) == 0;
  const int writeErrno = errno;
  written = ::close(fd) == 0 && written;
  if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
    error = "Cannot write " + path + ": " + std::strerror(written ? errno : writeErrno);
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace zent
