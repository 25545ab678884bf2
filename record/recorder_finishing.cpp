#include "record/recorder_finishing.h"

#include <thread>

#include "record/recorder.h"

namespace zent {

struct FinishingState {
  std::mutex mutex;
  std::condition_variable done;
  int pending = 0;
};

namespace {

FinishingState& Everyone() {
  static FinishingState* state = new FinishingState;  // outlives threads still finishing at exit
  return *state;
}

bool Wait(FinishingState& state, std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(state.mutex);
  return state.done.wait_until(lock, deadline, [&] { return state.pending == 0; });
}

void Add(FinishingState& state, int count) {
  {
    std::lock_guard lock(state.mutex);
    state.pending += count;
  }
  state.done.notify_all();
}

}  // namespace

void ListenerLink::CutOff() {
  std::lock_guard lock(mutex_);
  target_ = nullptr;
}

void ListenerLink::OnVideoReport(const VideoReport& report) {
  std::lock_guard lock(mutex_);
  if (target_) target_->OnVideoReport(report);
}

void Finishing::Start(std::unique_ptr<Recorder> recorder, std::shared_ptr<ListenerLink> link) {
  if (!recorder) return;
  if (!state_) state_ = std::make_shared<FinishingState>();
  Add(*state_, 1);
  Add(Everyone(), 1);
  auto finish = [state = state_, link = std::move(link)](std::unique_ptr<Recorder> finishing) mutable {
    finishing.reset();  // the queue written out, the index written, the file closed
    link.reset();
    Add(*state, -1);
    Add(Everyone(), -1);
  };
  try {
    std::thread(finish, std::move(recorder)).detach();
  } catch (const std::system_error&) {
    // No thread to be had: finish here rather than leave the file without its index.
    Add(*state_, -1);
    Add(Everyone(), -1);
  }
}

bool Finishing::WaitUntil(std::chrono::steady_clock::time_point deadline) { return !state_ || Wait(*state_, deadline); }

bool Finishing::WaitForAll(std::chrono::steady_clock::time_point deadline) { return Wait(Everyone(), deadline); }

}  // namespace zent
