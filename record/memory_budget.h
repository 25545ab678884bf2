#pragma once
// One bound on the video the whole process holds in memory: every camera's pre-event buffer and
// the packets queued for its writer draw on it. A packet is charged once, when it arrives, for
// as long as anything holds it; when a stalled disk has filled the budget, new frames are
// dropped and counted instead of taking the machine's memory.

#include <atomic>
#include <cstdint>

extern "C" {
#include <libavcodec/packet.h>
}

namespace zent {

// 1 GiB, or a quarter of the machine's memory where that is less.
std::int64_t DefaultMemoryBudget();

class MemoryBudget {
 public:
  // The one every camera of the process shares.
  static MemoryBudget& Process();

  void SetLimit(std::int64_t bytes) { limit_ = bytes; }
  std::int64_t Limit() const { return limit_; }
  std::int64_t Used() const { return used_; }
  // Charges `bytes`; false, with nothing charged, when they would pass the limit.
  bool TryCharge(std::int64_t bytes);
  void Release(std::int64_t bytes) { used_ -= bytes; }

 private:
  std::atomic<std::int64_t> limit_{DefaultMemoryBudget()};
  std::atomic<std::int64_t> used_{0};
};

// The budget an Option asks for; 0 asks for the default.
inline std::int64_t MemoryBudgetFor(std::int64_t optionBytes) {
  return optionBytes > 0 ? optionBytes : DefaultMemoryBudget();
}

// Makes `packet` hold its bytes through a reference charged to `budget`, given back when the last
// holder lets go of it. False, with the packet unchanged, when the budget has no room.
bool ChargePacket(AVPacket& packet, MemoryBudget& budget);

// Frames come and go thirty times a second a camera. Left alone, the C library maps each large one
// afresh and gives it back to the kernel when freed, so every frame costs page faults on zeroed
// pages; keeping freed memory for the next frame saves about a tenth of the copy path's CPU. The
// budget still bounds how much is held. Called once, early in main.
void KeepFreedFrameMemory();

}  // namespace zent
