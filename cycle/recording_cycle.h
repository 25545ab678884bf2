#pragma once
// One camera's recording cycle: log in, build the recorder and arm it, record each event for the
// profile's minutes, log in again after a drop, rebuild after a new picture size. A plain state
// machine: its host does the work, and the caller feeds it what happened and the time, so the
// desktop window (with its timers) and the headless recorder (with its own loop) run the same
// cycle, and it can be tested without sockets, windows or clocks.

#include <array>
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "link/relogin.h"
#include "link/session_host.h"
#include "record/video_listener.h"

namespace zent {

// What the cycle waits for. A host with timers of its own maps each kind to one of them.
enum class CycleDeadline { RecordingEnd, Relogin, Prepare, Ready };
inline constexpr std::size_t kCycleDeadlineKinds = 4;

class CycleHost {
 public:
  virtual ~CycleHost() = default;
  virtual void StartSession() = 0;  // log in, with the same camera and credentials every time
  virtual void StopSession() = 0;
  // Builds the recorder and starts its video; false when there is nothing to arm.
  virtual bool StartVideo() = 0;
  virtual void StopVideo() = 0;  // closes an open recording with its index
  // Marks the event and begins the next recording; false when it could not (the host said why).
  virtual bool StartRecording() = 0;
  virtual void StopRecording() = 0;
  virtual void Status(const std::string& text) = 0;

  // What only a window shows.
  virtual void RecorderReady() {}         // ready for the next event
  virtual void VideoModeChangeShown() {}  // just after the mode-change line
  virtual void GaveUp() { Status("Not logging in again until the configuration is reloaded."); }
  // For a host with timers: a deadline set `after` from now, and one no longer wanted.
  virtual void Schedule(CycleDeadline, std::chrono::milliseconds /*after*/) {}
  virtual void Cancel(CycleDeadline) {}
};

// What the cycle did, for whoever wants to tell people: the status lines, notifications, a web page.
// Every one comes on the thread that feeds the cycle, in the order it happened.
struct CycleEvent {
  enum class Kind {
    LoggedIn,          // the camera accepted us (again, after a drop)
    RecorderReady,     // the recorder is ready for the next event
    CameraEvent,       // the camera sent an event, recorded or not
    RecordingStarted,  // saving began
    RecordingEnded,    // its length is up, or it was cut short (a new picture size, a closed window)
    SessionDropped,    // logging in again after `reloginIn`
    GaveUp,            // not logging in again by itself
  };
  Kind kind;
  std::chrono::steady_clock::time_point at;
  std::chrono::milliseconds reloginIn{0};
  EventOrigin origin{};  // CameraEvent: where it came from
};

class CycleObserver {
 public:
  virtual ~CycleObserver() = default;
  virtual void OnCycleEvent(const CycleEvent& event) = 0;
  // What the camera's video engine reported that is news: a recording's file begun, saved (with
  // its frames, length and seconds before the event), refused or deleted; the stream lost or back.
  // The programs hand these on, on the same thread as the cycle's events.
  virtual void OnVideoReport(const VideoReport&) {}
};

struct CycleSettings {
  int fileMinutes = 10;
  std::chrono::milliseconds minute{60000};
  bool relogin = true;
  ReloginSchedule reloginSchedule;
  // After the camera changed its picture size, before the video starts again.
  std::chrono::milliseconds modeChangePause{10000};
  // The desktop's recording window is built a second after a log-in or a close and armed a
  // second after that, and after each recording; the headless recorder does both at once.
  std::chrono::milliseconds preparePause{0};
  std::chrono::milliseconds readyPause{0};
  // The window begins saving a moment after the event and says so (RecordingConfirmed), and the
  // length counts from then; headless, StartRecording's true is the start.
  bool confirmedStart = false;
};

class RecordingCycle {
 public:
  using Clock = std::chrono::steady_clock;

  RecordingCycle(CycleHost& host, CycleSettings settings);

  // Observers are told of everything after this; each must outlive the cycle or be removed.
  void AddObserver(CycleObserver& observer) { observers_.push_back(&observer); }
  void RemoveObserver(CycleObserver& observer) { std::erase(observers_, &observer); }

  void Start(Clock::time_point now);
  // The next recording's length; the desktop reads it from the profile at each event.
  void SetLength(int fileMinutes, std::chrono::milliseconds minute) {
    settings_.fileMinutes = fileMinutes;
    settings_.minute = minute;
  }
  // Stops everything; an open recording is closed. Nothing happens after this.
  void Stop();

  // Also from before Start: a host may hand over a session it logged in itself.
  void LoginAccepted(Clock::time_point now);
  void CameraEvent(Clock::time_point now, const EventOrigin& origin = {});
  void SessionEnded(SessionEnd end, Clock::time_point now);
  // Whether a session ending so now would be followed by a new log-in; hosts ask before they
  // tell the user of the ending.
  bool LogsInAgainAfter(SessionEnd end) const;
  void VideoModeChanged(Clock::time_point now);
  // The recording window's reports: saving began; saving could not begin; the user closed the
  // window, which stopped its recording and its video.
  void RecordingConfirmed(Clock::time_point now);
  void RecordingRefused(Clock::time_point now);
  void RecorderClosed(Clock::time_point now);
  // What the video engine reported, handed on to the observers as it is.
  void VideoReported(const VideoReport& report);

  // A deadline came: acted on even when a host's timer fires a little early; nothing when it is
  // no longer wanted.
  void Due(CycleDeadline kind, Clock::time_point now);
  // Acts on whatever came due by `now`.
  void Tick(Clock::time_point now);
  // When Tick has something to do next; nothing while only waiting for the camera.
  std::optional<Clock::time_point> NextDeadline() const;

  // Logged in since the start and not given up: the recorder is wanted.
  bool RecorderWanted() const { return recorderWanted_; }
  bool RecorderReady() const { return video_ == Video::Ready; }
  bool Recording() const { return saving_ == Saving::On; }
  bool VideoRunning() const { return video_ == Video::Readying || video_ == Video::Ready; }
  bool WaitingAfterModeChange() const { return video_ == Video::Preparing && afterModeChange_; }

 private:
  enum class Session { Off, LoggingIn, LoggedIn, WaitingToLogIn, GaveUp };
  enum class Video { Off, Preparing, Readying, Ready };
  enum class Saving { Off, Starting, On };

  void Prepare(Clock::time_point now, std::chrono::milliseconds pause, bool afterModeChange);
  void Build(Clock::time_point now);
  void Readying(Clock::time_point now);
  void Arm(Clock::time_point now);
  void LengthFrom(Clock::time_point now);
  void GiveUp(Clock::time_point now);
  void Tell(CycleEvent::Kind kind, Clock::time_point now, std::chrono::milliseconds reloginIn = {});
  void Set(CycleDeadline kind, Clock::time_point now, std::chrono::milliseconds after);
  void Clear(CycleDeadline kind);
  void ClearAll();

  CycleHost& host_;
  CycleSettings settings_;
  bool stopped_ = false;
  bool recorderWanted_ = false;
  bool afterModeChange_ = false;
  Session session_ = Session::Off;
  Video video_ = Video::Off;
  Saving saving_ = Saving::Off;
  std::size_t reloginAttempt_ = 0;
  std::array<std::optional<Clock::time_point>, kCycleDeadlineKinds> deadlines_;
  std::vector<CycleObserver*> observers_;
};

}  // namespace zent
