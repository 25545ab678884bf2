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
  bool Take(const char* data, std::size_t size);

  static constexpr std::size_t kMaxWaitingBytes = 4u << 20;
  std::mutex mutex_;
  std::condition_variable room_;
  std::deque<std::string> waiting_;
  std::size_t waitingBytes_ = 0;
  bool made_ = false;       // the clip's thread is through
  bool cancelled_ = false;  // the receiver left
  std::function<void()> wake_;
  std::shared_ptr<void> slot_;
  std::thread thread_;  // last: starts once everything above is ready
};

}  // namespace zent
