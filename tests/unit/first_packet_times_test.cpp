#include "record/first_packet_times.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace zent {
namespace {

constexpr std::int64_t kNone = AV_NOPTS_VALUE;

PacketPtr Packet(std::int64_t pts, std::int64_t dts) {
  PacketPtr p = NewPacket();
  p->pts = pts;
  p->dts = dts;
  p->duration = 3000;
  return p;
}

std::vector<std::pair<std::int64_t, std::int64_t>> Drain(FirstPacketTimes& times) {
  std::vector<std::pair<std::int64_t, std::int64_t>> out;
  while (PacketPtr p = times.Pop()) out.emplace_back(p->pts, p->dts);
  return out;
}

// What FFmpeg's RTSP client hands on from a camera sending two B-frames between its P-frames:
// the key frame without any time, then pictures without a decode time.
TEST(FirstPacketTimes, AStreamsFirstPacketsGetTheTimesItsLaterOnesImply) {
  FirstPacketTimes times(3000);
  times.Push(Packet(kNone, kNone));  // I, shown first
  times.Push(Packet(9000, kNone));   // P
  times.Push(Packet(3000, kNone));   // B
  EXPECT_EQ(times.Pop(), nullptr);   // held until the stream says when it decodes
  times.Push(Packet(6000, 3000));
  times.Push(Packet(18000, 6000));
  const std::vector<std::pair<std::int64_t, std::int64_t>> settled{
      {0, -6000}, {9000, -3000}, {3000, 0}, {6000, 3000}, {18000, 6000}};
  EXPECT_EQ(Drain(times), settled);
  EXPECT_TRUE(times.Settled());

  // A stream that never says is held no longer than the bound, and its packets go on unchanged.
  FirstPacketTimes silent(3000, 4);
  for (int i = 0; i < 3; ++i) silent.Push(Packet(kNone, kNone));
  EXPECT_EQ(silent.Pop(), nullptr);
  silent.Push(Packet(kNone, kNone));
  EXPECT_EQ(Drain(silent).size(), 4u);
  silent.Push(Packet(3000, kNone));
  const std::vector<std::pair<std::int64_t, std::int64_t>> asRead{{3000, kNone}};
  EXPECT_EQ(Drain(silent), asRead);
}

}  // namespace
}  // namespace zent
