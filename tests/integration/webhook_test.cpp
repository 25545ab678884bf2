// Webhooks against a receiver on loopback that answers slowly, with an error, or not at all.

#include "notify/webhook_sender.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/kit/wait_until.h"

namespace zent::testing {
namespace {

using namespace std::chrono_literals;

// Answers every POST with `status`, after `delay`; counts the requests and keeps their bodies.
class Receiver {
 public:
  Receiver(int status, std::chrono::milliseconds delay, int port = 0) : status_(status), delay_(delay) {
    listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
    const int yes = 1;
    ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    socklen_t length = sizeof address;
    ::bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listen_, 16);
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~Receiver() {
    stop_ = true;
    ::shutdown(listen_, SHUT_RDWR);
    thread_.join();
    ::close(listen_);
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/hook"; }
  int Port() const { return port_; }
  int Requests() const { return requests_; }
  std::vector<std::string> Bodies() {
    std::lock_guard lock(mutex_);
    return bodies_;
  }

 private:
  void Serve() {
    while (!stop_) {
      const int fd = ::accept(listen_, nullptr, nullptr);
      if (fd < 0) return;
      std::string request;
      char buffer[4096];
      // The stand-in reads the whole request (headers, then Content-Length bytes) before it answers.
      for (;;) {
        const std::size_t end = request.find("\r\n\r\n");
        if (end != std::string::npos) {
          const std::size_t at = request.find("Content-Length: ");
          const std::size_t length = at == std::string::npos ? 0 : std::stoul(request.substr(at + 16));
          if (request.size() >= end + 4 + length) {
            std::lock_guard lock(mutex_);
            bodies_.push_back(request.substr(end + 4, length));
            break;
          }
        }
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        request.append(buffer, static_cast<std::size_t>(n));
      }
      ++requests_;
      std::this_thread::sleep_for(delay_);
      const std::string answer = "HTTP/1.1 " + std::to_string(status_) + " X\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
      ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
      ::close(fd);
    }
  }

  const int status_;
  const std::chrono::milliseconds delay_;
  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> requests_{0};
  std::mutex mutex_;
  std::vector<std::string> bodies_;
  std::thread thread_;
};

struct Lines {
  std::mutex mutex;
  std::vector<std::string> lines;
  WebhookSender::Say Say() {
    return [this](const std::string& line) {
      std::lock_guard lock(mutex);
      lines.push_back(line);
    };
  }
  std::size_t Count() {
    std::lock_guard lock(mutex);
    return lines.size();
  }
  std::string Last() {
    std::lock_guard lock(mutex);
    return lines.empty() ? "" : lines.back();
  }
};

WebhookTimings Quick() {
  WebhookTimings timings;
  timings.timeout = 300ms;
  timings.firstRetry = 20ms;
  timings.attempts = 3;
  timings.maxQueued = 4;
  return timings;
}

Notice Event(int n) { return {"door/event", "{\"sequence\":" + std::to_string(n) + "}"}; }

TEST(Webhooks, AFailingReceiverIsTriedABoundedNumberOfTimesAndSaidOnce) {
  Receiver failing(500, 0ms);
  Lines lines;
  {
    WebhookSender sender(failing.Url() + "?token=s3cret", lines.Say(), Quick());
    sender.Send(Event(1));
    sender.Send(Event(2));
    ASSERT_TRUE(WaitUntil([&] { return failing.Requests() >= 6; }, 5s));
    std::this_thread::sleep_for(200ms);
  }
  EXPECT_EQ(failing.Requests(), 6);  // three tries each, no more
  EXPECT_EQ(lines.Count(), 1u);
  EXPECT_EQ(lines.Last(), "Webhook " + failing.Url() + ": answered 500; messages are dropped until it answers");
  EXPECT_EQ(failing.Bodies().front(), "{\"sequence\":1}");
}

TEST(Webhooks, ASlowOrDeadReceiverCostsOnlyItsBoundedQueueAndIsSaidOnceAnOutage) {
  Lines lines;
  int port = 0;
  {
    Receiver slow(200, 2s);
    port = slow.Port();
    WebhookSender sender(slow.Url(), lines.Say(), Quick());
    // A hundred messages while the receiver hangs: Send only queues, and the queue stays at four.
    for (int i = 0; i < 100; ++i) sender.Send(Event(i));
    ASSERT_TRUE(WaitUntil([&] { return lines.Count() >= 1; }, 5s));
    EXPECT_NE(lines.Last().find("Timeout"), std::string::npos) << lines.Last();
  }
  EXPECT_EQ(lines.Count(), 1u);

  // Nothing listens any more; later the receiver is back on the same port.
  Lines dead;
  WebhookSender sender("http://127.0.0.1:" + std::to_string(port) + "/hook", dead.Say(), Quick());
  for (int i = 0; i < 3; ++i) sender.Send(Event(i));
  ASSERT_TRUE(WaitUntil([&] { return dead.Count() >= 1; }, 5s));
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(dead.Count(), 1u) << dead.Last();
  Receiver back(200, 0ms, port);
  sender.Send(Event(99));
  ASSERT_TRUE(WaitUntil([&] { return dead.Count() >= 2; }, 5s));
  EXPECT_EQ(dead.Last().rfind("Webhook http://127.0.0.1:" + std::to_string(port) + "/hook answers again; ", 0), 0u)
      << dead.Last();
  EXPECT_EQ(back.Bodies().back(), "{\"sequence\":99}");
}

}  // namespace
}  // namespace zent::testing
