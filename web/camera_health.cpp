#include "web/camera_health.h"

namespace zent {
namespace {

using SystemClock = std::chrono::system_clock;

std::int64_t UnixMs(SystemClock::time_point at) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count();
}

std::string SecondsText(std::int64_t milliseconds) { return std::to_string((milliseconds + 500) / 1000) + " s"; }

// What keeps a camera from recording; `since` stands in for a last frame when none came yet.
std::vector<std::string> Problems(const CameraState& camera, const std::shared_ptr<CameraFeed>& feed,
                                  SystemClock::time_point now, SystemClock::time_point since,
                                  std::chrono::milliseconds videoWithin, int relogins) {
  std::vector<std::string> problems;
  if (camera.gaveUp) problems.push_back("event channel ended; not logging in again");
  else if (!camera.loggedIn && relogins < 0) problems.push_back("event channel not logged in");
  else if (!camera.loggedIn && camera.dropsSinceLogin > relogins)
    problems.push_back("event channel down after " + std::to_string(camera.dropsSinceLogin - 1) +
                       " attempts to log in again");
  const std::int64_t lastFrame = feed ? feed->Stats().lastFrameUnixMs.load() : 0;
  const std::int64_t quiet = UnixMs(now) - (lastFrame > 0 ? lastFrame : UnixMs(since));
  // A probe asks about now: a stream known to be lost is a problem at once.
  if (relogins < 0 && feed && lastFrame > 0 && !feed->Stats().videoUp)
    problems.push_back("video lost; connecting again");
  else if (quiet > videoWithin.count())
    problems.push_back(lastFrame > 0 ? "no video for " + SecondsText(quiet) : "no video yet");
  return problems;
}

}  // namespace

std::vector<CameraHealth> HealthOf(const std::vector<CameraState>& cameras, CameraFeeds& feeds,
                                   SystemClock::time_point now, std::chrono::milliseconds videoWithin) {
  std::vector<CameraHealth> health;
  health.reserve(cameras.size());
  for (const CameraState& camera : cameras) {
    // A probe asks about now: not logged in is a problem at once, and so is a camera never seen.
    health.push_back({camera.id, camera.address,
                      Problems(camera, feeds.Find(camera.address), now, SystemClock::time_point{}, videoWithin, -1)});
  }
  return health;
}

NotRecordingAlarm::NotRecordingAlarm(CameraBoard& board, CameraFeeds& feeds, Raise raise, AlarmLimits limits)
    : board_(board), feeds_(feeds), raise_(std::move(raise)), limits_(limits) {
  thread_ = std::thread([this] {
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, limits_.checkEvery, [this] { return stop_; })) {
      lock.unlock();
      Check(SystemClock::now());
      lock.lock();
    }
  });
}

NotRecordingAlarm::~NotRecordingAlarm() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void NotRecordingAlarm::Check(SystemClock::time_point now) {
  std::lock_guard check(checkMutex_);
  std::map<std::string, Watched> next;
  for (const CameraState& camera : board_.Cameras()) {
    const auto found = watched_.find(camera.address);
    Watched watched = found != watched_.end() ? found->second : Watched{now, false};
    const auto problems =
        Problems(camera, feeds_.Find(camera.address), now, watched.since, limits_.noVideo, limits_.relogins);
    if (!problems.empty() && !watched.down) {
      std::string text = "Not recording: ";
      for (std::size_t i = 0; i < problems.size(); ++i) text += (i ? "; " : "") + problems[i];
      raise_(camera.address, camera.id, true, text);
    } else if (problems.empty() && watched.down) {
      raise_(camera.address, camera.id, false, "Recording again: video arrives and the event channel is logged in");
    }
    watched.down = !problems.empty();
    next[camera.address] = watched;
  }
  watched_ = std::move(next);
}

}  // namespace zent
