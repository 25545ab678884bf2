#include "record/first_packet_times.h"

#include <algorithm>

namespace zent {

FirstPacketTimes::FirstPacketTimes(std::int64_t frameDuration, std::size_t maxHeld)
    : frameDuration_(std::max<std::int64_t>(frameDuration, 1)), maxHeld_(std::max<std::size_t>(maxHeld, 1)) {}

void FirstPacketTimes::Push(PacketPtr packet) {
  if (settled_) {
    ready_.push_back(std::move(packet));
    return;
  }
  const bool says = packet->dts != AV_NOPTS_VALUE;
  held_.push_back(std::move(packet));
  if (says) Settle();
  else if (held_.size() >= maxHeld_) Flush();  // a stream that never says: its packets are not kept back
}

void FirstPacketTimes::Settle() {
  // Decoded one frame apart up to the first that says when; a picture time missing (the key
  // frame's) is a frame before the earliest picture decoded after it, as in a closed group.
  const std::int64_t firstDts = held_.back()->dts;
  const std::size_t count = held_.size();
  std::int64_t earliestLater = AV_NOPTS_VALUE;
  for (std::size_t i = count; i-- > 0;) {
    AVPacket& p = *held_[i];
    const std::int64_t step = p.duration > 0 ? p.duration : frameDuration_;
    if (p.dts == AV_NOPTS_VALUE) p.dts = firstDts - static_cast<std::int64_t>(count - 1 - i) * step;
    if (p.pts == AV_NOPTS_VALUE)
      p.pts = earliestLater == AV_NOPTS_VALUE ? p.dts : std::max(p.dts, earliestLater - step);
    earliestLater = earliestLater == AV_NOPTS_VALUE ? p.pts : std::min(earliestLater, p.pts);
  }
  Flush();
}

void FirstPacketTimes::Flush() {
  settled_ = true;
  for (PacketPtr& p : held_) ready_.push_back(std::move(p));
  held_.clear();
}

PacketPtr FirstPacketTimes::Pop() {
  if (ready_.empty()) return nullptr;
  PacketPtr next = std::move(ready_.front());
  ready_.pop_front();
  return next;
}

}  // namespace zent
