#include "web/stream_slots.h"

#include "web/http_answers.h"

namespace zent {

std::shared_ptr<void> StreamSlots::Take(const std::string& session, bool live, HttpResponse& response) {
  {
    std::lock_guard lock(mutex_);
    if (all_ >= kMax || (live && live_ >= kMaxLive)) {
      SendError(response, 503, live ? "too many live views open; close one" : "too many streams open; close one");
      response.SetHeader("Retry-After", "5");
      return nullptr;
    }
    if (bySession_[session] >= kPerSession) {
      SendError(response, 429, "this session has " + std::to_string(kPerSession) + " streams open; close one");
      return nullptr;
    }
    ++all_;
    ++bySession_[session];
    if (live) ++live_;
  }
  struct Slot {
    Slot(StreamSlots* slots, std::string session, bool live) : slots(slots), session(std::move(session)), live(live) {}
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;
    ~Slot() { slots->Give(session, live); }
    StreamSlots* slots;
    std::string session;
    bool live;
  };
  return std::make_shared<Slot>(this, session, live);
}

void StreamSlots::Give(const std::string& session, bool live) {
  std::lock_guard lock(mutex_);
  --all_;
  if (--bySession_[session] == 0) bySession_.erase(session);
  if (live) --live_;
}

int StreamSlots::Live() {
  std::lock_guard lock(mutex_);
  return live_;
}

}  // namespace zent
