#pragma once
// A recording a person wants kept: an empty file NAME.keep beside it. Retention, the size limit
// and the disk guard pass it by; a person can still delete it. A file beside the recording, not an
// extended attribute: it moves and is copied with the folder by any tool and onto any file system
// (tmpfs, FAT and network shares among them keep no user attributes), and a person can see it.

#include <string>

namespace zent {

std::string KeptMarkPath(const std::string& recordingPath);
bool IsKept(const std::string& recordingPath);
// Marks or releases the recording; false with the reason in `error`.
bool SetKept(const std::string& recordingPath, bool keep, std::string& error);

}  // namespace zent
