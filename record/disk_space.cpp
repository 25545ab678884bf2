#include "record/disk_space.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <cstdio>

#include "config/paths.h"

namespace zent {

std::int64_t FreeBytes(const std::string& path) {
  const std::string folder = DirectoryPart(path);
  const bool inRoot = folder.empty() && !path.empty() && path[0] == kPathSeparator;
  const char* where = !folder.empty() ? folder.c_str() : inRoot ? "/" : ".";
  struct statvfs info {};
  if (::statvfs(where, &info) != 0) return -1;
  return static_cast<std::int64_t>(info.f_bavail) * static_cast<std::int64_t>(info.f_frsize);
}

std::int64_t NeededBytes(const DiskGuard& guard, double bytesPerSecond) {
  if (guard.reserveBytes <= 0) return 0;
  return std::max(guard.reserveBytes, static_cast<std::int64_t>(bytesPerSecond * guard.minimumSeconds));
}

std::string SizeText(std::int64_t bytes) {
  char text[32];
  const double value = static_cast<double>(bytes);
  if (value >= 1e9) std::snprintf(text, sizeof text, "%.1f GB", value / 1e9);
  else if (value >= 1e6) std::snprintf(text, sizeof text, "%.1f MB", value / 1e6);
  else std::snprintf(text, sizeof text, "%lld kB", static_cast<long long>((bytes + 999) / 1000));
  return text;
}

}  // namespace zent
