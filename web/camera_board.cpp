#include "web/camera_board.h"

#include <nlohmann/json.hpp>

#include "notify/notices.h"

namespace zent {
namespace {

constexpr std::size_t kNewsKept = 200;

}  // namespace

class CameraBoard::Observer : public CycleObserver {
 public:
  Observer(CameraBoard& board, std::string address) : board_(board), address_(std::move(address)) {}

  void OnCycleEvent(const CycleEvent& event) override {
    using Kind = CycleEvent::Kind;
    const std::string now = IsoTime(std::chrono::system_clock::now());
    switch (event.kind) {
      case Kind::LoggedIn:
        Update([](CameraState& s) {
          if (s.everLoggedIn) ++s.reconnects;
          s.loggedIn = s.everLoggedIn = true;
          s.dropsSinceLogin = 0;
          s.gaveUp = false;
        }, "state");
        break;
      case Kind::Armed: Update([](CameraState& s) { s.armed = true; }, "state"); break;
      case Kind::CameraEvent:
        Update([&](CameraState& s) {
          s.lastEvent = now;
          s.lastEventUnix = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
          ++s.events;
        }, "event");
        break;
      case Kind::SessionDropped:
        Update([](CameraState& s) {
          s.loggedIn = s.armed = false;
          ++s.dropsSinceLogin;
        }, "state");
        break;
      case Kind::GaveUp:
        Update([](CameraState& s) { s.loggedIn = s.armed = false; s.gaveUp = true; }, "state");
        break;
      default: break;
    }
  }

  void OnVideoReport(const VideoReport& report) override {
    using Kind = VideoReport::Kind;
    switch (report.kind) {
      case Kind::Connected:
      case Kind::StreamBack:
        Update([&](CameraState& s) {
          if (report.kind == Kind::StreamBack) ++s.reconnects;
          s.video = true;
        }, "state");
        break;
      case Kind::NoVideo:
      case Kind::StreamLost: Update([](CameraState& s) { s.video = false; }, "state"); break;
      case Kind::RecordingStarted:
        Update([&](CameraState& s) {
          s.recording = true;
          s.recordingPath = report.path;
          ++s.recordings;
        }, "recording");
        break;
      case Kind::RecordingSaved:
      case Kind::RecordingFailed:
        Update([](CameraState& s) {
          s.recording = false;
          s.recordingPath.clear();
        }, "recording");
        break;
      case Kind::RecordingDeleted: Update([](CameraState&) {}, "recording"); break;
      default: break;
    }
  }

 private:
  void Update(const std::function<void(CameraState&)>& change, const std::string& type) {
    board_.Update(address_, change, type);
  }
  CameraBoard& board_;
  const std::string address_;
};

void CameraBoard::SetCameras(const std::vector<std::string>& addresses) {
  std::lock_guard lock(mutex_);
  std::map<std::string, CameraState> kept;
  for (const std::string& address : addresses) {
    const auto found = cameras_.find(address);
    CameraState fresh;
    fresh.id = TopicName(address);
    fresh.address = address;
    kept[address] = found != cameras_.end() ? found->second : fresh;
  }
  cameras_ = std::move(kept);
  order_ = addresses;
}

std::vector<CameraState> CameraBoard::Cameras() {
  std::lock_guard lock(mutex_);
  std::vector<CameraState> list;
  for (const std::string& address : order_) list.push_back(cameras_[address]);
  return list;
}

std::unique_ptr<CycleObserver> CameraBoard::ObserverFor(const std::string& address) {
  return std::make_unique<Observer>(*this, address);
}

void CameraBoard::Update(const std::string& address, const std::function<void(CameraState&)>& change,
                         const std::string& type) {
  std::vector<std::function<void()>> wakes;
  {
    std::lock_guard lock(mutex_);
    if (!Change(address, change, type)) return;
    for (const auto& [id, wake] : listeners_) wakes.push_back(wake);
  }
  for (const auto& wake : wakes) wake();
}

std::uint64_t CameraBoard::Listen(std::function<void()> wake) {
  std::lock_guard lock(mutex_);
  listeners_[++lastListener_] = std::move(wake);
  return lastListener_;
}

void CameraBoard::Unlisten(std::uint64_t listener) {
  std::lock_guard lock(mutex_);
  listeners_.erase(listener);
}

bool CameraBoard::Change(const std::string& address, const std::function<void(CameraState&)>& change,
                         const std::string& type) {
  const auto found = cameras_.find(address);
  if (found == cameras_.end()) return false;
  change(found->second);
  const CameraState& state = found->second;
  const nlohmann::json json{{"type", type},          {"camera", state.id},         {"loggedIn", state.loggedIn},
                            {"video", state.video},  {"armed", state.armed},       {"recording", state.recording},
                            {"lastEvent", state.lastEvent}};
  news_.push_back({++lastNews_, json.dump()});
  if (news_.size() > kNewsKept) news_.pop_front();
  changed_.notify_all();
  return true;
}

std::vector<BoardNews> CameraBoard::NewsAfter(std::uint64_t after, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, timeout, [&] { return closed_ || lastNews_ > after; });
  std::vector<BoardNews> news;
  for (const BoardNews& item : news_)
    if (item.number > after) news.push_back(item);
  return news;
}

std::uint64_t CameraBoard::LatestNews() {
  std::lock_guard lock(mutex_);
  return lastNews_;
}

void CameraBoard::Close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
  changed_.notify_all();
}

}  // namespace zent
