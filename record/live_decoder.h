#pragma once
// The small live picture: decodes no larger than it is shown, waits for a key frame rather than
// show smears, and scales to the display's shape. Reader thread only.

#include <memory>

#include "record/ffmpeg_ptr.h"
#include "record/video_listener.h"

namespace zent {

class LiveDecoder {
 public:
  // Feeds `packet` of a width×height stream; with `wantPicture`, returns the newest picture
  // fitted into displayWidth×displayHeight, else nothing.
  std::shared_ptr<VideoPicture> Decode(const AVPacket& packet, const AVCodecParameters& parameters, int width,
                                       int height, int displayWidth, int displayHeight, bool wantPicture);
  // Lets go of the decoder and what it predicts from; the next picture starts at a key frame.
  void Reset();
  bool Open() const { return decoder_ != nullptr; }

 private:
  CodecPtr decoder_;
  int lowres_ = -1;
  bool needsKey_ = true;
  ScalerPtr scaler_;
};

}  // namespace zent
