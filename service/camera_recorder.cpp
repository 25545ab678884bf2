#include "service/camera_recorder.h"

#include <atomic>

#include "link/external_source.h"
#include "record/recording_name.h"

namespace zent {

struct CameraRecorder::Input {
  enum class Kind {
    LoginAccepted,
    CameraEvent,
    VideoFound,
    SessionEnded,
    VideoModeChanged,
    VideoReported,
    Trigger,
    Stop
  };
  Kind kind;
  unsigned session = 0;  // which session sent it; older sessions' news is stale
  SessionEnd end = SessionEnd::Dropped;
  std::shared_ptr<const VideoReport> report = nullptr;  // VideoReported: for the observers
  EventOrigin origin = {};                              // CameraEvent
  std::string url = {};                                 // VideoFound
};

class CameraRecorder::Mailbox {
 public:
  void Post(Input input) {
    {
      std::lock_guard lock(mutex_);
      inputs_.push_back(std::move(input));
    }
    wake_.notify_one();
  }
  // The next input, or nothing once `deadline` passed.
  std::optional<Input> Wait(std::optional<RecordingCycle::Clock::time_point> deadline) {
    std::unique_lock lock(mutex_);
    auto ready = [this] { return !inputs_.empty(); };
    if (deadline) wake_.wait_until(lock, *deadline, ready);
    else wake_.wait(lock, ready);
    if (inputs_.empty()) return std::nullopt;
    Input input = inputs_.front();
    inputs_.pop_front();
    return input;
  }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Input> inputs_;
};

// The session's host: status lines and the ending's message go straight out, the rest to the mailbox. Nothing
// here waits, so the session never waits for the cycle.
class CameraRecorder::SessionLink : public SessionHost {
 public:
  SessionLink(CameraRecorder& owner, unsigned id)
      : mailbox_(owner.mailbox_), output_(owner.output_), address_(owner.setup_.Address()), log_(owner.log_), id_(id) {}

  void AddStatusLine(const std::string& text) override { output_.Line(address_, log_, text); }
  void LoginAccepted() override { mailbox_->Post({Input::Kind::LoginAccepted, id_}); }
  void CameraEvent(const EventOrigin& origin) override {
    Input input{Input::Kind::CameraEvent, id_};
    input.origin = origin;
    mailbox_->Post(std::move(input));
  }
  void VideoFound(const std::string& url) override {
    Input input{Input::Kind::VideoFound, id_};
    input.url = url;
    mailbox_->Post(std::move(input));
  }
  // Nobody waits at a box here: the message is a line like the others.
  void SessionEnded(const SessionEnding& ending) override {
    if (!ending.message.empty()) output_.Line(address_, log_, ending.message);
    for (const std::string& line : ending.lines) output_.Line(address_, log_, line);
    mailbox_->Post({Input::Kind::SessionEnded, id_, ending.end});
  }

  unsigned Id() const { return id_; }

 private:
  const std::shared_ptr<Mailbox> mailbox_;
  StatusOutput& output_;
  const std::string address_;
  const LogSettings log_;
  const unsigned id_;
};

namespace {

CycleSettings CycleSettingsOf(const CameraSetup& setup, const RecorderTuning& tuning) {
  CycleSettings settings = CycleSettingsFor(setup);
  settings.minute = tuning.minute;
  settings.reloginSchedule = tuning.reloginSchedule;
  settings.modeChangePause = tuning.modeChangePause;
  return settings;
}

}  // namespace

CameraRecorder::CameraRecorder(CameraSetup setup, StatusOutput& output, RecorderTuning tuning,
                               const std::vector<CycleObserver*>& observers, std::shared_ptr<CameraFeed> feed)
    : setup_(std::move(setup)),
      log_(LogSettingsOf(setup_.profile)),
      output_(output),
      tuning_(std::move(tuning)),
      mailbox_(std::make_shared<Mailbox>()),
      cycle_(*this, CycleSettingsOf(setup_, tuning_)),
      engine_(*this, tuning_.engineTimings) {
  for (CycleObserver* observer : observers) cycle_.AddObserver(*observer);
  // Motion is looked for in the stream the engine receives, web page or not.
  if (!feed && setup_.events.kind == EventSourceChoice::Kind::Motion) feed = std::make_shared<CameraFeed>();
  feed_ = feed;
  engine_.SetFeed(std::move(feed));
  thread_ = std::thread([this] { Run(); });
}

CameraRecorder::~CameraRecorder() {
  RequestStop();
  Join();
}

void CameraRecorder::RequestStop() { mailbox_->Post({Input::Kind::Stop}); }

void CameraRecorder::Trigger(const EventOrigin& origin) {
  Input input{Input::Kind::Trigger};
  input.origin = origin;
  mailbox_->Post(std::move(input));
}

void CameraRecorder::Join() {
  if (thread_.joinable()) thread_.join();
}

namespace {
constexpr std::chrono::seconds kFinishWait{2};
}  // namespace

void CameraRecorder::Run() {
  cycle_.Start(RecordingCycle::Clock::now());
  for (;;) {
    const std::optional<Input> input = mailbox_->Wait(cycle_.NextDeadline());
    if (input && input->kind == Input::Kind::Stop) break;
    if (input) Handle(*input);
    cycle_.Tick(RecordingCycle::Clock::now());
  }
  cycle_.Stop();
  // The camera's file is finished on a thread of its own; a disk that does not answer within
  // 2 s is not waited for, so one stalled disk holds up no other camera's stop.
  engine_.WaitUntilFinished(std::chrono::steady_clock::now() + kFinishWait);
  // The session was told to stop and calls nobody any more; waiting for its thread keeps the
  // program from ending under it.
  if (stoppedSession_) stoppedSession_->WaitUntilEnded(std::chrono::milliseconds(1000));
  stoppedSession_.reset();
}

void CameraRecorder::Handle(const Input& input) {
  const auto now = RecordingCycle::Clock::now();
  if (input.kind == Input::Kind::VideoModeChanged) {
    cycle_.VideoModeChanged(now);
    return;
  }
  if (input.kind == Input::Kind::VideoReported) {
    cycle_.VideoReported(*input.report);
    return;
  }
  if (input.kind == Input::Kind::Trigger) {
    Say(TriggerLine(input.origin));
    cycle_.CameraEvent(now, input.origin);
    return;
  }
  if (!sessionLink_ || input.session != sessionLink_->Id()) return;
  switch (input.kind) {
    case Input::Kind::LoginAccepted: cycle_.LoginAccepted(now); break;
    case Input::Kind::CameraEvent: cycle_.CameraEvent(now, input.origin); break;
    case Input::Kind::VideoFound: foundVideoUrl_ = input.url; break;
    case Input::Kind::SessionEnded: cycle_.SessionEnded(input.end, now); break;
    case Input::Kind::VideoModeChanged:
    case Input::Kind::VideoReported:
    case Input::Kind::Trigger:
    case Input::Kind::Stop: break;
  }
}

void CameraRecorder::Say(const std::string& text) { output_.Line(setup_.Address(), log_, text); }

void CameraRecorder::StartSession() {
  StopSession();
  static std::atomic<unsigned> lastId{0};
  sessionLink_ = std::make_shared<SessionLink>(*this, ++lastId);
  session_ = StartEventSource(setup_, sessionLink_, feed_);
  if (!session_) {
    Say("Cannot start the event channel's thread.");
    mailbox_->Post({Input::Kind::SessionEnded, sessionLink_->Id(), SessionEnd::Dropped});
  }
}

void CameraRecorder::StopSession() {
  if (!session_) return;
  session_->RequestStop();
  stoppedSession_ = std::move(session_);
}

bool CameraRecorder::StartVideo() {
  // Where the camera said its video is, unless the Options name a URL.
  CameraSetup setup = setup_;
  if (setup.videoUrlTemplate.empty()) setup.videoUrlTemplate = foundVideoUrl_;
  ConfigureEngine(engine_, setup);
  engine_.StartView();
  return true;
}

void CameraRecorder::StopVideo() { engine_.StopView(); }

bool CameraRecorder::StartRecording() {
  const std::string wanted =
      RecordingFileName(setup_.profile.savePath, setup_.profile.insertTime, tuning_.clock(), setup_.recordingExtension);
  engine_.MarkEvent();
  std::string error;
  if (!engine_.StartRecording(wanted, error).empty()) return true;
  const std::string text = "Cannot record to " + wanted + ": " + error;
  Say(text);
  // On this thread, inside the cycle's own call: its observers hear of the refusal at once.
  cycle_.VideoReported(VideoReport(VideoReport::Kind::RecordingFailed, text, wanted));
  return false;
}

void CameraRecorder::StopRecording() { engine_.StopRecording(); }

void CameraRecorder::OnVideoModeChanged() { mailbox_->Post({Input::Kind::VideoModeChanged}); }

void CameraRecorder::OnVideoReport(const VideoReport& report) {
  if (report.kind == VideoReport::Kind::Connecting) return;
  if (IsStatusReport(report)) Say(report.text);
  // The cycle's observers hear of it on the camera's thread, like everything else.
  mailbox_->Post({Input::Kind::VideoReported, 0, SessionEnd::Dropped, std::make_shared<const VideoReport>(report)});
}

}  // namespace zent
