// The headless recording cycle, driven by hand with a fake host and made-up times.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service/recording_cycle.h"

namespace {

using namespace std::chrono_literals;
using zent::RecordingCycle;
using zent::SessionEnd;

class FakeHost : public zent::CycleHost {
 public:
  std::vector<std::string> calls;
  bool refuseRecording = false;

  void StartSession() override { calls.push_back("StartSession"); }
  void StopSession() override { calls.push_back("StopSession"); }
  void StartVideo() override { calls.push_back("StartVideo"); }
  void StopVideo() override { calls.push_back("StopVideo"); }
  bool StartRecording() override {
    calls.push_back(refuseRecording ? "StartRecording refused" : "StartRecording");
    return !refuseRecording;
  }
  void StopRecording() override { calls.push_back("StopRecording"); }
  void Status(const std::string& text) override { calls.push_back(text); }

  std::vector<std::string> Take() { return std::exchange(calls, {}); }
};

using Calls = std::vector<std::string>;

zent::CycleSettings TwoMinuteFiles() {
  zent::CycleSettings settings;
  settings.fileMinutes = 2;
  return settings;
}

TEST(ServiceCycle, RecordsEachEventForItsMinutesAndKeepsRecordingThroughALoginAgain) {
  FakeHost host;
  RecordingCycle cycle(host, TwoMinuteFiles());
  const auto t0 = RecordingCycle::Clock::time_point{} + 1h;

  cycle.Start(t0);
  cycle.CameraEvent(t0);  // not logged in yet: nothing to record with
  EXPECT_EQ(host.Take(), (Calls{"Connecting server...", "StartSession"}));
  cycle.LoginAccepted(t0);
  cycle.CameraEvent(t0 + 1s);
  cycle.CameraEvent(t0 + 30s);  // one recording at a time
  EXPECT_EQ(host.Take(), (Calls{"StartVideo", "StartRecording"}));
  EXPECT_EQ(cycle.NextDeadline(), t0 + 121s);

  // A drop waits 5, then 10 s; the recording and the video go on meanwhile.
  cycle.SessionEnded(SessionEnd::Dropped, t0 + 40s);
  cycle.Tick(t0 + 44s);
  cycle.Tick(t0 + 45s);
  cycle.SessionEnded(SessionEnd::Dropped, t0 + 46s);
  EXPECT_EQ(host.Take(), (Calls{"Disconnected Network. Logging in again in 5 s.", "Connecting server...",
                                "StartSession", "Disconnected Network. Logging in again in 10 s."}));
  EXPECT_EQ(cycle.NextDeadline(), t0 + 56s);
  cycle.Tick(t0 + 56s);
  cycle.LoginAccepted(t0 + 57s);
  EXPECT_TRUE(cycle.Recording());
  cycle.Tick(t0 + 121s);
  cycle.CameraEvent(t0 + 122s);
  EXPECT_EQ(host.Take(), (Calls{"Connecting server...", "StartSession", "StopRecording", "StartRecording"}));

  // Accepted again: the next drop starts from the first wait.
  cycle.SessionEnded(SessionEnd::Dropped, t0 + 130s);
  EXPECT_EQ(host.Take(), (Calls{"Disconnected Network. Logging in again in 5 s."}));

  cycle.Stop();
  cycle.Tick(t0 + 1000s);
  EXPECT_EQ(host.Take(), (Calls{"StopRecording", "StopVideo"}));
  EXPECT_EQ(cycle.NextDeadline(), std::nullopt);
}

TEST(ServiceCycle, ModeChangeRefusalAndAFailedStartEachLeaveTheCycleWhereTheDesktopWould) {
  FakeHost host;
  RecordingCycle cycle(host, TwoMinuteFiles());
  const auto t0 = RecordingCycle::Clock::time_point{} + 1h;
  cycle.Start(t0);
  cycle.LoginAccepted(t0);
  host.refuseRecording = true;
  cycle.CameraEvent(t0 + 1s);
  EXPECT_FALSE(cycle.Recording());
  host.refuseRecording = false;
  cycle.CameraEvent(t0 + 2s);  // armed still
  host.Take();

  // A new picture size: the recording ends and the video restarts 10 s later; events meanwhile
  // have nothing to record with.
  cycle.VideoModeChanged(t0 + 3s);
  cycle.CameraEvent(t0 + 4s);
  EXPECT_EQ(host.Take(), (Calls{"[[[ Video Mode is Changed. ]]]", "StopRecording", "StopVideo"}));
  EXPECT_EQ(cycle.NextDeadline(), t0 + 13s);
  cycle.Tick(t0 + 13s);
  cycle.CameraEvent(t0 + 14s);
  EXPECT_EQ(host.Take(), (Calls{"StartVideo", "StartRecording"}));

  // Refused log-in: nothing is tried again, and the recording is closed.
  cycle.SessionEnded(SessionEnd::Final, t0 + 15s);
  cycle.Tick(t0 + 500s);
  cycle.CameraEvent(t0 + 501s);
  cycle.Stop();
  EXPECT_EQ(host.Take(), (Calls{"StopRecording", "StopVideo", "Not logging in again until the configuration is reloaded."}));
}

TEST(ServiceCycle, WithoutLoggingInAgainADropStandsDown) {
  FakeHost host;
  zent::CycleSettings settings = TwoMinuteFiles();
  settings.relogin = false;
  RecordingCycle cycle(host, settings);
  const auto t0 = RecordingCycle::Clock::time_point{} + 1h;
  cycle.Start(t0);
  cycle.LoginAccepted(t0);
  host.Take();
  cycle.SessionEnded(SessionEnd::Dropped, t0 + 1s);
  EXPECT_EQ(host.Take(), (Calls{"StopVideo", "Not logging in again until the configuration is reloaded."}));
  EXPECT_EQ(cycle.NextDeadline(), std::nullopt);
}

}  // namespace
