// Webhooks against a receiver on loopback that answers slowly, with an error, or not at all.

#include "notify/webhook_sender.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/kit/scripted_server.h"
#include "tests/kit/wait_until.h"

namespace zent::testing {
namespace {

using namespace std::chrono_literals;

// Answers every POST with `status`, after `delay`; counts the requests and keeps their bodies.
class Receiver {
 public:
  Receiver(int status, std::chrono::milliseconds delay, int port = 0)
      : server_(
            "127.0.0.1",
            [status, delay](const std::string&) {
              std::this_thread::sleep_for(delay);
              return "HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
            },
            port) {}
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(server_.Port()) + "/hook"; }
  int Port() const { return server_.Port(); }
  int Requests() { return static_cast<int>(server_.Requests().size()); }
  std::vector<std::string> Bodies() {
    std::vector<std::string> bodies;
    for (const std::string& request : server_.Requests())
      bodies.push_back(request.substr(request.find("\r\n\r\n") + 4));
    return bodies;
  }

 private:
  ScriptedServer server_;
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
