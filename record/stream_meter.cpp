#include "record/stream_meter.h"

#include <algorithm>
#include <cmath>

namespace zent {
namespace {

constexpr auto kRateWindow = std::chrono::seconds(2);

}  // namespace

void StreamMeter::Arrived(Clock::time_point at, int bytes) {
  arrivals_.push_back(at);
  while (arrivals_.front() < at - kRateWindow) arrivals_.pop_front();
  // An exponential average, so that one late burst does not swing it.
  if (lastArrival_ != Clock::time_point{}) {
    const double gap = std::chrono::duration<double>(at - lastArrival_).count();
    const double weight = std::min(1.0, gap / std::chrono::duration<double>(kRateWindow).count());
    if (gap > 0) bytesPerSecond_ = bytesPerSecond_ * (1 - weight) + (static_cast<double>(bytes) / gap) * weight;
  }
  lastArrival_ = at;
}

// Their span over their number, which a burst after a delay does not distort. A rate close to a
// whole number is taken as that number.
std::optional<AVRational> StreamMeter::FrameRate() const {
  if (arrivals_.size() < 3) return std::nullopt;
  const double span = std::chrono::duration<double>(arrivals_.back() - arrivals_.front()).count();
  if (span <= 0) return std::nullopt;
  const double rate = static_cast<double>(arrivals_.size() - 1) / span;
  const double whole = std::round(rate);
  if (whole >= 1 && std::fabs(rate - whole) <= 0.03 * whole) return AVRational{static_cast<int>(whole), 1};
  return av_d2q(rate, 100000);
}

}  // namespace zent
