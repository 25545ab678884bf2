#pragma once
// POSTs each notice's JSON to one receiver, on a thread of its own, with a time-out, a few
// retries with growing pauses, and a bounded queue: a slow or dead receiver never holds up its
// caller, and what it costs is counted and said once an outage.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "notify/notice.h"

namespace zent {

struct WebhookTimings {
  std::chrono::milliseconds timeout{5000};
  std::chrono::milliseconds firstRetry{500};  // doubled at each further try
  int attempts = 3;
  std::size_t maxQueued = 256;
  bool operator==(const WebhookTimings&) const = default;
};

class WebhookSender : public NoticeSink {
 public:
  using Say = std::function<void(const std::string&)>;  // from the sender's thread
  WebhookSender(std::string url, Say say, WebhookTimings timings = {});
  ~WebhookSender() override;  // gives up what still waits, and a POST under way
  WebhookSender(const WebhookSender&) = delete;
  WebhookSender& operator=(const WebhookSender&) = delete;

  void Send(const Notice& notice) override;

  // One POST of a test message; empty when the receiver answered 2xx, else why not.
  static std::string SendTest(const std::string& url, std::chrono::milliseconds timeout);

 private:
  void Run();
  // Empty on a 2xx answer.
  static std::string Post(const std::string& url, const std::string& topic, const std::string& payload,
                          std::chrono::milliseconds timeout, const std::atomic<bool>* stop);

  const std::string url_;
  const std::string shown_;
  const Say say_;
  const WebhookTimings timings_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::atomic<bool> aborting_{false};
  std::deque<Notice> queue_;
  std::uint64_t dropped_ = 0;
  bool outageSaid_ = false;
  std::thread thread_;  // last: starts once everything above is ready
};

}  // namespace zent
