#pragma once
// A camera's H.264 packets as fragmented MP4, as they come: the header (an empty `moov`) before
// the first, then a fragment a packet, so a browser's <video> plays from the first key frame
// without waiting for a file to end. Nothing is decoded or encoded.

#include <cstdint>
#include <memory>
#include <string>

#include "record/camera_feed.h"
#include "record/ffmpeg_ptr.h"

namespace zent {

class LiveMp4 {
 public:
  // For the stream `first` (a key frame) belongs to; null with the reason when it cannot be muxed.
  static std::unique_ptr<LiveMp4> Open(const LivePacket& first, std::string& error);
  ~LiveMp4();
  LiveMp4(const LiveMp4&) = delete;
  LiveMp4& operator=(const LiveMp4&) = delete;

  // False when `packet` is of another connection or picture size: a new MP4 must begin.
  bool Fits(const LivePacket& packet) const;
  // Appends the bytes to send for `packet` (the header before the first) to `out`.
  bool Add(const LivePacket& packet, std::string& out, std::string& error);

 private:
  LiveMp4() = default;
  static int Collect(void* self, std::uint8_t* data, int size);

  OutputPtr output_;
  AVIOContext* io_ = nullptr;
  std::string* sink_ = nullptr;
  std::shared_ptr<const AVCodecParameters> parameters_;
  std::uint64_t segment_ = 0;
  bool headerWritten_ = false;
  std::int64_t firstTs_ = AV_NOPTS_VALUE;  // in the packets' own time base
  std::chrono::steady_clock::time_point firstArrival_;
  std::int64_t lastDts_ = AV_NOPTS_VALUE;
  std::int64_t lastDuration_ = 1;  // what the last frame's fragment said it lasts
};

}  // namespace zent
