#pragma once
// A video listener that writes down what the engine reports, for tests without windows.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "record/video_engine.h"

namespace zent::testing {

class RecordingListener : public VideoListener {
 public:
  explicit RecordingListener(VideoEngine*& engine) : engine_(engine) {}

  void OnVideoPicture(std::shared_ptr<const VideoPicture> picture) override {
    std::lock_guard lock(mutex_);
    ++pictures_;
    lastPicture_ = picture;
    if (engine_) engine_->PictureTaken();
    changed_.notify_all();
  }
  void OnVideoModeChanged() override {
    std::lock_guard lock(mutex_);
    ++modeChanges_;
    changed_.notify_all();
  }
  void OnVideoReport(const VideoReport& report) override {
    std::lock_guard lock(mutex_);
    reports_.push_back(report);
    changed_.notify_all();
  }

  // The first report of `kind` at or after position `from`.
  std::optional<VideoReport> WaitFor(VideoReport::Kind kind, std::chrono::milliseconds timeout, std::size_t from = 0) {
    std::unique_lock lock(mutex_);
    std::optional<VideoReport> found;
    changed_.wait_for(lock, timeout, [&] {
      for (std::size_t i = from; i < reports_.size(); ++i)
        if (reports_[i].kind == kind) {
          found = reports_[i];
          return true;
        }
      return false;
    });
    return found;
  }
  bool WaitForPictures(int count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return pictures_ >= count; });
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    reports_.clear();
  }
  std::vector<VideoReport> Reports() {
    std::lock_guard lock(mutex_);
    return reports_;
  }
  int ModeChanges() {
    std::lock_guard lock(mutex_);
    return modeChanges_;
  }
  int Pictures() {
    std::lock_guard lock(mutex_);
    return pictures_;
  }
  std::shared_ptr<const VideoPicture> LastPicture() {
    std::lock_guard lock(mutex_);
    return lastPicture_;
  }

 private:
  VideoEngine*& engine_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<VideoReport> reports_;
  int modeChanges_ = 0;
  int pictures_ = 0;
  std::shared_ptr<const VideoPicture> lastPicture_;
};

}  // namespace zent::testing
