#pragma once
// What the arrivals of a camera's packets say about its stream: the frame rate a stream without
// time stamps of its own is recorded at, and the data rate the disk guard plans with.

#include <atomic>
#include <chrono>
#include <deque>
#include <optional>

extern "C" {
#include <libavutil/rational.h>
}

namespace zent {

class StreamMeter {
 public:
  using Clock = std::chrono::steady_clock;

  // Forgets the arrivals: a gap while the stream was away, or pictures of another size, are no
  // frame interval.
  void Restart() { arrivals_.clear(); }
  void Arrived(Clock::time_point at, int bytes);
  // The frame rate over the recent arrivals; none before there are enough of them.
  std::optional<AVRational> FrameRate() const;
  // Bytes a second, averaged over about 2 s; read from any thread.
  double BytesPerSecond() const { return bytesPerSecond_; }

 private:
  std::deque<Clock::time_point> arrivals_;
  Clock::time_point lastArrival_;
  std::atomic<double> bytesPerSecond_{0};
};

}  // namespace zent
