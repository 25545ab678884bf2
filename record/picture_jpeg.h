#pragma once
// A picture as a JPEG file's bytes, by libavcodec's encoder: for thumbnails served to a browser.

#include <string>

#include "record/thumbnail.h"

namespace zent {

// Empty when the picture cannot be encoded.
std::string EncodeJpeg(const Thumbnail& picture, int quality = 80);

}  // namespace zent
