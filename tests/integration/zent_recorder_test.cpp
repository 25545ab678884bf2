// zent-recorder as a user runs it: a process with no display, its files, its signals.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <thread>

#include "../support/avi_probe.h"
#include "../unit/temp_dir.h"
#include "sim/camsim_process.h"

namespace zent::testing {
namespace {

using namespace std::chrono_literals;
using camsim::CamSimProcess;
using camsim::ChildProcess;

class ZentRecorderTest : public ::testing::Test {
 protected:
  ZentRecorderTest() {
    std::filesystem::create_directories(documents);
    std::filesystem::create_directories(config);
  }
  std::unique_ptr<CamSimProcess> Sim(const std::string& address) {
    return std::make_unique<CamSimProcess>(
        std::vector<std::string>{"--address", address, "--user", "cam", "--password", "Zq9!k" + address.substr(8)});
  }
  // A camera list line recording into the documents folder, one minute per event.
  std::string Profile(const std::string& address, int eventPort, int videoPort) {
    return "1," + documents + "/cam" + address.substr(8) + ".avi,cam.avi,1,1," + address + "," +
           std::to_string(eventPort) + "," + std::to_string(videoPort) + ",40008,15.,1,0,0, ,zent_log.txt;";
  }
  std::string Credentials(const std::string& address) { return address + " cam Zq9!k" + address.substr(8) + "\n"; }
  void WriteCredentials(const std::string& text, mode_t mode) {
    WriteFile(credentialsFile, text);
    ::chmod(credentialsFile.c_str(), mode);
  }
  std::unique_ptr<ChildProcess> Run(std::vector<std::string> arguments = {}) {
    return std::make_unique<ChildProcess>(ZENT_RECORDER_PATH, std::move(arguments),
                                          std::vector<std::string>{"HOME=" + home.path(), "XDG_CONFIG_HOME=" + home.path() + "/.config",
                                                                   "CREDENTIALS_DIRECTORY=", "DISPLAY=", "WAYLAND_DISPLAY="});
  }
  static void ExpectNoPassword(const std::string& output) { EXPECT_EQ(output.find("Zq9!k"), std::string::npos) << output; }

  TempDir home;
  const std::string documents = home.path() + "/Documents";
  const std::string config = home.path() + "/.config/zent-client";
  const std::string credentialsFile = config + "/credentials";
};

TEST_F(ZentRecorderTest, RefusesToStartWithCredentialsOthersMayRead) {
  WriteFile(documents + "/zent.cfg1", Profile("127.0.0.2", 11000, 8080));
  WriteCredentials(Credentials("127.0.0.2"), 0644);
  auto recorder = Run();
  EXPECT_EQ(recorder->WaitForExit(10s), 2);
  EXPECT_NE(recorder->Output().find("chmod 600 " + credentialsFile), std::string::npos) << recorder->Output();
  ExpectNoPassword(recorder->Output());
}

TEST_F(ZentRecorderTest, CheckSaysWhichCameraDoesNotAnswer) {
  auto door = Sim("127.0.0.2");
  // Nothing listens on 127.0.0.9.
  WriteFile(documents + "/zent.cfg1", Profile("127.0.0.2", door->EventPort(), door->VideoPort()) +
                                          Profile("127.0.0.9", door->EventPort(), door->VideoPort()));
  WriteCredentials(Credentials("127.0.0.2") + Credentials("127.0.0.9"), 0600);
  auto check = Run({"--check"});
  ASSERT_EQ(check->WaitForExit(20s), 1);
  const std::string output = check->Output();
  const std::string doorAnswers = "  event port 127.0.0.2:" + std::to_string(door->EventPort()) + " answers\n" +
                            "  video http://127.0.0.2:" + std::to_string(door->VideoPort()) + "/ answers\n";
  EXPECT_NE(output.find(doorAnswers), std::string::npos) << output;
  EXPECT_NE(output.find("  event port 127.0.0.9:" + std::to_string(door->EventPort()) + " does not answer"),
            std::string::npos) << output;
  EXPECT_NE(output.find("  video http://127.0.0.9:" + std::to_string(door->VideoPort()) + "/ does not answer"),
            std::string::npos) << output;
  ExpectNoPassword(output);
}

TEST_F(ZentRecorderTest, HangUpAddsACameraAndTerminateLeavesEveryRecordingPlayable) {
  auto door = Sim("127.0.0.2"), shop = Sim("127.0.0.3");
  WriteFile(documents + "/zent.cfg1", Profile("127.0.0.2", door->EventPort(), door->VideoPort()));
  WriteCredentials(Credentials("127.0.0.2"), 0600);
  auto recorder = Run();
  ASSERT_TRUE(recorder->WaitForLine("Successfully connected.", 10s)) << recorder->Output();
  door->Command("event");
  ASSERT_TRUE(recorder->WaitForLine("Recording to " + documents + "/cam2_", 10s));

  WriteFile(documents + "/zent.cfg1", Profile("127.0.0.2", door->EventPort(), door->VideoPort()) +
                                          Profile("127.0.0.3", shop->EventPort(), shop->VideoPort()));
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

}  // namespace
}  // namespace zent::testing
