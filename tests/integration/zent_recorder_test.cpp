// zent-recorder as a user runs it: a process with no display, its files, its signals.

#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <thread>

#include "tests/kit/avi_probe.h"
#include "tests/kit/mqtt_broker.h"
#include "tests/kit/profiles.h"
#include "tests/kit/raw_client.h"
#include "tests/kit/temp_home.h"
#include "tests/kit/wait_until.h"
#include "sim/camsim_process.h"

namespace zent::testing {
namespace {

using namespace std::chrono_literals;
using camsim::CamSimProcess;
using camsim::ChildProcess;

class ZentRecorderTest : public ::testing::Test {
 protected:
  ZentRecorderTest() { std::filesystem::create_directories(config); }
  std::unique_ptr<CamSimProcess> Sim(const std::string& address) {
    return std::make_unique<CamSimProcess>(
        std::vector<std::string>{"--address", address, "--user", "cam", "--password", "Zq9!k" + address.substr(8)});
  }
  // A camera recording into the documents folder, one minute per event.
  CameraProfile Camera(const std::string& address, int eventPort, int videoPort) {
    return StandInProfile(address, eventPort, videoPort, documents + "/cam" + address.substr(8) + ".avi");
  }
  std::string Credentials(const std::string& address) { return address + " cam Zq9!k" + address.substr(8) + "\n"; }
  void WriteCredentials(const std::string& text, mode_t mode) {
    WriteFile(credentialsFile, text);
    ::chmod(credentialsFile.c_str(), mode);
  }
  std::unique_ptr<ChildProcess> Run(std::vector<std::string> arguments = {}) {
    return std::make_unique<ChildProcess>(ZENT_RECORDER_PATH, std::move(arguments), Environment());
  }
  std::vector<std::string> Environment() const {
    std::vector<std::string> variables = home.Environment();
    variables.insert(variables.end(), {"DISPLAY=", "WAYLAND_DISPLAY="});
    return variables;
  }
  static void ExpectNoPassword(const std::string& output) {
    EXPECT_EQ(output.find("Zq9!k"), std::string::npos) << output;
  }

  TempHome home;
  const std::string documents = home.documents();
  const std::string config = home.path() + "/.config/zent-client";
  const std::string credentialsFile = config + "/credentials";
};

TEST_F(ZentRecorderTest, RefusesToStartWithCredentialsOthersMayRead) {
  WriteCameraList(documents, {Camera("127.0.0.2", 11000, 8080)});
  WriteCredentials(Credentials("127.0.0.2"), 0644);
  auto recorder = Run();
  EXPECT_EQ(recorder->WaitForExit(10s), 2);
  EXPECT_NE(recorder->Output().find("chmod 600 " + credentialsFile), std::string::npos) << recorder->Output();
  ExpectNoPassword(recorder->Output());
}

TEST_F(ZentRecorderTest, CheckSaysWhichCameraDoesNotAnswer) {
  auto door = Sim("127.0.0.2");
  // Nothing listens on 127.0.0.9.
  WriteCameraList(documents, {Camera("127.0.0.2", door->EventPort(), door->VideoPort()),
                              Camera("127.0.0.9", door->EventPort(), door->VideoPort())});
  WriteCredentials(Credentials("127.0.0.2") + Credentials("127.0.0.9"), 0600);
  auto check = Run({"--check"});
  ASSERT_EQ(check->WaitForExit(20s), 1);
  const std::string output = check->Output();
  const std::string doorAnswers = "  event port 127.0.0.2:" + std::to_string(door->EventPort()) + " answers\n" +
                                  "  video http://127.0.0.2:" + std::to_string(door->VideoPort()) + "/ answers\n";
  EXPECT_NE(output.find(doorAnswers), std::string::npos) << output;
  EXPECT_NE(output.find("  event port 127.0.0.9:" + std::to_string(door->EventPort()) + " does not answer"),
            std::string::npos)
      << output;
  EXPECT_NE(output.find("  video http://127.0.0.9:" + std::to_string(door->VideoPort()) + "/ does not answer"),
            std::string::npos)
      << output;
  ExpectNoPassword(output);
}

TEST_F(ZentRecorderTest, HangUpAddsACameraAndTerminateLeavesEveryRecordingPlayable) {
  auto door = Sim("127.0.0.2"), shop = Sim("127.0.0.3");
  WriteCameraList(documents, {Camera("127.0.0.2", door->EventPort(), door->VideoPort())});
  WriteCredentials(Credentials("127.0.0.2"), 0600);
  auto recorder = Run();
  ASSERT_TRUE(recorder->WaitForLine("Successfully connected.", 10s)) << recorder->Output();
  door->Command("event");
  ASSERT_TRUE(recorder->WaitForLine("Recording to " + documents + "/cam2_", 10s));

  WriteCameraList(documents, {Camera("127.0.0.2", door->EventPort(), door->VideoPort()),
                              Camera("127.0.0.3", shop->EventPort(), shop->VideoPort())});
  WriteCredentials(Credentials("127.0.0.2") + Credentials("127.0.0.3"), 0600);
  const std::size_t before = recorder->LineCount();
  recorder->Signal(SIGHUP);
  ASSERT_TRUE(recorder->WaitForLine("Successfully connected.", 10s, before)) << recorder->Output();
  std::this_thread::sleep_for(1s);
  shop->Command("event");
  ASSERT_TRUE(recorder->WaitForLine("Recording to " + documents + "/cam3_", 10s)) << recorder->Output();
  std::this_thread::sleep_for(1s);

  const auto asked = std::chrono::steady_clock::now();
  recorder->Signal(SIGTERM);
  ASSERT_EQ(recorder->WaitForExit(5s), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - asked, 2s);
  const std::string output = recorder->Output();
  EXPECT_EQ(recorder->Count("Connecting server..."), 2) << "the first camera was restarted:\n" << output;
  ExpectNoPassword(output);

  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(documents)) {
    if (entry.path().extension() != ".avi") continue;
    ++files;
    const AviProbe probe = ProbeAvi(entry.path());
    EXPECT_TRUE(probe.opened && probe.startsWithKeyFrame && probe.packets > 15) << entry.path();
    EXPECT_EQ(DecodeErrors(entry.path()), "") << entry.path();
  }
  EXPECT_EQ(files, 2) << output;
}

// A recording written as MP4, and the program killed in its middle: what was written before is a
// file that plays, every frame once, up to its last whole fragment.
TEST_F(ZentRecorderTest, AnMp4RecordingOfAKilledProgramPlaysUpToItsLastFragment) {
  auto door = Sim("127.0.0.2");
  WriteCameraList(documents, {Camera("127.0.0.2", door->EventPort(), door->VideoPort())});
  WriteCredentials(Credentials("127.0.0.2"), 0600);
  WriteFile(config + "/zent-client.ini", "[recording]\ncontainer=mp4\n");
  auto recorder = Run();
  ASSERT_TRUE(recorder->WaitForLine("Successfully connected.", 10s)) << recorder->Output();
  std::this_thread::sleep_for(2s);
  door->Command("event");
  const auto started = recorder->WaitForLine("Recording to " + documents + "/cam2_", 10s);
  ASSERT_TRUE(started) << recorder->Output();
  const std::string path = started->substr(started->find("Recording to ") + 13);
  ASSERT_EQ(path.substr(path.size() - 4), ".mp4");
  std::this_thread::sleep_for(4500ms);
  recorder->Signal(SIGKILL);
  recorder->WaitForExit(5s);

  EXPECT_EQ(DecodeErrors(path), "");
  const AviProbe probe = ProbeAvi(path);
  ASSERT_TRUE(probe.opened);
  EXPECT_EQ(probe.codec, "mjpeg");
  // The seconds before the event and those after it, less the fragment being made at the kill.
  EXPECT_GE(probe.packets, 15 * 5);
  for (std::size_t i = 1; i < probe.cameraFrames.size(); ++i)
    ASSERT_EQ(probe.cameraFrames[i], probe.cameraFrames[i - 1] + 1) << "frame lost or repeated at packet " << i;
}

// Strangers holding the web page's connections (more than the process has descriptors to spare)
// cost the next event's recording nothing.
TEST_F(ZentRecorderTest, SlowStrangersOnTheWebPageCannotTakeTheDescriptorsARecordingNeeds) {
  auto door = Sim("127.0.0.2");
  WriteCameraList(documents, {Camera("127.0.0.2", door->EventPort(), door->VideoPort())});
  WriteCredentials(Credentials("127.0.0.2"), 0600);
  auto recorder = std::make_unique<ChildProcess>(
      "/usr/bin/prlimit", std::vector<std::string>{"--nofile=128:128", ZENT_RECORDER_PATH, "--web", "127.0.0.1:0"},
      Environment());
  ASSERT_TRUE(recorder->WaitForLine("Successfully connected.", 10s)) << recorder->Output();
  ASSERT_TRUE(recorder->WaitForLine("web page at http://127.0.0.1:", 10s)) << recorder->Output();
  const std::string output = recorder->Output();
  const std::size_t at = output.find("web page at http://127.0.0.1:") + 29;
  const int port = std::stoi(output.substr(at, output.find('/', at) - at));
  std::vector<std::unique_ptr<RawClient>> strangers;
  for (int i = 0; i < 160; ++i) {
    const std::string from = "127.0.0." + std::to_string(20 + i / 20);
    strangers.push_back(std::make_unique<RawClient>(port, from.c_str(), 50ms));
    strangers.back()->Send("G");
  }
  for (auto& stranger : strangers) stranger->Send("E");
  door->Command("event");
  ASSERT_TRUE(recorder->WaitForLine("Recording to " + documents + "/cam2_", 10s)) << recorder->Output();
  for (auto& stranger : strangers) stranger->Send("T");
  std::this_thread::sleep_for(2s);
  recorder->Signal(SIGTERM);
  ASSERT_EQ(recorder->WaitForExit(5s), 0);
  EXPECT_EQ(recorder->Output().find("Too many open files"), std::string::npos) << recorder->Output();
  EXPECT_EQ(recorder->Output().find("recording without it"), std::string::npos) << recorder->Output();  // it was up
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(documents)) {
    if (entry.path().extension() != ".avi") continue;
    ++files;
    EXPECT_GT(ProbeAvi(entry.path()).packets, 15) << entry.path();
  }
  EXPECT_EQ(files, 1) << recorder->Output();
}

// Cameras with no events of their own, recorded when something outside asks: through the web
// page's API with a token made with --trigger (one without it may not), and through the broker.
// Each is one recording, and its line says who asked and why.
TEST_F(ZentRecorderTest, TriggersFromTheApiAndTheBrokerRecordCamerasThatSendNoEvents) {
  MqttBroker broker(home.path(), {false, "zent", "Br0ker-pw-7"});
  ASSERT_TRUE(broker.Running());
  MqttSubscriber house(broker, "zent/#", "zent", "Br0ker-pw-7");
  ASSERT_TRUE(house.Subscribed(5s));
  auto door = Sim("127.0.0.2");
  auto yard = Sim("127.0.0.3");
  WriteCameraList(documents, {Camera("127.0.0.2", door->EventPort(), door->VideoPort()),
                              Camera("127.0.0.3", yard->EventPort(), yard->VideoPort())});
  WriteCredentials(Credentials("127.0.0.2") + Credentials("127.0.0.3") +
                       "mqtt://127.0.0.1:" + std::to_string(broker.Port()) + " zent Br0ker-pw-7\n",
                   0600);
  WriteFile(config + "/zent-client.ini",
            "[mqtt]\nurl=" + broker.Url() + "\n[cameraEvents]\n127.0.0.2=external\n127.0.0.3=external\n");
  auto token = [&](const std::vector<std::string>& arguments) {
    auto maker = Run(arguments);
    EXPECT_EQ(maker->WaitForExit(10s), 0) << maker->Output();
    const std::string output = maker->Output();
    const std::size_t at = output.find("zent_");
    return at == std::string::npos ? std::string() : output.substr(at, output.find('\n', at) - at);
  };
  const std::string doorbell = token({"--add-token", "doorbell", "--trigger"});
  const std::string prometheus = token({"--add-token", "prometheus"});
  ASSERT_FALSE(doorbell.empty());
  auto recorder = Run({"--web", "127.0.0.1:0"});
  ASSERT_TRUE(recorder->WaitForLine("web page at http://127.0.0.1:", 10s)) << recorder->Output();
  ASSERT_TRUE(recorder->WaitForLine("Connected to MQTT broker", 10s)) << recorder->Output();
  const std::string started = recorder->Output();
  const std::size_t at = started.find("web page at http://127.0.0.1:") + 29;
  httplib::Client web("127.0.0.1", std::stoi(started.substr(at, started.find('/', at) - at)));
  const auto trigger = [&](const std::string& bearer, const std::string& camera) {
    const auto answer = web.Post("/api/cameras/" + camera + "/trigger", {{"Authorization", "Bearer " + bearer}},
                                 R"({"reason": "front door\nbell"})", "application/json");
    return answer ? answer->status : 0;
  };
  EXPECT_EQ(trigger(prometheus, "127_0_0_2"), 403);
  EXPECT_EQ(trigger(doorbell, "127_0_0_9"), 404);
  ASSERT_TRUE(WaitUntil([&] { return trigger(doorbell, "127_0_0_2") == 202; }, 10s));  // once it is armed
  ASSERT_TRUE(recorder->WaitForLine("Recording to " + documents + "/cam2_", 10s)) << recorder->Output();
  EXPECT_TRUE(recorder->WaitForLine(">>> Trigger from token doorbell: front door bell", 1s)) << recorder->Output();
  EXPECT_EQ(trigger(doorbell, "127_0_0_2"), 202);  // while recording: one recording, as a camera's events

  // Until the yard's recorder is ready for it, as a door contact would go on asking.
  ASSERT_TRUE(WaitUntil(
      [&] {
        return house.Publish("zent/127_0_0_3/trigger", "garage door") &&
               recorder->WaitForLine("Recording to " + documents + "/cam3_", 1s).has_value();
      },
      15s))
      << recorder->Output();
  EXPECT_TRUE(recorder->WaitForLine(">>> Trigger from MQTT: garage door", 1s)) << recorder->Output();
  EXPECT_TRUE(house.WaitFor(
      [](const MqttMessage& m) {
        return m.topic == "zent/127_0_0_3/event" && m.payload.find("\"source\":\"external\"") != std::string::npos &&
               m.payload.find("\"reason\":\"garage door\"") != std::string::npos;
      },
      5s));
  recorder->Signal(SIGTERM);
  ASSERT_EQ(recorder->WaitForExit(5s), 0);
  const std::string output = recorder->Output();
  EXPECT_EQ(output.find(doorbell), std::string::npos);
  EXPECT_EQ(output.find("Checking user authentication"), std::string::npos);  // no event channel
  ExpectNoPassword(output);
  std::map<std::string, int> files;
  for (const auto& entry : std::filesystem::directory_iterator(documents))
    if (entry.path().extension() == ".avi") ++files[entry.path().filename().string().substr(0, 5)];
  EXPECT_EQ(files, (std::map<std::string, int>{{"cam2_", 1}, {"cam3_", 1}})) << output;
}

// The broker over TLS with a password from the credentials file: discovery, state and events
// reach it, no password reaches an output, and a killed recorder leaves its last will.
TEST_F(ZentRecorderTest, TellsATlsBrokerOfItsCamerasAndEventsAndLeavesItsLastWillWhenKilled) {
  const std::string brokerPassword = "Br0ker-pw-7";
  MqttBroker broker(home.path(), {true, "zent", brokerPassword});
  ASSERT_TRUE(broker.Running());
  MqttSubscriber watcher(broker, "#", "zent", brokerPassword);
  ASSERT_TRUE(watcher.Subscribed(5s));
  auto door = Sim("127.0.0.2");
  WriteCameraList(documents, {Camera("127.0.0.2", door->EventPort(), door->VideoPort())});
  WriteCredentials(
      Credentials("127.0.0.2") + "mqtt://127.0.0.1:" + std::to_string(broker.Port()) + " zent " + brokerPassword + "\n",
      0600);
  WriteFile(config + "/zent-client.ini", "[mqtt]\nurl=" + broker.Url() + "\ncaFile=" + broker.CaFile() + "\n");
  auto recorder = Run();
  auto topic = [](const std::string& name, const std::string& text = "") {
    return [=](const MqttMessage& m) { return m.topic == name && m.payload.find(text) != std::string::npos; };
  };
  ASSERT_TRUE(watcher.WaitFor(topic("zent/127_0_0_2/status", "\"online\""), 10s)) << recorder->Output();
  // Home Assistant, started later, still finds the camera: discovery is retained.
  MqttSubscriber later(broker, "homeassistant/#", "zent", brokerPassword);
  const auto discovery = later.WaitFor(topic("homeassistant/binary_sensor/zent_127_0_0_2/motion/config"), 5s);
  ASSERT_TRUE(discovery);
  EXPECT_TRUE(discovery->retained);
  std::this_thread::sleep_for(1s);
  door->Command("event");
  EXPECT_TRUE(watcher.WaitFor(topic("zent/127_0_0_2/event", "\"sequence\":1"), 5s));
  EXPECT_TRUE(watcher.WaitFor(topic("zent/127_0_0_2/recording", "\"started\""), 10s));
  // Home Assistant's button, which publishes to the camera's trigger topic.
  EXPECT_TRUE(later.WaitFor(topic("homeassistant/button/zent_127_0_0_2/trigger/config", "zent/127_0_0_2/trigger"), 5s));

  const std::size_t mark = watcher.Messages().size();
  recorder->Signal(SIGKILL);
  EXPECT_TRUE(watcher.WaitFor(topic("zent/available", "offline"), 10s, mark));
  const std::string output = recorder->Output();
  EXPECT_NE(output.find("Connected to MQTT broker mqtts://127.0.0.1:"), std::string::npos) << output;
  ExpectNoPassword(output);
  EXPECT_EQ(output.find(brokerPassword), std::string::npos);
}

}  // namespace
}  // namespace zent::testing
