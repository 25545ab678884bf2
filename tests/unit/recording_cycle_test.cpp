// The recording cycle both programs run, driven by hand with a fake host and made-up times: as the
// headless recorder runs it (no pauses) and as the desktop window does (its timers' pauses).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cycle/recording_cycle.h"

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
  bool StartVideo() override {
    calls.push_back("StartVideo");
    return true;
  }
  void StopVideo() override { calls.push_back("StopVideo"); }
  bool StartRecording() override {
    calls.push_back(refuseRecording ? "StartRecording refused" : "StartRecording");
    return !refuseRecording;
  }
  void StopRecording() override { calls.push_back("StopRecording"); }
  void Status(const std::string& text) override { calls.push_back(text); }
  void RecorderReady() override {
    if (withWindow) calls.push_back("Armed");
  }
  void VideoModeChangeShown() override {
    if (withWindow) calls.push_back("Stop recording and close window.");
  }
  void GaveUp() override {
    if (withWindow) calls.push_back("GaveUp");
    else CycleHost::GaveUp();
  }
  void Schedule(zent::CycleDeadline kind, std::chrono::milliseconds after) override {
    if (withWindow)
      calls.push_back("timer " + std::to_string(static_cast<int>(kind)) + " " + std::to_string(after.count()));
  }
  void Cancel(zent::CycleDeadline kind) override {
    if (withWindow) calls.push_back("stop timer " + std::to_string(static_cast<int>(kind)));
  }
  bool withWindow = false;  // the window's hooks are recorded too

  std::vector<std::string> Take() { return std::exchange(calls, {}); }
};

using Calls = std::vector<std::string>;

zent::CycleSettings TwoMinuteFiles() {
  zent::CycleSettings settings;
  settings.fileMinutes = 2;
  return settings;
}

TEST(HeadlessCycle, RecordsEachEventForItsMinutesAndKeepsRecordingThroughALoginAgain) {
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
  EXPECT_EQ(host.Take(), (Calls{"StopVideo"}));  // which closes the recording with its index
  EXPECT_EQ(cycle.NextDeadline(), std::nullopt);
}

TEST(HeadlessCycle, ModeChangeRefusalAndAFailedStartEachLeaveTheCycleWhereTheDesktopWould) {
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
  EXPECT_EQ(host.Take(), (Calls{"[[[ Video Mode is Changed. ]]]", "StopVideo"}));
  EXPECT_EQ(cycle.NextDeadline(), t0 + 13s);
  cycle.Tick(t0 + 13s);
  cycle.CameraEvent(t0 + 14s);
  EXPECT_EQ(host.Take(), (Calls{"StartVideo", "StartRecording"}));

  // Refused log-in: nothing is tried again, and the recording is closed.
  cycle.SessionEnded(SessionEnd::Final, t0 + 15s);
  cycle.Tick(t0 + 500s);
  cycle.CameraEvent(t0 + 501s);
  cycle.Stop();
  EXPECT_EQ(host.Take(), (Calls{"StopVideo", "Not logging in again until the configuration is reloaded."}));
}

TEST(HeadlessCycle, WithoutLoggingInAgainADropStandsDown) {
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

// The desktop's pauses: built a second after the log-in, armed a second later, the length counted
// from the window's start, armed again a second after each recording.
zent::CycleSettings WindowSettings() {
  zent::CycleSettings settings = TwoMinuteFiles();
  settings.preparePause = 1s;
  settings.readyPause = 1s;
  settings.confirmedStart = true;
  return settings;
}

class EventLog : public zent::CycleObserver {
 public:
  void OnCycleEvent(const zent::CycleEvent& event) override {
    static const char* const kNames[] = {"LoggedIn",       "Armed",          "CameraEvent", "RecordingStarted",
                                         "RecordingEnded", "SessionDropped", "GaveUp"};
    names.push_back(kNames[static_cast<int>(event.kind)]);
  }
  std::vector<std::string> names;
};

TEST(DesktopCycle, BuildsArmsAndRecordsOnTheWindowsTimers) {
  FakeHost host;
  host.withWindow = true;
  RecordingCycle cycle(host, WindowSettings());
  EventLog events;
  cycle.AddObserver(events);
  const auto t0 = RecordingCycle::Clock::time_point{} + 1h;
  cycle.Start(t0);
  cycle.LoginAccepted(t0);
  EXPECT_TRUE(cycle.RecorderWanted());
  cycle.CameraEvent(t0 + 500ms);  // no recorder yet
  EXPECT_EQ(host.Take(), (Calls{"Connecting server...", "StartSession", "timer 2 1000"}));
  cycle.Due(zent::CycleDeadline::Prepare, t0 + 999ms);  // a timer a little early still counts
  EXPECT_FALSE(cycle.RecorderReady());
  cycle.Due(zent::CycleDeadline::Ready, t0 + 2s);
  EXPECT_EQ(host.Take(), (Calls{"stop timer 2", "StartVideo", "timer 3 1000", "stop timer 3", "Armed"}));

  // The event shows the window; a second event before it starts saving starts it again; the
  // length counts from the start, and events during it are dropped.
  cycle.CameraEvent(t0 + 3s);
  cycle.CameraEvent(t0 + 3100ms);
  EXPECT_FALSE(cycle.Recording());
  cycle.RecordingConfirmed(t0 + 3300ms);
  cycle.CameraEvent(t0 + 4s);
  EXPECT_TRUE(cycle.Recording());
  EXPECT_EQ(host.Take(), (Calls{"StartRecording", "StartRecording", "timer 0 120000"}));
  cycle.Due(zent::CycleDeadline::RecordingEnd, t0 + 123300ms);
  EXPECT_FALSE(cycle.RecorderReady());
  cycle.CameraEvent(t0 + 124s);  // before the next arming: dropped
  cycle.Due(zent::CycleDeadline::Ready, t0 + 124300ms);
  EXPECT_EQ(host.Take(), (Calls{"stop timer 0", "StopRecording", "timer 3 1000", "stop timer 3", "Armed"}));

  // A refused start re-arms a second later; a stale timer does nothing.
  cycle.CameraEvent(t0 + 125s);
  cycle.RecordingRefused(t0 + 125200ms);
  cycle.Due(zent::CycleDeadline::RecordingEnd, t0 + 126s);
  EXPECT_EQ(host.Take(), (Calls{"StartRecording", "timer 3 1000"}));
  cycle.Due(zent::CycleDeadline::Ready, t0 + 126200ms);
  host.Take();

  // The user closes the window while it records: rebuilt a second later.
  cycle.CameraEvent(t0 + 130s);
  cycle.RecordingConfirmed(t0 + 130200ms);
  cycle.RecorderClosed(t0 + 140s);
  EXPECT_FALSE(cycle.Recording());
  EXPECT_EQ(host.Take(), (Calls{"StartRecording", "timer 0 120000", "stop timer 0", "timer 2 1000"}));
  EXPECT_EQ(cycle.NextDeadline(), t0 + 141s);
  // Every event of the camera is told, recorded or not; a recording's start when saving began.
  EXPECT_EQ(events.names, (Calls{"LoggedIn", "CameraEvent", "Armed", "CameraEvent", "CameraEvent", "RecordingStarted",
                                 "CameraEvent", "RecordingEnded", "CameraEvent", "Armed", "CameraEvent", "Armed",
                                 "CameraEvent", "RecordingStarted", "RecordingEnded"}));
}

TEST(DesktopCycle, ModeChangeDisconnectAndAClosedWindowWhileNotArmed) {
  FakeHost host;
  host.withWindow = true;
  RecordingCycle cycle(host, WindowSettings());
  const auto t0 = RecordingCycle::Clock::time_point{} + 1h;
  cycle.RecorderClosed(t0);  // not armed: nothing is rebuilt
  EXPECT_EQ(cycle.NextDeadline(), std::nullopt);
  cycle.Start(t0);
  cycle.LoginAccepted(t0);
  cycle.Tick(t0 + 1s);
  cycle.Tick(t0 + 2s);
  cycle.CameraEvent(t0 + 3s);
  cycle.RecordingConfirmed(t0 + 3200ms);
  host.Take();

  // The window is given up at once, without a stop-saving command, and rebuilt ten seconds later.
  cycle.VideoModeChanged(t0 + 4s);
  EXPECT_TRUE(cycle.WaitingAfterModeChange());
  cycle.VideoModeChanged(t0 + 4100ms);  // a second report of the same change
  cycle.CameraEvent(t0 + 5s);
  cycle.RecorderClosed(t0 + 6s);
  EXPECT_EQ(host.Take(), (Calls{"[[[ Video Mode is Changed. ]]]", "Stop recording and close window.", "stop timer 0",
                                "StopVideo", "timer 2 10000"}));
  cycle.Tick(t0 + 14s);
  EXPECT_FALSE(cycle.WaitingAfterModeChange());
  EXPECT_EQ(host.Take(), (Calls{"stop timer 2", "StartVideo", "timer 3 1000"}));

  // Without logging in again, a drop stands everything down; so does Disconnect after a drop
  // that is waiting to log in again.
  cycle.SessionEnded(SessionEnd::Dropped, t0 + 20s);
  cycle.Stop();
  EXPECT_FALSE(cycle.RecorderWanted());
  EXPECT_EQ(host.Take(), (Calls{"Disconnected Network. Logging in again in 5 s.", "timer 1 5000", "stop timer 1",
                                "stop timer 3", "StopVideo"}));
  cycle.Tick(t0 + 100s);
  EXPECT_TRUE(host.Take().empty());

  zent::CycleSettings once = WindowSettings();
  once.relogin = false;
  RecordingCycle second(host, once);
  second.Start(t0);
  second.LoginAccepted(t0);
  second.Tick(t0 + 1s);
  host.Take();
  EventLog events;
  second.AddObserver(events);
  second.SessionEnded(SessionEnd::Dropped, t0 + 1500ms);
  EXPECT_EQ(host.Take(), (Calls{"stop timer 3", "StopVideo", "GaveUp"}));
  EXPECT_EQ(events.names, (Calls{"GaveUp"}));
}

}  // namespace
