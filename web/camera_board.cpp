#include "web/camera_board.h"

#include <cmath>
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
    const auto now = std::chrono::system_clock::now();
    Update([&](CameraState& s) {
      const CameraStatus::Change change = s.Apply(event);
      if (change == CameraStatus::Change::Event) {
        s.lastEvent = IsoTime(now);
        s.lastEventUnix = std::chrono::duration<double>(now.time_since_epoch()).count();
      }
      return change;
    });
  }

  void OnVideoReport(const VideoReport& report) override {
    Update([&](CameraState& s) { return s.Apply(report); });
  }

 private:
  void Update(const std::function<CameraStatus::Change(CameraState&)>& change) { board_.Update(address_, change); }
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

void CameraBoard::Update(const std::string& address, const std::function<CameraStatus::Change(CameraState&)>& change) {
  std::vector<std::function<void()>> wakes;
  {
    std::lock_guard lock(mutex_);
    if (!Change(address, change)) return;
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

bool CameraBoard::Change(const std::string& address, const std::function<CameraStatus::Change(CameraState&)>& change) {
  const auto found = cameras_.find(address);
  if (found == cameras_.end()) return false;
  const CameraStatus::Change what = change(found->second);
  if (what == CameraStatus::Change::None) return false;
  const char* type = what == CameraStatus::Change::Event       ? "event"
                     : what == CameraStatus::Change::Recording ? "recording"
                                                               : "state";
  const CameraState& state = found->second;
  nlohmann::json json{{"type", type},
                      {"camera", state.id},
                      {"loggedIn", state.loggedIn},
                      {"video", state.video},
                      {"armed", state.recorderReady},
                      {"recording", state.recording},
                      {"lastEvent", state.lastEvent}};
  if (what == CameraStatus::Change::Event) {
    json["source"] = state.lastOrigin.source;
    if (!state.lastOrigin.topic.empty()) json["topic"] = state.lastOrigin.topic;
    if (!state.lastOrigin.item.empty()) json["item"] = state.lastOrigin.item;
    if (!state.lastOrigin.reason.empty()) json["reason"] = state.lastOrigin.reason;
    if (!state.lastOrigin.by.empty()) json["by"] = state.lastOrigin.by;
    if (state.lastOrigin.area) json["area"] = std::round(*state.lastOrigin.area * 10) / 10;
  }
  news_.push_back({++lastNews_, json.dump()});
  if (news_.size() > kNewsKept) news_.pop_front();
  return true;
}

std::vector<BoardNews> CameraBoard::NewsAfter(std::uint64_t after) {
  std::lock_guard lock(mutex_);
  std::vector<BoardNews> news;
  for (const BoardNews& item : news_)
    if (item.number > after) news.push_back(item);
  return news;
}

std::uint64_t CameraBoard::LatestNews() {
  std::lock_guard lock(mutex_);
  return lastNews_;
}

}  // namespace zent
