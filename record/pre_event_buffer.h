#pragma once
// The last seconds of the camera's packets, kept while the viewer runs, so that a recording can
// begin before the event that asked for it. It always starts at a key frame and drops whole
// key-frame groups, so whatever it hands over decodes from its first packet.

#include <chrono>
#include <cstddef>
#include <deque>
#include <vector>

#include "record/recorder.h"

namespace zent {

// Above what 30 s of a 1080p camera takes; the bound wins over the seconds asked for.
inline constexpr std::size_t kMaxPreEventBytes = 256u << 20;

class PreEventBuffer {
 public:
  using Clock = std::chrono::steady_clock;

  explicit PreEventBuffer(std::size_t maxBytes = kMaxPreEventBytes) : maxBytes_(maxBytes) {}

  // How far back the buffer reaches; 0 keeps nothing.
  void SetSeconds(double seconds);
  double Seconds() const { return seconds_; }

  // Keeps `job` (a packet with its arrival, key flag and stream details) and lets go of what is
  // older than needed.
  void Push(RecordedPacket job);
  // The packets from the last key frame at or before `event` minus the seconds on, oldest first
  // (from the oldest key frame when the viewer has not run that long). The buffer keeps them: an
  // event soon after this one reaches back over the same seconds.
  std::vector<RecordedPacket> Take(Clock::time_point event) const;
  void Clear();
  // Lets go of the oldest key frame and the frames that depend on it, to make room; false when
  // nothing was held.
  bool DropOldestGroup();

  std::size_t Bytes() const { return bytes_; }
  std::size_t Packets() const { return jobs_.size(); }

 private:
  static bool IsKey(const RecordedPacket& job);
  void DropFront();

  const std::size_t maxBytes_;
  double seconds_ = 0;
  std::deque<RecordedPacket> jobs_;
  std::size_t bytes_ = 0;
};

}  // namespace zent
