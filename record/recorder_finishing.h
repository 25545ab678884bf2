#pragma once
// Closing a recording writes out what is queued for the disk and then the file's index: on a
// slow or stalled disk that takes as long as the disk does. Nobody who must answer (a window, a
// service being stopped) waits for it: the writing thread finishes in the background, its
// reports still reach the listener while that is there, and the program waits at its end only
// as long as it chooses.

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "record/video_listener.h"

namespace zent {

class Recorder;

// Forwards reports to a listener until it is cut off, so that a recording finishing after its
// window has gone reports to nobody instead of to freed memory.
class ListenerLink : public VideoListener {
 public:
  explicit ListenerLink(VideoListener& target) : target_(&target) {}
  void CutOff();
  void OnVideoPicture(std::shared_ptr<const VideoPicture>) override {}
  void OnVideoModeChanged() override {}
  void OnVideoReport(const VideoReport& report) override;

 private:
  std::mutex mutex_;
  VideoListener* target_;
};

// The recordings one engine has handed over to finish.
class Finishing {
 public:
  // Lets `recorder` finish on a thread of its own; `link` is kept alive for its reports.
  void Start(std::unique_ptr<Recorder> recorder, std::shared_ptr<ListenerLink> link);
  // True once every recording handed over has finished, false at `deadline` if not.
  bool WaitUntil(std::chrono::steady_clock::time_point deadline);
  // The same for every engine of the process.
  static bool WaitForAll(std::chrono::steady_clock::time_point deadline);

 private:
  std::shared_ptr<struct FinishingState> state_;
};

}  // namespace zent
