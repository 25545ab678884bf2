// A camera's live feed and the alarm of a camera that stopped recording.

#include <gtest/gtest.h>

#include "record/camera_feed.h"
#include "web/camera_board.h"
#include "web/camera_health.h"

namespace zent::testing {
namespace {

using namespace std::chrono_literals;

std::shared_ptr<const AVCodecParameters> Stream(AVCodecID codec) {
  std::shared_ptr<AVCodecParameters> parameters(avcodec_parameters_alloc(),
                                                [](AVCodecParameters* p) { avcodec_parameters_free(&p); });
  parameters->codec_id = codec;
  return parameters;
}

LivePacketPtr Packet(const std::shared_ptr<const AVCodecParameters>& stream, int size, bool key, int number) {
  PacketPtr packet = NewPacket();
  av_new_packet(packet.get(), size);
  packet->flags = key ? AV_PKT_FLAG_KEY : 0;
  packet->pts = number;
  return MakeLivePacket(*packet, stream, 1, {1, 25}, false, std::chrono::steady_clock::now());
}

TEST(LiveFeed, ViewersStartAtTheHeldKeyFrameAndASlowOneSkipsToTheNextWithinItsBound) {
  CameraFeed feed;
  const auto h264 = Stream(AV_CODEC_ID_H264);
  feed.Push(Packet(h264, 1000, false, 0));  // before any key frame: nothing to start from
  feed.Push(Packet(h264, 5000, true, 1));
  feed.Push(Packet(h264, 1000, false, 2));
  auto viewer = feed.Watch(10000);
  EXPECT_EQ(viewer->Next(0ms)->packet->pts, 1);
  EXPECT_EQ(viewer->Next(0ms)->packet->pts, 2);

  // Stops reading: what it holds stays within its bound; what it gets next decodes (a key frame first).
  for (int n = 3; n < 200; ++n) feed.Push(Packet(h264, 1000, n % 8 == 0, n));
  EXPECT_GT(viewer->Skipped(), 100u);
  const auto next = viewer->Next(0ms);
  ASSERT_TRUE(next);
  EXPECT_TRUE(next->key);
  int held = 1;
  while (viewer->Next(0ms)) ++held;
  EXPECT_LE(held * 1000, 10000);
  EXPECT_EQ(feed.Stats().framesReceived, 200u);

  // A Motion JPEG viewer that falls behind gets the newest pictures; the lost stream ends it.
  CameraFeed jpegs;
  const auto mjpeg = Stream(AV_CODEC_ID_MJPEG);
  auto slow = jpegs.Watch(3000);
  for (int n = 0; n < 10; ++n) jpegs.Push(Packet(mjpeg, 1000, true, n));
  EXPECT_EQ(slow->Next(0ms)->packet->pts, 7);
  EXPECT_EQ(jpegs.Watch(3000)->Next(0ms)->packet->pts, 9);  // a new viewer: the newest picture at once
  jpegs.Lost();
  slow->Next(0ms);
  slow->Next(0ms);
  EXPECT_FALSE(slow->Next(0ms));
  EXPECT_TRUE(slow->Ended());
}

TEST(NotRecordingAlarm, RaisesOncePerOutageAndOnceWhenBack) {
  CameraBoard board;
  CameraFeeds feeds;
  board.SetCameras({"10.0.0.9"});
  auto feed = feeds.For("10.0.0.9");
  auto observer = board.ObserverFor("10.0.0.9");
  std::vector<std::string> raised;
  NotRecordingAlarm alarm(board, feeds,
                          [&](const std::string&, const std::string& id, bool down, const std::string& text) {
                            raised.push_back(id + (down ? " down: " : " up: ") + text);
                          },
                          {60000ms, 3, 3600s});  // checked by hand below
  const auto start = std::chrono::system_clock::now();
  observer->OnCycleEvent({CycleEvent::Kind::LoggedIn, {}});
  alarm.Check(start);
  feed->Push(nullptr);  // a frame arrived now
  alarm.Check(start + 59s);
  EXPECT_TRUE(raised.empty());
  alarm.Check(start + 62s);
  alarm.Check(start + 70s);
  ASSERT_EQ(raised.size(), 1u);
  EXPECT_EQ(raised[0], "10_0_0_9 down: Not recording: no video for 62 s");
  feed->Push(nullptr);
  alarm.Check(std::chrono::system_clock::now() + 1s);
  ASSERT_EQ(raised.size(), 2u);
  EXPECT_EQ(raised[1].rfind("10_0_0_9 up: Recording again", 0), 0u);

  // The event channel: a drop and three failed attempts to log in again are still an outage to wait
  // out; the fourth failure is not.
  for (int drops = 1; drops <= 4; ++drops) {
    observer->OnCycleEvent({CycleEvent::Kind::SessionDropped, {}});
    feed->Push(nullptr);
    alarm.Check(std::chrono::system_clock::now());
    EXPECT_EQ(raised.size(), drops <= 3 ? 2u : 3u) << drops;
  }
  EXPECT_EQ(raised[2], "10_0_0_9 down: Not recording: event channel down after 3 attempts to log in again");
}

}  // namespace
}  // namespace zent::testing
