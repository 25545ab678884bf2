#pragma once
// The streamed answers (live views, news) the server allows: so many in all, so many a session,
// so many of them live views. Each is held for as long as its answer streams.

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "web/http_server.h"

namespace zent {

class StreamSlots {
 public:
  static constexpr int kMax = 64;
  static constexpr int kPerSession = 20;  // a page's grid of cameras and its news, with room
  static constexpr int kMaxLive = 32;

  // A slot for the session's answer; null when none is left, with the refusal in `response`.
  std::shared_ptr<void> Take(const std::string& session, bool live, HttpResponse& response);
  int Live();

 private:
  void Give(const std::string& session, bool live);
  std::mutex mutex_;
  int all_ = 0, live_ = 0;
  std::map<std::string, int> bySession_;
};

}  // namespace zent
