#include "service/credentials.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "link/protocol.h"

namespace zent {
namespace {

std::string LineError(const std::string& path, int line, const std::string& what) {
  return path + " line " + std::to_string(line) + ": " + what;
}

}  // namespace

std::string CredentialsPath(const char* credentialsDirectory, const char* configHome, const char* home) {
  if (credentialsDirectory && *credentialsDirectory) return std::string(credentialsDirectory) + "/zent-recorder";
  const std::string config = configHome && *configHome ? configHome : std::string(home ? home : "") + "/.config";
  return config + "/zent-client/credentials";
}

CredentialsFile ReadCredentials(const std::string& path) {
  CredentialsFile result;
  result.path = path;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    result.error = "Cannot read the credentials file " + path + ": " + std::strerror(errno);
    return result;
  }
  // The mode of the file actually opened, so it cannot be swapped between the check and the read.
  struct stat info {};
  std::string text;
  if (::fstat(fd, &info) == 0 && (info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    result.error = "The credentials file " + path + " may be read by other users (mode " + mode +
                   "); make it private with: chmod 600 " + path;
  } else {
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  if (!result.error.empty()) return result;

  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream fields(line);
    std::string address, id, password, extra;
    fields >> address;
    if (address.empty() || address[0] == '#') continue;
    // The line itself is never quoted back: it holds a password.
    if (!(fields >> id >> password) || (fields >> extra)) {
      result.error = LineError(path, number, "expected ADDRESS ID PASSWORD");
    } else if (id.size() > kMaxUserIdBytes || password.size() > kMaxPasswordBytes) {
      result.error = LineError(path, number,
                               "the ID may have at most " + std::to_string(kMaxUserIdBytes) +
                                   " bytes and the password " + std::to_string(kMaxPasswordBytes));
    } else if (!result.cameras.emplace(address, CameraCredentials{id, password}).second) {
      result.error = LineError(path, number, "a second line for " + address);
    }
    if (!result.error.empty()) {
      result.cameras.clear();
      return result;
    }
  }
  return result;
}

}  // namespace zent
