#pragma once
// The free space on the recordings' disk, and how much a recording must leave there.

#include <cstdint>
#include <string>

namespace zent {

// What a recording keeps free on its disk.
struct DiskGuard {
  std::int64_t reserveBytes = 0;  // 0: no check
  bool deleteOldest = false;      // below it, delete this program's oldest recordings first
  // Never less than this much of the stream at its measured rate, so one more stretch of it fits.
  double minimumSeconds = 60;

  bool operator==(const DiskGuard&) const = default;
};

// How long a camera's recordings are kept, and how much of the disk they may take: those whose
// name says they are older than `keepDays`, and the oldest while all of them together take more
// than `maxBytes`, are deleted at the recorder's start, before each recording and every hour. Only
// names this program gives, never the file being made, never one a person marked kept.
struct Retention {
  std::string folder;
  std::string stem;
  int keepDays = 0;           // 0: for ever
  std::int64_t maxBytes = 0;  // 0: no limit

  bool operator==(const Retention&) const = default;
};

// Bytes an ordinary writer may still use on the file system of `path`'s folder; -1 when unknown.
std::int64_t FreeBytes(const std::string& path);

// What must stay free: the reserve, or more for a stream of `bytesPerSecond`.
std::int64_t NeededBytes(const DiskGuard& guard, double bytesPerSecond);

// "1.2 GB", "850.3 MB", "12 kB": for status lines and the Recordings window.
std::string SizeText(std::int64_t bytes);

}  // namespace zent
