#include "log/status_line.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>

#include "config/paths.h"

namespace zent {

LogSettings LogSettingsOf(const CameraProfile& profile) {
  return {profile.logToFile, profile.logPeriod, profile.logPath, profile.logFileName};
}

std::tm LocalTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

std::string FormatStatusLine(const std::tm& time, std::string_view text) {
  char stamp[32];
  const std::size_t n = std::strftime(stamp, sizeof stamp, "%H:%M:%S : ", &time);
  std::string line(stamp, n);
  line += text;
  return line;
}

std::string LogFileName(const LogSettings& settings, const std::tm& time, std::string_view documentsFolder) {
  std::string logPath = !settings.logPath.empty() && settings.logPath[0] == kPathSeparator
                            ? settings.logPath
                            : JoinPath(documentsFolder, settings.logPath);
  const std::string dir = DirectoryPart(logPath);
  const int year = time.tm_year + 1900;
  const int month = time.tm_mon + 1;
  char stamp[32];
  switch (settings.logPeriod) {
    case LOG_PERIOD_DAY: std::snprintf(stamp, sizeof stamp, "%04d_%02d_%02d_", year, month, time.tm_mday); break;
    case LOG_PERIOD_MONTH: std::snprintf(stamp, sizeof stamp, "%04d_%02d_", year, month); break;
    case LOG_PERIOD_YEAR: std::snprintf(stamp, sizeof stamp, "%04d_", year); break;
    default: return logPath;
  }
  return JoinPath(dir, std::string(stamp) + settings.logFileName);
}

bool AppendLogLine(const std::string& path, std::string_view line) {
  static std::mutex appendMutex;
  std::string record(line);
  record += "\r\n";
  std::lock_guard lock(appendMutex);
  // Readable by the group at most: status lines name cameras, users and folders. A link in the
  // log's place is not followed, so nobody can have our lines appended to a file of their choice.
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0640);
  if (fd < 0) return false;
  std::size_t done = 0;
  bool ok = true;
  while (done < record.size()) {
    const ssize_t n = ::write(fd, record.data() + done, record.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return ok;
}

}  // namespace zent
