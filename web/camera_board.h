#pragma once
// What the web page shows of each camera now, kept up by an observer of each camera's cycle, and
// the news it pushes to the page as it happens (recordings started and saved, events, a camera
// going offline), numbered so that a browser that reconnects misses nothing still held.

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cycle/camera_status.h"
#include "cycle/recording_cycle.h"

namespace zent {

// A camera as the page shows it: its status, and when its last event came.
struct CameraState : CameraStatus {
  std::string id;
  std::string address;
  std::string lastEvent;     // ISO 8601, empty before the first
  double lastEventUnix = 0;  // seconds since 1970; 0 before the first
};

struct BoardNews {
  std::uint64_t number = 0;
  std::string json;  // {"type":"recording","camera":…,"state":"saved",…}
};

class CameraBoard {
 public:
  // Cameras that left the list are forgotten; those that stay keep their state.
  void SetCameras(const std::vector<std::string>& addresses);
  std::vector<CameraState> Cameras();
  // Observes one camera's cycle on its thread; must not outlive the board.
  std::unique_ptr<CycleObserver> ObserverFor(const std::string& address);

  // The news held after `after`, never waiting; Listen says when there is more.
  std::vector<BoardNews> NewsAfter(std::uint64_t after);
  std::uint64_t LatestNews();
  // `wake` is called, from the camera's thread and under no lock of the board's, after each news.
  std::uint64_t Listen(std::function<void()> wake);
  void Unlisten(std::uint64_t listener);

 private:
  class Observer;
  // Applies a change to the camera and publishes its news; nothing for a change that is none.
  void Update(const std::string& address, const std::function<CameraStatus::Change(CameraState&)>& change);
  bool Change(const std::string& address, const std::function<CameraStatus::Change(CameraState&)>& change);

  std::mutex mutex_;
  std::map<std::string, CameraState> cameras_;  // by address
  std::vector<std::string> order_;
  std::deque<BoardNews> news_;
  std::uint64_t lastNews_ = 0;
  std::map<std::uint64_t, std::function<void()>> listeners_;
  std::uint64_t lastListener_ = 0;
};

}  // namespace zent
