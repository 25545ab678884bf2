#pragma once
// FFmpeg leaves the first packets of a connection without a decode time (and the first key frame
// without a picture time) while it is still learning how far the stream reorders its pictures.
// Placed by their arrival instead, the first pictures of a stream with B-frames would be shown out
// of order and every later one a few frames late. These first packets are held until the first
// packet that has a decode time, and given the times the stream itself implies.

#include <cstddef>
#include <cstdint>
#include <deque>

#include "record/ffmpeg_ptr.h"

namespace zent {

class FirstPacketTimes {
 public:
  // `frameDuration`: one frame in the stream's time base, for a packet that says none.
  explicit FirstPacketTimes(std::int64_t frameDuration, std::size_t maxHeld = 16);

  // The stream's next packet, in the order it was read.
  void Push(PacketPtr packet);
  // The stream ended: what is held goes on as it is.
  void Flush();
  // The next packet whose times are settled, in the order read; null when none is.
  PacketPtr Pop();
  // Every packet from here on goes on as it is read.
  bool Settled() const { return settled_ && ready_.empty(); }

 private:
  void Settle();  // the last packet held says when it is decoded

  std::int64_t frameDuration_;
  std::size_t maxHeld_;
  bool settled_ = false;
  std::deque<PacketPtr> held_;
  std::deque<PacketPtr> ready_;
};

}  // namespace zent
