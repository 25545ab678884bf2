#include "cycle/recording_cycle.h"

#include <algorithm>
#include <utility>

namespace zent {

RecordingCycle::RecordingCycle(CycleHost& host, CycleSettings settings) : host_(host), settings_(std::move(settings)) {}

void RecordingCycle::Start(Clock::time_point) {
  if (session_ != Session::Off || stopped_) return;
  host_.Status("Connecting server...");
  session_ = Session::LoggingIn;
  host_.StartSession();
}

void RecordingCycle::Stop() {
  if (stopped_) return;
  stopped_ = true;
  ClearAll();
  saving_ = Saving::Off;
  if (session_ == Session::LoggingIn || session_ == Session::LoggedIn) host_.StopSession();
  if (VideoRunning()) host_.StopVideo();
  session_ = Session::Off;
  video_ = Video::Off;
  recorderWanted_ = false;
}

void RecordingCycle::LoginAccepted(Clock::time_point now) {
  if (stopped_ || (session_ != Session::LoggingIn && session_ != Session::Off)) return;
  session_ = Session::LoggedIn;
  reloginAttempt_ = 0;
  recorderWanted_ = true;
  Tell(CycleEvent::Kind::LoggedIn, now);
  // Logged in again after a drop, the recorder never stood down: a recording goes on to its end.
  if (video_ == Video::Off) Prepare(now, settings_.preparePause, false);
}

void RecordingCycle::CameraEvent(Clock::time_point now, const EventOrigin& origin) {
  if (stopped_ || session_ != Session::LoggedIn) return;
  const CycleEvent event{CycleEvent::Kind::CameraEvent, now, {}, origin};
  for (CycleObserver* observer : observers_) observer->OnCycleEvent(event);
  if (video_ != Video::Ready || saving_ == Saving::On) return;
  // An event while the window is still starting starts it again, under the new event's name.
  if (!host_.StartRecording()) {
    saving_ = Saving::Off;  // armed still: the next event tries again
    return;
  }
  if (settings_.confirmedStart) saving_ = Saving::Starting;
  else LengthFrom(now);
}

void RecordingCycle::RecordingConfirmed(Clock::time_point now) {
  if (!stopped_ && saving_ == Saving::Starting) LengthFrom(now);
}

void RecordingCycle::RecordingRefused(Clock::time_point now) {
  if (stopped_ || saving_ == Saving::Off) return;
  saving_ = Saving::Off;
  Clear(CycleDeadline::RecordingEnd);
  if (video_ == Video::Ready) Readying(now);
}

void RecordingCycle::RecorderClosed(Clock::time_point now) {
  if (stopped_) return;
  if (saving_ == Saving::On) Tell(CycleEvent::Kind::RecordingEnded, now);
  saving_ = Saving::Off;
  Clear(CycleDeadline::RecordingEnd);
  if (!VideoRunning()) return;
  Clear(CycleDeadline::Ready);
  video_ = Video::Off;
  if (recorderWanted_) Prepare(now, settings_.preparePause, false);
}

void RecordingCycle::VideoReported(const VideoReport& report) {
  for (CycleObserver* observer : observers_) observer->OnVideoReport(report);
}

bool RecordingCycle::LogsInAgainAfter(SessionEnd end) const {
  return !stopped_ && (session_ == Session::LoggingIn || session_ == Session::LoggedIn) && end == SessionEnd::Dropped &&
         settings_.relogin;
}

void RecordingCycle::SessionEnded(SessionEnd end, Clock::time_point now) {
  if (stopped_ || (session_ != Session::LoggingIn && session_ != Session::LoggedIn)) return;
  if (LogsInAgainAfter(end)) {
    const std::chrono::milliseconds delay = settings_.reloginSchedule.DelayFor(reloginAttempt_++);
    host_.Status(ReloginStatusLine(delay));
    session_ = Session::WaitingToLogIn;
    Set(CycleDeadline::Relogin, now, delay);
    Tell(CycleEvent::Kind::SessionDropped, now, delay);
    return;
  }
  // Nothing will log in again by itself: the camera refused us, or we were told not to try.
  GiveUp(now);
}

void RecordingCycle::VideoModeChanged(Clock::time_point now) {
  if (stopped_ || !VideoRunning()) return;
  host_.Status("[[[ Video Mode is Changed. ]]]");
  host_.VideoModeChangeShown();
  if (saving_ == Saving::On) Tell(CycleEvent::Kind::RecordingEnded, now);
  saving_ = Saving::Off;
  Clear(CycleDeadline::RecordingEnd);
  Clear(CycleDeadline::Ready);
  host_.StopVideo();
  video_ = Video::Off;
  Prepare(now, settings_.modeChangePause, true);
}

void RecordingCycle::Due(CycleDeadline kind, Clock::time_point now) {
  if (stopped_ || !deadlines_[static_cast<std::size_t>(kind)]) return;
  Clear(kind);
  switch (kind) {
    case CycleDeadline::RecordingEnd:
      saving_ = Saving::Off;
      host_.StopRecording();
      Tell(CycleEvent::Kind::RecordingEnded, now);
      if (video_ == Video::Ready) Readying(now);
      break;
    case CycleDeadline::Relogin:
      host_.Status("Connecting server...");
      session_ = Session::LoggingIn;
      host_.StartSession();
      break;
    case CycleDeadline::Prepare: Build(now); break;
    case CycleDeadline::Ready: Arm(now); break;
  }
}

void RecordingCycle::Tick(Clock::time_point now) {
  for (std::size_t k = 0; k < kCycleDeadlineKinds; ++k) {
    if (deadlines_[k] && now >= *deadlines_[k]) Due(static_cast<CycleDeadline>(k), now);
  }
}

std::optional<RecordingCycle::Clock::time_point> RecordingCycle::NextDeadline() const {
  std::optional<Clock::time_point> next;
  if (stopped_) return next;
  for (const auto& at : deadlines_) {
    if (at && (!next || *at < *next)) next = at;
  }
  return next;
}

void RecordingCycle::Prepare(Clock::time_point now, std::chrono::milliseconds pause, bool afterModeChange) {
  video_ = Video::Preparing;
  afterModeChange_ = afterModeChange;
  if (pause > std::chrono::milliseconds::zero()) Set(CycleDeadline::Prepare, now, pause);
  else Build(now);
}

void RecordingCycle::Build(Clock::time_point now) {
  afterModeChange_ = false;
  video_ = Video::Off;
  if (recorderWanted_ && host_.StartVideo()) Readying(now);
}

void RecordingCycle::Readying(Clock::time_point now) {
  video_ = Video::Readying;
  if (settings_.readyPause > std::chrono::milliseconds::zero()) Set(CycleDeadline::Ready, now, settings_.readyPause);
  else Arm(now);
}

void RecordingCycle::Arm(Clock::time_point now) {
  video_ = Video::Ready;
  host_.RecorderReady();
  Tell(CycleEvent::Kind::RecorderReady, now);
}

void RecordingCycle::LengthFrom(Clock::time_point now) {
  saving_ = Saving::On;
  Tell(CycleEvent::Kind::RecordingStarted, now);
  Set(CycleDeadline::RecordingEnd, now, std::max(0, settings_.fileMinutes) * settings_.minute);
}

void RecordingCycle::GiveUp(Clock::time_point now) {
  session_ = Session::GaveUp;
  recorderWanted_ = false;
  ClearAll();
  if (saving_ == Saving::On) Tell(CycleEvent::Kind::RecordingEnded, now);
  saving_ = Saving::Off;
  if (VideoRunning()) host_.StopVideo();
  video_ = Video::Off;
  afterModeChange_ = false;
  host_.GaveUp();
  Tell(CycleEvent::Kind::GaveUp, now);
}

void RecordingCycle::Tell(CycleEvent::Kind kind, Clock::time_point now, std::chrono::milliseconds reloginIn) {
  const CycleEvent event{kind, now, reloginIn, {}};
  for (CycleObserver* observer : observers_) observer->OnCycleEvent(event);
}

void RecordingCycle::Set(CycleDeadline kind, Clock::time_point now, std::chrono::milliseconds after) {
  deadlines_[static_cast<std::size_t>(kind)] = now + after;
  host_.Schedule(kind, after);
}

void RecordingCycle::Clear(CycleDeadline kind) {
  auto& at = deadlines_[static_cast<std::size_t>(kind)];
  if (!at) return;
  at.reset();
  host_.Cancel(kind);
}

void RecordingCycle::ClearAll() {
  for (std::size_t k = 0; k < kCycleDeadlineKinds; ++k) Clear(static_cast<CycleDeadline>(k));
}

}  // namespace zent
