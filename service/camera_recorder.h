#pragma once
// One camera recorded without a window: its event session, its video engine and its recording
// cycle, run by a thread of its own. The session and the engine report from their threads into
// this one's mailbox; only this thread drives the cycle.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "link/event_session.h"
#include "log/status_line.h"
#include "record/video_engine.h"
#include "camera/camera_setup.h"
#include "cycle/recording_cycle.h"
#include "service/status_output.h"

namespace zent {

// Time scales that tests shorten; the program uses the defaults.
struct RecorderTuning {
  std::chrono::milliseconds minute{60000};
  ReloginSchedule reloginSchedule;
  std::chrono::milliseconds modeChangePause{10000};
  EngineTimings engineTimings;
  LocalClock clock = LocalTimeNow;  // for the recordings' names
};

class CameraRecorder : private CycleHost, private VideoListener {
 public:
  // `observers` hear of the camera's cycle on its thread, and must outlive this object; `feed`,
  // when given, gets the camera's stream for live viewers and its counters.
  CameraRecorder(CameraSetup setup, StatusOutput& output, RecorderTuning tuning = {},
                 const std::vector<CycleObserver*>& observers = {}, std::shared_ptr<CameraFeed> feed = nullptr);
  ~CameraRecorder();  // RequestStop, Join
  CameraRecorder(const CameraRecorder&) = delete;
  CameraRecorder& operator=(const CameraRecorder&) = delete;

  const CameraSetup& Setup() const { return setup_; }
  // Never waits: the thread closes the recording and the session on its way out.
  void RequestStop();
  // An event from outside (the web page, MQTT), from any thread: one status line, then the cycle.
  void Trigger(const EventOrigin& origin);
  void Join();

 private:
  struct Input;
  class Mailbox;
  class SessionLink;

  void Run();
  void Handle(const Input& input);
  void Say(const std::string& text);

  // CycleHost, on this object's thread.
  void StartSession() override;
  void StopSession() override;
  bool StartVideo() override;
  void StopVideo() override;
  bool StartRecording() override;
  void StopRecording() override;
  void Status(const std::string& text) override { Say(text); }

  // VideoListener, on the engine's threads.
  void OnVideoPicture(std::shared_ptr<const VideoPicture>) override {}
  void OnVideoModeChanged() override;
  void OnVideoReport(const VideoReport& report) override;

  const CameraSetup setup_;
  const LogSettings log_;
  StatusOutput& output_;
  const RecorderTuning tuning_;
  std::shared_ptr<Mailbox> mailbox_;
  RecordingCycle cycle_;
  std::shared_ptr<CameraFeed> feed_;
  VideoEngine engine_;
  std::shared_ptr<SessionLink> sessionLink_;
  std::shared_ptr<EventSource> session_;
  std::shared_ptr<EventSource> stoppedSession_;  // the last one, so the thread can wait for it
  std::string foundVideoUrl_;                    // where the camera said its video is (ONVIF)
  std::thread thread_;
};

}  // namespace zent
