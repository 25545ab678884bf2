#pragma once
// A picture as a JPEG file's bytes, by libavcodec's encoder: for thumbnails served to a browser.

#include <string>

#include <vector>

#include "record/camera_feed.h"
#include "record/thumbnail.h"

namespace zent {

// Empty when the picture cannot be encoded.
std::string EncodeJpeg(const Thumbnail& picture, int quality = 80);

// The newest picture of a camera's live feed as JPEG: a Motion JPEG camera's own bytes, else the
// held key-frame group decoded. Empty when there is none.
std::string SnapshotJpeg(const std::vector<LivePacketPtr>& held);
// The newest picture of the feed's held packets, decoded and no larger than the bounds.
Thumbnail SnapshotPicture(const std::vector<LivePacketPtr>& held, int maxWidth, int maxHeight);

}  // namespace zent
