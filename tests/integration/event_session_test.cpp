// Event channel sessions against zent-camsim over loopback.

#include "link/event_session.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <thread>

#include "sim/camsim_process.h"
#include "tests/kit/fake_session_host.h"

namespace zent::testing {
namespace {

using camsim::CamSimProcess;

using namespace std::chrono_literals;
using Calls = std::vector<std::string>;

class EventSessionTest : public ::testing::Test {
 protected:
  std::shared_ptr<EventSession> Start(const std::string& address, int port, std::string id = "admin",
                                      std::string password = "kwolt") {
    SessionSettings settings;
    settings.cameraAddress = address;
    settings.privatePort = port;
    settings.userId = std::move(id);
    settings.password = std::move(password);
    settings.resolveName = [](const std::string& name) -> std::optional<std::uint32_t> {
      // No name service in tests: only "localhost" resolves.
      if (name == "localhost") return htonl(INADDR_LOOPBACK);
      return std::nullopt;
    };
    session = EventSession::Start(std::move(settings), host);
    return session;
  }
  void TearDown() override {
    if (session) {
      session->RequestStop();
      EXPECT_TRUE(session->WaitUntilEnded(5s));
    }
  }
  // The calls from `first` on (the whole list when `first` was not made).
  Calls CallsFrom(const std::string& first) {
    Calls calls = host->Calls();
    auto it = std::find(calls.begin(), calls.end(), first);
    return Calls(it == calls.end() ? calls.begin() : it, calls.end());
  }
  bool Ended() { return session->WaitUntilEnded(10s); }
  // The camera outlives the session, which is stopped in TearDown.
  CamSimProcess& Camera(std::vector<std::string> arguments = {}) {
    camera_ = std::make_unique<CamSimProcess>(std::move(arguments));
    return *camera_;
  }

  std::shared_ptr<FakeSessionHost> host = std::make_shared<FakeSessionHost>();
  std::shared_ptr<EventSession> session;
  std::unique_ptr<CamSimProcess> camera_;
};

const Calls kLoggedIn = {
    "status: Checking user authentication...", "status: User Verify OK...",       "login",
    "status: User authentication success.",    "status: Successfully connected.", "status: Waiting Event Message..."};

TEST_F(EventSessionTest, LogsInAndHandsEachEventOverBeforeTheKeepAlive) {
  CamSimProcess& camera = Camera({"--user", "admin", "--password", "kwolt"});
  std::size_t keepAlivesBeforeReturn = 99;
  host->onCameraEvent = [&] {
    std::this_thread::sleep_for(100ms);  // the window handling the event
    keepAlivesBeforeReturn = static_cast<std::size_t>(camera.Count("recv 0500"));
  };
  Start("127.0.0.1", camera.EventPort());
  ASSERT_TRUE(host->WaitFor("status: Waiting Event Message...", 5s));
  EXPECT_EQ(host->Calls(), kLoggedIn);

  camera.Command("event");
  ASSERT_TRUE(host->WaitFor("status: Waiting Event Message...", 5s, 2));
  EXPECT_EQ(CallsFrom("status: Receive Message."),
            (Calls{"status: Receive Message.", "status: >>> Event message arrived.", "event",
                   "status: OK keep ZENT connection.", "status: Waiting Event Message..."}));
  EXPECT_EQ(keepAlivesBeforeReturn, 0u);  // the keep-alive waited for the window
  EXPECT_TRUE(camera.WaitForLine("recv 0500", 2s));

  // A unit in two pieces is still one event.
  camera.Command("split-event");
  EXPECT_TRUE(host->WaitFor("event", 5s, 2));
}

TEST_F(EventSessionTest, UnitsThatReadAs520AreEventsAlsoInPlaceOfTheKeepAliveAnswer) {
  CamSimProcess& camera = Camera();
  Start("localhost", camera.EventPort());
  ASSERT_TRUE(host->WaitFor("status: Waiting Event Message...", 5s));
  // One unit at a time, each followed by its keep-alive exchange.
  int waits = 1;
  for (const char* unit : {"send +520", "send  520", "send 520a", "send abcd", "send 0501", "send 0502", "send 9000"}) {
    camera.Command(unit);
    ASSERT_TRUE(host->WaitFor("status: Waiting Event Message...", 5s, ++waits)) << unit;
  }
  // A camera that sends its event where the keep-alive answer belongs still gets it recorded.
  camera.Command("answer 0520");
  camera.Command("send 0000");
  ASSERT_TRUE(host->WaitFor("status: Waiting Event Message...", 5s, ++waits));
  const Calls calls = host->Calls();
  EXPECT_EQ(Calls(calls.end() - 4, calls.end()),
            (Calls{"status: OK keep ZENT connection.", "status: >>> Event message arrived.", "event",
                   "status: Waiting Event Message..."}));
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "event"), 4);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "reset"), 0);  // 0502 and 9000 outside an answer
}

struct Ending {
  const char* name;
  std::vector<std::string> camsimArguments;
  const char* command;  // sent once logged in, or nullptr
  Calls lastCalls;
  const char* cameraSaw = nullptr;     // what the camera reports at the end
  SessionEnd end = SessionEnd::Final;  // worth logging in again, or not
};

void PrintTo(const Ending& ending, std::ostream* out) { *out << ending.name; }

class SessionEndings : public EventSessionTest, public ::testing::WithParamInterface<Ending> {};

TEST_P(SessionEndings, ReportAndResetTheButtons) {
  const Ending& ending = GetParam();
  CamSimProcess& camera = Camera(ending.camsimArguments);
  Start("127.0.0.1", camera.EventPort());
  if (ending.command) {
    ASSERT_TRUE(host->WaitFor("status: Waiting Event Message...", 5s));
    camera.Command(ending.command);
    camera.Command("event");
  }
  ASSERT_TRUE(Ended());
  const Calls calls = host->Calls();
  ASSERT_GE(calls.size(), ending.lastCalls.size());
  EXPECT_EQ(Calls(calls.end() - static_cast<long>(ending.lastCalls.size()), calls.end()), ending.lastCalls);
  EXPECT_LT(session->Socket(), 0);  // released
  EXPECT_EQ(host->Ended(), ending.end);
  if (ending.cameraSaw) {
    EXPECT_TRUE(camera.WaitForLine(ending.cameraSaw, 2s));
  }
}

INSTANTIATE_TEST_SUITE_P(
    EventSession, SessionEndings,
    ::testing::Values(
        Ending{"WrongPassword",
               {"--user", "admin", "--password", "other"},
               nullptr,
               {"status: Checking user authentication...", "box: Error: User Authenticaion failed",
                "status: User authentication failed.", "reset"}},
        Ending{"UnexpectedAnswer",
               {"--auth-answer", "0300"},
               nullptr,
               {"box: Error: unexpected message from camera(300)", "status: User authentication failed.", "reset"}},
        Ending{"ClosedAfterPacket",
               {"--close-after-auth-packet"},
               nullptr,
               {"box: nRead(0) is not equal to IMG_XFER_USER_AUTH_RSLT_PKT_LEN(4)",
                "status: nRead(0) is not equal to IMG_XFER_USER_AUTH_RSLT_PKT_LEN(4)",
                "status: User authentication failed.", "reset"},
               nullptr,
               SessionEnd::Dropped},  // a camera restarting does this too
        Ending{"Broken",
               {},
               "broken",
               {"status: OK keep ZENT connection.", "status: ZENT connection was broken.", "box: Disconnected Network.",
                "status: Disconnected.", "reset"},
               "ended: closed by the client",
               SessionEnd::Dropped},
        Ending{"InvalidMessageId",
               {},
               "invalid",
               {"status: OK keep ZENT connection.", "status: Error: Invalid message id.", "box: Disconnected Network.",
                "status: Disconnected.", "reset"},
               "ended: closed by the client",
               SessionEnd::Dropped},
        Ending{"CameraClosed",
               {},
               "close",
               {"status: Receive Message.", "box: Disconnected Network.", "status: Disconnected Network.", "reset"},
               nullptr,
               SessionEnd::Dropped},
        // Our side stays open for keep-alives, as through a proxy: still one drop, not a spin.
        Ending{"CameraHalfClosed",
               {},
               "half-close",
               {"status: Waiting Event Message...", "status: Receive Message.", "box: Disconnected Network.",
                "status: Disconnected Network.", "reset"},
               "ended: closed by the client",
               SessionEnd::Dropped}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EventSessionTest, ARefusingCameraGetsTenAttemptsThenSocketError) {
  CamSimProcess& camera = Camera();
  camera.Command("refuse");
  ASSERT_TRUE(camera.WaitForLine("refusing connections", 2s));
  const auto started = std::chrono::steady_clock::now();
  Start("127.0.0.1", camera.EventPort());
  ASSERT_TRUE(Ended());
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_GE(took, 10 * 200ms);
  EXPECT_LT(took, 10 * 200ms + 2s);
  EXPECT_EQ(host->Calls(), (Calls{"status: Checking user authentication...", "status: SOCKET Error.",
                                  "status: User authentication failed.", "reset"}));
  EXPECT_EQ(host->Ended(), SessionEnd::Dropped);  // a camera that is away may come back
}

TEST_F(EventSessionTest, ASessionThatWillBeLoggedInAgainShowsNoBoxAndKeepsTheButtons) {
  CamSimProcess& camera = Camera();
  SessionSettings settings;
  settings.cameraAddress = "127.0.0.1";
  settings.privatePort = camera.EventPort();
  settings.userId = "admin";
  settings.password = "kwolt";
  host->logsInAgain = true;
  session = EventSession::Start(std::move(settings), host);
  ASSERT_TRUE(host->WaitFor("status: Waiting Event Message...", 5s));
  camera.Command("broken");
  camera.Command("event");
  ASSERT_TRUE(Ended());
  EXPECT_EQ(CallsFrom("status: ZENT connection was broken."),
            (Calls{"status: ZENT connection was broken.", "status: Disconnected Network.", "status: Disconnected."}));
  EXPECT_EQ(host->Ended(), SessionEnd::Dropped);
}

TEST_F(EventSessionTest, AddressesThatCannotBeUsed) {
  struct Case {
    std::string address;
    Calls calls;
    SessionEnd end = SessionEnd::Final;
  };
  const std::string hundred = std::string(62, 'h') + "." + std::string(37, 'h');
  const Case cases[] = {
      {"", {"box: Camera IP is too long or Null", "reset"}},
      {std::string(101, '1'), {"box: Camera IP is too long or Null", "reset"}},
      // 100 bytes are used; a name that does not resolve now may resolve later.
      {hundred, {"box: unknown server name = " + hundred, "reset"}, SessionEnd::Dropped},
      {"no-such-camera", {"box: unknown server name = no-such-camera", "reset"}, SessionEnd::Dropped},
      {"255.255.255.255", {"box: unknown server name = 255.255.255.255", "reset"}},
      {"1nvalid.example", {"box: unknown server name = 1nvalid.example", "reset"}},
      // Read as far as the blank, this would be 127.0.0.1; the video URL would name another host.
      {"127.0.0.1 @evil.example", {"box: unknown server name = 127.0.0.1 @evil.example", "reset"}},
      {"localhost@evil.example", {"box: unknown server name = localhost@evil.example", "reset"}},
  };
  for (const Case& c : cases) {
    host = std::make_shared<FakeSessionHost>();
    Start(c.address, 11000);
    ASSERT_TRUE(Ended()) << c.address;
    EXPECT_EQ(host->Calls(), c.calls) << c.address;
    EXPECT_EQ(host->Ended(), c.end) << c.address;
  }
}

TEST_F(EventSessionTest, TooLongCredentialsAreRefusedBeforeAnythingIsSent) {
  CamSimProcess& camera = Camera();
  Start("127.0.0.1", camera.EventPort(), "abcdefghijklmnop", "x");
  ASSERT_TRUE(Ended());
  EXPECT_EQ(CallsFrom("status: Checking user authentication..."),
            (Calls{"status: Checking user authentication...", "box: Error: User ID and/or Password is too long(> 10).",
                   "status: User authentication failed.", "reset"}));
  EXPECT_EQ(camera.Count("recv auth"), 0);

  host = std::make_shared<FakeSessionHost>();
  Start("127.0.0.1", camera.EventPort(), "abcdefghijklmno", "0123456789");  // 15 and 10 bytes
  EXPECT_TRUE(host->WaitFor("login", 5s));
  EXPECT_TRUE(camera.WaitForLine("id=abcdefghijklmno well-formed=1", 2s));
}

TEST_F(EventSessionTest, AStoppedSessionSaysNothingMoreAndTheCameraSeesTheClose) {
  CamSimProcess& camera = Camera();
  Start("127.0.0.1", camera.EventPort());
  ASSERT_TRUE(host->WaitFor("status: Waiting Event Message...", 5s));
  const std::size_t before = host->Calls().size();
  session->RequestStop();
  EXPECT_TRUE(session->WaitUntilEnded(1s));
  EXPECT_TRUE(camera.WaitForLine("ended: closed by the client", 2s));
  EXPECT_EQ(host->Calls().size(), before);
}

TEST_F(EventSessionTest, AStopDuringConnectionAttemptsEndsThemAtOnce) {
  CamSimProcess& camera = Camera();
  camera.Command("refuse");
  ASSERT_TRUE(camera.WaitForLine("refusing connections", 2s));
  Start("127.0.0.1", camera.EventPort());
  std::this_thread::sleep_for(300ms);
  session->RequestStop();
  EXPECT_TRUE(session->WaitUntilEnded(500ms));
  EXPECT_TRUE(host->Calls().empty());
}

// These wait out the real 30-second receive time-out.
TEST_F(EventSessionTest, SlowIdleChannelExchangesAKeepAliveEveryThirtySeconds) {
  CamSimProcess& camera = Camera();
  Start("127.0.0.1", camera.EventPort());
  ASSERT_TRUE(host->WaitFor("status: Waiting Event Message...", 5s));
  ASSERT_TRUE(host->WaitFor("status: Waiting Event Message...", 35s, 2));
  EXPECT_EQ(
      CallsFrom("status: Receive Message."),
      (Calls{"status: Receive Message.", "status: OK keep ZENT connection.", "status: Waiting Event Message..."}));
  const auto calls = host->TimedCalls();
  const auto wait = calls.back().when - calls[calls.size() - 4].when;
  EXPECT_GE(wait, 29s);
}

TEST_F(EventSessionTest, SlowSilentCameraEndsTheSessionAfterTwoTimeOuts) {
  CamSimProcess& camera = Camera();
  Start("127.0.0.1", camera.EventPort());
  ASSERT_TRUE(host->WaitFor("status: Waiting Event Message...", 5s));
  camera.Command("silent");
  ASSERT_TRUE(session->WaitUntilEnded(70s));
  EXPECT_EQ(CallsFrom("status: Receive Message."),
            (Calls{"status: Receive Message.", "status: OK keep ZENT connection.", "status: read error2",
                   "box: Disconnected Network.", "status: Disconnected Network.", "reset"}));
}

}  // namespace
}  // namespace zent::testing
