#pragma once
// What a camera's video engine shows the world as the stream comes in: its packets for live
// viewers (no second connection to the camera, nothing transcoded) and its counters for monitoring.
// A viewer starts from the last key frame the feed holds, so its first picture is at hand at once,
// and has a small queue of its own: one that reads too slowly skips ahead, never holds the
// recording or another viewer up, and never holds more than its bound.

#include <atomic>
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

#include "record/ffmpeg_ptr.h"

namespace zent {

// Counters of one camera's stream and recordings; written by the engine's threads, read by anyone.
struct FeedStats {
  std::atomic<std::uint64_t> framesReceived{0};
  std::atomic<std::uint64_t> framesWritten{0};
  std::atomic<std::uint64_t> bytesWritten{0};
  std::atomic<std::uint64_t> framesDropped{0};
  std::atomic<std::int64_t> lastFrameUnixMs{0};  // 0: none yet
  std::atomic<bool> videoUp{false};
  std::atomic<int> codec{0};  // AVCodecID of the stream last received
};

struct LivePacket {
  PacketPtr packet;  // a reference to the bytes the recording holds too, never a copy
  std::shared_ptr<const AVCodecParameters> parameters;
  std::uint64_t segment = 0;  // which connection to the camera it came over
  AVRational timeBase{1, 1};
  bool arrivalClock = true;  // no time stamps of its own: place it by `arrival`
  std::chrono::steady_clock::time_point arrival;
  bool key = false;
  std::size_t Bytes() const { return packet ? static_cast<std::size_t>(packet->size) : 0; }
};
using LivePacketPtr = std::shared_ptr<const LivePacket>;

class LiveViewer {
 public:
  explicit LiveViewer(std::size_t maxBytes) : maxBytes_(maxBytes) {}
  // The next packet, waiting up to `timeout`; null when none came, the stream was lost or the
  // feed closed (then Ended()).
  LivePacketPtr Next(std::chrono::milliseconds timeout);
  bool Ended();
  std::uint64_t Skipped();
  // No more packets: the viewer left, or the stream was lost.
  void End();
  // Called whenever a packet arrives or the viewer ends, from that thread, after the viewer's lock.
  void SetWake(std::function<void()> wake);

 private:
  friend class CameraFeed;
  void Offer(const LivePacketPtr& packet);
  bool Queue(const LivePacketPtr& packet);  // under the lock; true when it was queued

  const std::size_t maxBytes_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<LivePacketPtr> queue_;
  std::size_t bytes_ = 0;
  bool waitForKey_ = false;  // inter-coded: what came after a skip cannot be decoded before a key frame
  bool ended_ = false;
  std::uint64_t skipped_ = 0;
  std::shared_ptr<const std::function<void()>> wake_;
};

class CameraFeed {
 public:
  // `keepBytes` bounds the key-frame group held for new viewers.
  explicit CameraFeed(std::size_t keepBytes = 16u << 20) : keepBytes_(keepBytes) {}

  // The engine's reader thread: a packet as it arrived (counted; null when it was not kept). Every
  // JPEG stands alone; other codecs are held from their last key frame on.
  void Push(const LivePacketPtr& packet);
  // The stream is lost: viewers are told and the held pictures let go.
  void Lost();

  // A new viewer, starting with what the feed holds; `queueBytes` bounds its queue.
  std::shared_ptr<LiveViewer> Watch(std::size_t queueBytes);
  // The held packets: the newest JPEG, or the last key frame and what followed it.
  std::vector<LivePacketPtr> Held();
  int Viewers();

  FeedStats& Stats() { return stats_; }

 private:
  const std::size_t keepBytes_;
  std::mutex mutex_;
  std::vector<LivePacketPtr> held_;
  std::size_t heldBytes_ = 0;
  std::vector<std::weak_ptr<LiveViewer>> viewers_;
  FeedStats stats_;
};

// One feed a camera address, shared by the recorder that fills it and the web page that reads it.
class CameraFeeds {
 public:
  std::shared_ptr<CameraFeed> For(const std::string& address);
  std::shared_ptr<CameraFeed> Find(const std::string& address);
  // Cameras that left the list are forgotten.
  void Keep(const std::vector<std::string>& addresses);

 private:
  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<CameraFeed>> feeds_;
};

// The name the page knows a feed's codec by ("mjpeg", "h264"); empty for another or none yet.
const char* FeedCodecName(int codec);

// A feed's packet: a new reference to `packet`'s bytes with the stream's details.
std::shared_ptr<LivePacket> MakeLivePacket(const AVPacket& packet, std::shared_ptr<const AVCodecParameters> parameters,
                                           std::uint64_t segment, AVRational timeBase, bool arrivalClock,
                                           std::chrono::steady_clock::time_point arrival);

}  // namespace zent
