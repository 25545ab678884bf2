#include "notify/webhook_sender.h"

#include <curl/curl.h>

#include <atomic>
#include <memory>

#include "notify/broker_address.h"
#include "notify/notices.h"

namespace zent {
namespace {

void InitLibrary() {
  static const CURLcode once = curl_global_init(CURL_GLOBAL_DEFAULT);
  (void)once;
}

size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

// Non-zero ends the transfer: a sender being destroyed does not wait for a slow receiver.
int Abort(void* stop, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return stop && static_cast<const std::atomic<bool>*>(stop)->load() ? 1 : 0;
}

}  // namespace

WebhookSender::WebhookSender(std::string url, Say say, WebhookTimings timings)
    : url_(std::move(url)), shown_(ShownUrl(url_)), say_(std::move(say)), timings_(timings), thread_([this] {
        Run();
      }) {}

WebhookSender::~WebhookSender() {
  aborting_ = true;
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void WebhookSender::Send(const Notice& notice) {
  if (!notice.forWebhooks) return;
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(notice);
    if (queue_.size() > timings_.maxQueued) {
      queue_.pop_front();
      ++dropped_;
    }
  }
  wake_.notify_one();
}

std::string WebhookSender::Post(const std::string& url, const std::string& topic, const std::string& payload,
                                std::chrono::milliseconds timeout, const std::atomic<bool>* stop) {
  InitLibrary();
  std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), curl_easy_cleanup);
  if (!curl) return "cannot make an HTTP client";
  curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
  const std::string topicHeader = "X-Zent-Topic: " + topic;
  headers = curl_slist_append(headers, topicHeader.c_str());
  std::unique_ptr<curl_slist, void (*)(curl_slist*)> ownedHeaders(headers, curl_slist_free_all);
  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  // Only HTTP(S), and no redirect: a receiver cannot send our messages, or a password in the
  // URL, somewhere else.
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout.count()));
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeout.count()));
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(c, CURLOPT_POSTFIELDS, payload.c_str());
  curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE, static_cast<long>(payload.size()));
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &Discard);
  curl_easy_setopt(c, CURLOPT_MAXFILESIZE, 1L << 16);
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &Abort);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(stop));
  const CURLcode result = curl_easy_perform(c);
  if (result != CURLE_OK) return curl_easy_strerror(result);
  long status = 0;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
  if (status < 200 || status > 299) return "answered " + std::to_string(status);
  return {};
}

std::string WebhookSender::SendTest(const std::string& url, std::chrono::milliseconds timeout) {
  const Notice notice = TestNotice(std::chrono::system_clock::now());
  const std::string error = Post(url, notice.topic, notice.payload, timeout, nullptr);
  return error.empty() ? error : ShownUrl(url) + ": " + error;
}

void WebhookSender::Run() {
  for (;;) {
    Notice notice;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
      if (stop_) return;
      notice = std::move(queue_.front());
      queue_.pop_front();
    }
    std::string error;
    auto pause = timings_.firstRetry;
    for (int attempt = 0; attempt < timings_.attempts; ++attempt) {
      error = Post(url_, notice.topic, notice.payload, timings_.timeout, &aborting_);
      if (error.empty()) break;
      if (attempt + 1 == timings_.attempts) break;
      std::unique_lock lock(mutex_);
      if (wake_.wait_for(lock, pause, [this] { return stop_; })) return;
      pause *= 2;
    }
    std::string line;
    {
      std::lock_guard lock(mutex_);
      if (!error.empty()) {
        ++dropped_;
        if (!outageSaid_) line = "Webhook " + shown_ + ": " + error + "; messages are dropped until it answers";
        outageSaid_ = true;
      } else if (!outageSaid_ && dropped_ > 0) {
        line = "Webhook " + shown_ + " is slower than the messages come; " + std::to_string(dropped_) + " were dropped";
        dropped_ = 0;
      } else if (outageSaid_) {
        line = "Webhook " + shown_ + " answers again; " + std::to_string(dropped_) + " messages were dropped";
        outageSaid_ = false;
        dropped_ = 0;
      }
    }
    if (!line.empty()) say_(line);
  }
}

}  // namespace zent
