#include "record/pre_event_buffer.h"

namespace zent {
namespace {

// A recording is asked for a moment after its event (the recording window's start takes 200 ms):
// the buffer reaches back this much further, so the key frame before the event is still there.
constexpr double kStartMarginSeconds = 1.0;

}  // namespace

void PreEventBuffer::SetSeconds(double seconds) {
  seconds_ = seconds > 0 ? seconds : 0;
  if (seconds_ == 0) Clear();
}

bool PreEventBuffer::IsKey(const RecordedPacket& job) { return job.packet && (job.packet->flags & AV_PKT_FLAG_KEY); }

void PreEventBuffer::DropFront() {
  bytes_ -= static_cast<std::size_t>(jobs_.front().packet->size);
  jobs_.pop_front();
}

bool PreEventBuffer::DropOldestGroup() {
  if (jobs_.empty()) return false;
  DropFront();
  while (!jobs_.empty() && !IsKey(jobs_.front())) DropFront();
  return true;
}

void PreEventBuffer::Push(RecordedPacket job) {
  if (seconds_ == 0 || !job.packet) return;
  if (jobs_.empty() && !IsKey(job)) return;  // nothing decodes before the first key frame
  bytes_ += static_cast<std::size_t>(job.packet->size);
  jobs_.push_back(std::move(job));

  // Keep from the newest key frame that is old enough: the groups before it are not needed.
  const auto horizon = jobs_.back().arrival - std::chrono::duration_cast<Clock::duration>(
                                                  std::chrono::duration<double>(seconds_ + kStartMarginSeconds));
  std::size_t keep = 0;
  for (std::size_t i = 1; i < jobs_.size() && jobs_[i].arrival <= horizon; ++i)
    if (IsKey(jobs_[i])) keep = i;
  for (; keep > 0; --keep) DropFront();

  // The bound in bytes wins: whole groups go, oldest first.
  while (bytes_ > maxBytes_) {
    DropFront();
    while (!jobs_.empty() && !IsKey(jobs_.front())) DropFront();
  }
}

std::vector<RecordedPacket> PreEventBuffer::Take(Clock::time_point event) const {
  const auto from = event - std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds_));
  std::size_t start = 0;
  for (std::size_t i = 0; i < jobs_.size() && jobs_[i].arrival <= from; ++i)
    if (IsKey(jobs_[i])) start = i;
  std::vector<RecordedPacket> taken;
  taken.reserve(jobs_.size() - start);
  for (std::size_t i = start; i < jobs_.size(); ++i) taken.push_back(SharePacket(jobs_[i]));
  return taken;
}

void PreEventBuffer::Clear() {
  jobs_.clear();
  bytes_ = 0;
}

}  // namespace zent
