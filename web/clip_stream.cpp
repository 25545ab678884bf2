#include "web/clip_stream.h"

namespace zent {

ClipStream::ClipStream(std::vector<ClipSource> sources, WallClock::time_point from, WallClock::time_point to,
                       std::shared_ptr<void> slot, Done done)
    : slot_(std::move(slot)), thread_([this, sources = std::move(sources), from, to, done = std::move(done)] {
        ClipSummary summary;
        std::string error;
        const bool ok = WriteClip(
            sources, from, to, [this](const char* d, std::size_t n) { return Take(d, n); }, summary, error);
        std::function<void()> wake;
        {
          std::lock_guard lock(mutex_);
          made_ = true;
          wake = wake_;
        }
        if (done) done(ok, summary, error);
        if (wake) wake();
      }) {}

ClipStream::~ClipStream() {
  {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
  }
  room_.notify_all();
  thread_.join();
}

bool ClipStream::Take(const char* data, std::size_t size) {
  std::function<void()> wake;
  {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [this] { return cancelled_ || waitingBytes_ < kMaxWaitingBytes; });
    if (cancelled_) return false;
    waiting_.emplace_back(data, size);
    waitingBytes_ += size;
    wake = wake_;
  }
  if (wake) wake();
  return true;
}

bool ClipStream::Pull(std::string& out) {
  bool more;
  {
    std::lock_guard lock(mutex_);
    while (!waiting_.empty()) {
      out += waiting_.front();
      waitingBytes_ -= waiting_.front().size();
      waiting_.pop_front();
    }
    more = !made_;
  }
  room_.notify_all();
  return more;
}

void ClipStream::OnReady(std::function<void()> wake) {
  std::lock_guard lock(mutex_);
  wake_ = std::move(wake);
}

}  // namespace zent
