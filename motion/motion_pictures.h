#pragma once
// The small grey pictures motion is decided on, taken from a camera's packets as cheaply as the
// codec allows: a JPEG only when a picture is due, decoded at a quarter or an eighth of its size;
// H.264 either every picture (a small stream made for this) or, from the stream that is
// recorded, its key frames only. Everything is scaled to about 160 pixels wide. One thread only.

#include <chrono>
#include <memory>
#include <optional>

#include "motion/motion_detector.h"
#include "record/ffmpeg_ptr.h"

namespace zent {

inline constexpr int kMotionWidth = 160;

class MotionPictures {
 public:
  using Clock = std::chrono::steady_clock;
  // `everyPicture`: the stream is decoded whole (a sub-stream); otherwise inter-coded streams are
  // looked at only at their key frames.
  explicit MotionPictures(bool everyPicture) : everyPicture_(everyPicture) {}

  // The grey picture of `packet` when one is due: about five a second, or every picture while
  // `eager` (something began to move and is to be confirmed soon).
  std::optional<GreyPicture> Take(const AVPacket& packet, const AVCodecParameters& parameters, Clock::time_point at,
                                  bool eager);
  // A new connection: what follows does not continue what came before.
  void Reset();
  // Pictures decoded so far, for the benchmark.
  std::uint64_t Decoded() const { return decoded_; }

 private:
  bool Open(const AVCodecParameters& parameters);
  std::optional<GreyPicture> Grey(const AVFrame& frame);

  const bool everyPicture_;
  CodecPtr decoder_;
  int codec_ = 0, width_ = 0, height_ = 0, lowres_ = 0;
  int learnedWidth_ = 0;  // from a picture, where the stream does not say
  bool needsKey_ = true;
  Clock::time_point lastTaken_{};
  ScalerPtr scaler_;
  std::uint64_t decoded_ = 0;
};

}  // namespace zent
