#pragma once
// What the web page shows of each camera now, kept up by an observer of each camera's cycle, and
// the news it pushes to the page as it happens (recordings started and saved, events, a camera
// going offline), numbered so that a browser that reconnects misses nothing still held.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cycle/recording_cycle.h"

namespace zent {

struct CameraState {
  std::string id;
  std::string address;
  bool loggedIn = false;
  bool video = false;
  bool armed = false;
  bool recording = false;
  std::string recordingPath;  // the file being written while recording
  std::string lastEvent;  // ISO 8601, empty before the first
  double lastEventUnix = 0;  // seconds since 1970; 0 before the first
  std::uint64_t events = 0;
  std::uint64_t recordings = 0;
  std::uint64_t reconnects = 0;  // log-ins after the first, and the video coming back
  int dropsSinceLogin = 0;       // the event channel's drops since it was last logged in
  bool gaveUp = false;           // not logging in again by itself
  bool everLoggedIn = false;
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

  // News after `after`, waiting up to `timeout` for some; an empty list when none came.
  std::vector<BoardNews> NewsAfter(std::uint64_t after, std::chrono::milliseconds timeout);
  std::uint64_t LatestNews();
  // Wakes every waiting reader: the server is stopping.
  void Close();
  // `wake` is called, from the camera's thread and under no lock of the board's, after each news.
  std::uint64_t Listen(std::function<void()> wake);
  void Unlisten(std::uint64_t listener);

 private:
  class Observer;
  void Update(const std::string& address, const std::function<void(CameraState&)>& change, const std::string& news);
  bool Change(const std::string& address, const std::function<void(CameraState&)>& change, const std::string& news);

  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, CameraState> cameras_;  // by address
  std::vector<std::string> order_;
  std::deque<BoardNews> news_;
  std::uint64_t lastNews_ = 0;
  bool closed_ = false;
  std::map<std::uint64_t, std::function<void()>> listeners_;
  std::uint64_t lastListener_ = 0;
};

}  // namespace zent
