// The pre-event buffer's rules: start at a key frame, let go of whole groups, the byte bound wins.

#include "record/pre_event_buffer.h"

#include "record/memory_budget.h"

#include <gtest/gtest.h>

namespace zent {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const Clock::time_point kStart{std::chrono::hours(1)};

// One packet of `bytes` arriving at `at`, a key frame when `key`; its size tells packets apart.
RecordedPacket Packet(Clock::duration at, bool key, int bytes = 100) {
  RecordedPacket job;
  job.packet = NewPacket();
  av_new_packet(job.packet.get(), bytes);
  if (key) job.packet->flags |= AV_PKT_FLAG_KEY;
  job.arrival = kStart + at;
  return job;
}

std::vector<long long> Arrivals(const std::vector<RecordedPacket>& jobs) {
  std::vector<long long> ms;
  for (const auto& job : jobs)
    ms.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(job.arrival - kStart).count());
  return ms;
}

TEST(PreEventBuffer, StartsAtTheLastKeyFrameBeforeTheEventMinusItsSeconds) {
  PreEventBuffer buffer;
  buffer.SetSeconds(2);
  buffer.Push(Packet(0ms, false));  // no key frame yet: nothing to start from
  EXPECT_EQ(buffer.Packets(), 0u);
  // A key frame every second, four packets a second, for 10 s.
  for (int ms = 250; ms <= 10000; ms += 250) buffer.Push(Packet(std::chrono::milliseconds(ms), ms % 1000 == 0));
  EXPECT_LE(buffer.Packets(), 4u * 4u + 1u);  // old groups went; 2 s + the start margin stay
  const auto taken = Arrivals(buffer.Take(kStart + 9800ms));
  ASSERT_FALSE(taken.empty());
  EXPECT_EQ(taken.front(), 7000);  // the last key frame at or before 9.8 s - 2 s
  EXPECT_EQ(taken.back(), 10000);
  EXPECT_EQ(Arrivals(buffer.Take(kStart + 9900ms)), taken);  // kept for an event soon after

  // A viewer that started less than the seconds ago gives what it has, from its first key frame.
  buffer.Clear();
  buffer.Push(Packet(20000ms, true));
  buffer.Push(Packet(20250ms, false));
  EXPECT_EQ(Arrivals(buffer.Take(kStart + 20300ms)), (std::vector<long long>{20000, 20250}));
}

TEST(PreEventBuffer, TheByteBoundWinsOverTheSecondsByWholeGroups) {
  PreEventBuffer buffer(1000);
  buffer.SetSeconds(30);
  for (int i = 0; i < 12; ++i) buffer.Push(Packet(std::chrono::milliseconds(100 * i), i % 3 == 0));
  EXPECT_LE(buffer.Bytes(), 1000u);
  const auto taken = buffer.Take(kStart + 2000ms);
  ASSERT_FALSE(taken.empty());
  EXPECT_TRUE(taken.front().packet->flags & AV_PKT_FLAG_KEY);
  EXPECT_EQ(Arrivals(taken).back(), 1100);
}

TEST(MemoryBudget, APacketIsChargedOnceForAsLongAsAnythingHoldsIt) {
  MemoryBudget budget;
  budget.SetLimit(1000);
  RecordedPacket first = Packet(0ms, true, 400), second = Packet(10ms, false, 400), third = Packet(20ms, false, 400);
  const std::int64_t each = first.packet->buf->size;  // the bytes and their padding
  ASSERT_TRUE(ChargePacket(*first.packet, budget));
  ASSERT_TRUE(ChargePacket(*second.packet, budget));
  EXPECT_EQ(budget.Used(), 2 * each);
  EXPECT_FALSE(ChargePacket(*third.packet, budget));  // over the limit: dropped, nothing charged
  EXPECT_EQ(budget.Used(), 2 * each);

  // The pre-event buffer and the writer share the bytes: one charge, released with the last hold.
  RecordedPacket shared = SharePacket(first);
  first.packet.reset();
  EXPECT_EQ(budget.Used(), 2 * each);
  shared.packet.reset();
  second.packet.reset();
  EXPECT_EQ(budget.Used(), 0);
  EXPECT_TRUE(ChargePacket(*third.packet, budget));
}

}  // namespace
}  // namespace zent
