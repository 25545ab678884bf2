// ONVIF events against zent-camsim's stand-in device over loopback.

#include "onvif/onvif_session.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "sim/camsim_process.h"
#include "tests/kit/fake_session_host.h"

namespace zent::testing {
namespace {

using camsim::CamSimProcess;
using namespace std::chrono_literals;

const std::string kMotion = "event: onvif tns1:RuleEngine/CellMotionDetector/Motion IsMotion=true";

class OnvifSessionTest : public ::testing::Test {
 protected:
  void Start(CamSimProcess& camera, std::string password = "kwolt") {
    onvif::OnvifSettings settings;
    settings.address = "127.0.0.1";
    settings.port = camera.OnvifPort();
    settings.user = "admin";
    settings.password = std::move(password);
    settings.askVideo = true;
    session = onvif::OnvifSession::Start(std::move(settings), host);
    ASSERT_TRUE(session);
  }
  void TearDown() override {
    if (!session) return;
    session->RequestStop();
    EXPECT_TRUE(session->WaitUntilEnded(5s));
  }
  long Count(const std::string& what) {
    const auto calls = host->Calls();
    return std::count(calls.begin(), calls.end(), what);
  }

  std::shared_ptr<FakeSessionHost> host = std::make_shared<FakeSessionHost>();
  std::shared_ptr<onvif::OnvifSession> session;
};

struct Device {
  const char* name;
  std::vector<std::string> arguments;
};

void PrintTo(const Device& device, std::ostream* out) { *out << device.name; }

class OnvifDevices : public OnvifSessionTest, public ::testing::WithParamInterface<Device> {};

TEST_P(OnvifDevices, EachRisingEdgeIsOneEventAndTheVideoIsOnTheConfiguredHost) {
  std::vector<std::string> arguments = {"--user",       "admin", "--password",         "kwolt",
                                        "--onvif-port", "0",     "--onvif-stream-uri", "rtsp://192.0.2.1:8554/stream1"};
  arguments.insert(arguments.end(), GetParam().arguments.begin(), GetParam().arguments.end());
  CamSimProcess camera(arguments);
  camera.Command("onvif-motion on");  // the state at subscription: no event
  Start(camera);
  ASSERT_TRUE(host->WaitFor("login", 10s));
  ASSERT_TRUE(camera.WaitForLine("onvif subscribed", 5s));
  const auto calls = host->Calls();
  // The camera named another host; its path and port are taken, on the configured address.
  EXPECT_NE(std::find(calls.begin(), calls.end(), "video: rtsp://127.0.0.1:8554/stream1"), calls.end());
  EXPECT_LT(std::find(calls.begin(), calls.end(), "video: rtsp://127.0.0.1:8554/stream1"),
            std::find(calls.begin(), calls.end(), "login"));

  camera.Command("onvif-motion off");
  camera.Command("onvif-motion on");
  ASSERT_TRUE(host->WaitFor(kMotion, 15s)) << ::testing::PrintToString(host->Calls());
  camera.Command("onvif-motion on");  // true again: the same motion
  camera.Command("onvif-input on");
  ASSERT_TRUE(host->WaitFor("event: onvif tns1:Device/Trigger/DigitalInput LogicalState=true", 15s));
  EXPECT_EQ(Count(kMotion), 1);
  camera.Command("onvif-motion off");
  camera.Command("onvif-motion on");
  EXPECT_TRUE(host->WaitFor(kMotion, 15s, 2));
  EXPECT_FALSE(host->Ended());
  if (std::string(GetParam().name) == "DigestOnly") {
    EXPECT_GE(camera.Count("onvif digest asked"), 1);
  }
}

INSTANTIATE_TEST_SUITE_P(Onvif, OnvifDevices,
                         ::testing::Values(Device{"ClockTwoHoursAhead", {"--onvif-clock-offset", "7200"}},
                                           Device{"ClockTwoHoursBehind", {"--onvif-clock-offset", "-7200"}},
                                           Device{"DigestOnly", {"--onvif-digest"}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(OnvifSessionTest, AWrongPasswordIsFinalAndSaidOnce) {
  CamSimProcess camera({"--user", "admin", "--password", "kwolt", "--onvif-port", "0"});
  Start(camera, "wrong");
  ASSERT_TRUE(session->WaitUntilEnded(15s));
  EXPECT_EQ(host->Ended(), SessionEnd::Final);
  EXPECT_EQ(Count("box: Error: User Authenticaion failed"), 1);
  EXPECT_EQ(Count("login"), 0);
  EXPECT_LE(camera.Count("onvif GetCapabilities refused"), 2);  // once more after reading the clock again
}

TEST_F(OnvifSessionTest, RefusedRenewalsSubscribeAgainInTimeAndARebootIsOneDrop) {
  CamSimProcess camera({"--onvif-port", "0", "--onvif-no-renew", "--onvif-termination", "3"});
  Start(camera);
  ASSERT_TRUE(host->WaitFor("login", 10s));
  // Each subscription lives 3 s and is never renewed: the session keeps a live one all along.
  ASSERT_TRUE(camera.WaitForLine("onvif subscribed 4", 20s));
  EXPECT_EQ(camera.Count("onvif unknown subscription"), 0);
  camera.Command("onvif-motion on");
  ASSERT_TRUE(host->WaitFor(kMotion, 10s));
  EXPECT_FALSE(host->Ended());

  camera.Command("reboot");
  ASSERT_TRUE(session->WaitUntilEnded(20s));
  EXPECT_EQ(host->Ended(), SessionEnd::Dropped);
  const auto calls = host->Calls();
  EXPECT_EQ(calls.back(), "reset");
  EXPECT_EQ(Count("box: Disconnected Network."), 1);
}

}  // namespace
}  // namespace zent::testing
