#include "web/clip_stream.h"

namespace zent {

ClipStream::ClipStream(std::vector<ClipSource> sources, WallClock::time_point from, WallClock::time_point to,
                       std::shared_ptr<void> slot, Done done)
    : slot_(std::move(slot)),
      thread_([shared = shared_, sources = std::move(sources), from, to, done = std::move(done)] {
        ClipSummary summary;
        std::string error;
        const bool ok = WriteClip(
            sources, from, to, [&shared](const char* d, std::size_t n) { return shared->Take(d, n); }, summary, error);
        std::function<void()> wake;
        {
          std::lock_guard lock(shared->mutex);
          shared->made = true;
          wake = shared->wake;
        }
        if (done) done(ok, summary, error);
        if (wake) wake();
      }) {}

ClipStream::~ClipStream() {
  {
    std::lock_guard lock(shared_->mutex);
    shared_->cancelled = true;
  }
  shared_->room.notify_all();
  // Let go of on the clip's own thread (by the server's wake-up): it ends by itself, holding what
  // it uses.
  if (thread_.get_id() == std::this_thread::get_id()) thread_.detach();
  else thread_.join();
}

bool ClipStream::Shared::Take(const char* data, std::size_t size) {
  std::function<void()> wakeNow;
  {
    std::unique_lock lock(mutex);
    room.wait(lock, [this] { return cancelled || waitingBytes < kMaxWaitingBytes; });
    if (cancelled) return false;
    waiting.emplace_back(data, size);
    waitingBytes += size;
    wakeNow = wake;
  }
  if (wakeNow) wakeNow();
  return true;
}

bool ClipStream::Pull(std::string& out) {
  bool more;
  {
    std::lock_guard lock(shared_->mutex);
    while (!shared_->waiting.empty()) {
      out += shared_->waiting.front();
      shared_->waitingBytes -= shared_->waiting.front().size();
      shared_->waiting.pop_front();
    }
    more = !shared_->made;
  }
  shared_->room.notify_all();
  return more;
}

void ClipStream::OnReady(std::function<void()> wake) {
  std::lock_guard lock(shared_->mutex);
  shared_->wake = std::move(wake);
}

}  // namespace zent
