#pragma once
// A clip as a streamed answer: made on a thread of its own (it reads whole recordings), handed to
// the server as it comes, a few MiB at most waiting for a slow receiver. A receiver that leaves
// ends the making at its next fragment.

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "record/clip.h"
#include "web/http_server.h"

namespace zent {

class ClipStream : public HttpStream {
 public:
  // `done` is told how it went, from the clip's thread, once it is made or given up.
  using Done = std::function<void(bool ok, const ClipSummary& summary, const std::string& error)>;
  ClipStream(std::vector<ClipSource> sources, WallClock::time_point from, WallClock::time_point to,
             std::shared_ptr<void> slot, Done done);
  ~ClipStream() override;
  bool Pull(std::string& out) override;
  void OnReady(std::function<void()> wake) override;

 private:
  // What the clip's thread and the server share. The thread holds it too: the server's wake-up
  // may drop the last hold on the stream from that very thread.
  struct Shared {
    static constexpr std::size_t kMaxWaitingBytes = 4u << 20;
    bool Take(const char* data, std::size_t size);
    std::mutex mutex;
    std::condition_variable room;
    std::deque<std::string> waiting;
    std::size_t waitingBytes = 0;
    bool made = false;       // the clip's thread is through
    bool cancelled = false;  // the receiver left
    std::function<void()> wake;
  };
  std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
  std::shared_ptr<void> slot_;
  std::thread thread_;  // last: starts once everything above is ready
};

}  // namespace zent
