#pragma once
// An H.264 recording as an MP4 a browser plays and seeks: its packets copied, nothing decoded or
// encoded, the index at the front (+faststart).

#include <string>

namespace zent {

// Writes `mp4` whole or not at all (a temporary file renamed); false with the reason.
bool RemuxToMp4(const std::string& avi, const std::string& mp4, std::string& error);

}  // namespace zent
