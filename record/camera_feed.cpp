#include "record/camera_feed.h"

#include <algorithm>

namespace zent {

std::shared_ptr<LivePacket> MakeLivePacket(const AVPacket& packet, std::shared_ptr<const AVCodecParameters> parameters,
                                           std::uint64_t segment, AVRational timeBase, bool arrivalClock,
                                           std::chrono::steady_clock::time_point arrival) {
  auto live = std::make_shared<LivePacket>();
  live->packet = NewPacket();
  if (!live->packet || av_packet_ref(live->packet.get(), &packet) < 0) return nullptr;
  live->parameters = std::move(parameters);
  live->segment = segment;
  live->timeBase = timeBase;
  live->arrivalClock = arrivalClock;
  live->arrival = arrival;
  live->key = (packet.flags & AV_PKT_FLAG_KEY) != 0;
  return live;
}

const char* FeedCodecName(int codec) {
  return codec == AV_CODEC_ID_MJPEG ? "mjpeg" : codec == AV_CODEC_ID_H264 ? "h264" : "";
}

LivePacketPtr LiveViewer::Next(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  ready_.wait_for(lock, timeout, [this] { return ended_ || !queue_.empty(); });
  if (queue_.empty()) return nullptr;
  LivePacketPtr packet = std::move(queue_.front());
  queue_.pop_front();
  bytes_ -= packet->Bytes();
  return packet;
}

bool LiveViewer::Ended() {
  std::lock_guard lock(mutex_);
  return ended_ && queue_.empty();
}

std::uint64_t LiveViewer::Skipped() {
  std::lock_guard lock(mutex_);
  return skipped_;
}

void LiveViewer::End() {
  std::shared_ptr<const std::function<void()>> wake;
  {
    std::lock_guard lock(mutex_);
    ended_ = true;
    ready_.notify_all();
    wake = wake_;
  }
  if (wake) (*wake)();
}

void LiveViewer::SetWake(std::function<void()> wake) {
  std::lock_guard lock(mutex_);
  wake_ = std::make_shared<const std::function<void()>>(std::move(wake));
}

void LiveViewer::Offer(const LivePacketPtr& packet) {
  std::shared_ptr<const std::function<void()>> wake;
  {
    std::lock_guard lock(mutex_);
    if (!Queue(packet)) return;
    wake = wake_;
  }
  if (wake) (*wake)();
}

bool LiveViewer::Queue(const LivePacketPtr& packet) {
  if (ended_) return false;
  const bool standsAlone = packet->parameters && packet->parameters->codec_id == AV_CODEC_ID_MJPEG;
  if (waitForKey_ && !packet->key) {
    ++skipped_;
    return false;
  }
  waitForKey_ = false;
  if (bytes_ + packet->Bytes() > maxBytes_) {
    if (standsAlone) {
      // The newest picture is what a live view is for: the oldest go until it fits.
      while (!queue_.empty() && bytes_ + packet->Bytes() > maxBytes_) {
        bytes_ -= queue_.front()->Bytes();
        queue_.pop_front();
        ++skipped_;
      }
    } else {
      // Frames of a group depend on those before them: the viewer skips to the next key frame.
      skipped_ += queue_.size();
      queue_.clear();
      bytes_ = 0;
      if (!packet->key) {
        waitForKey_ = true;
        ++skipped_;
        return false;
      }
    }
  }
  bytes_ += packet->Bytes();
  queue_.push_back(packet);
  ready_.notify_all();
  return true;
}

void CameraFeed::Push(const LivePacketPtr& packet) {
  ++stats_.framesReceived;
  stats_.lastFrameUnixMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
          .count();
  stats_.videoUp = true;
  if (!packet) return;
  if (packet->parameters) stats_.codec = packet->parameters->codec_id;
  std::vector<std::shared_ptr<LiveViewer>> viewers;
  {
    std::lock_guard lock(mutex_);
    const bool standsAlone = packet->parameters && packet->parameters->codec_id == AV_CODEC_ID_MJPEG;
    const bool fits = packet->Bytes() <= keepBytes_;
    if (standsAlone || packet->key) {
      held_.clear();
      heldBytes_ = 0;
      if (fits) held_.push_back(packet);
    } else if (!held_.empty() && held_.front()->segment == packet->segment &&
               heldBytes_ + packet->Bytes() <= keepBytes_) {
      held_.push_back(packet);
    } else {
      // A group too large to keep, or one whose key frame was missed: new viewers wait for the next.
      held_.clear();
      heldBytes_ = 0;
    }
    if (!held_.empty() && held_.back() == packet) heldBytes_ += packet->Bytes();
    std::erase_if(viewers_, [&](const std::weak_ptr<LiveViewer>& weak) {
      auto viewer = weak.lock();
      if (!viewer) return true;
      viewers.push_back(std::move(viewer));
      return false;
    });
  }
  for (const auto& viewer : viewers) viewer->Offer(packet);
}

void CameraFeed::Lost() {
  std::vector<std::weak_ptr<LiveViewer>> viewers;
  {
    std::lock_guard lock(mutex_);
    held_.clear();
    heldBytes_ = 0;
    viewers.swap(viewers_);
  }
  stats_.videoUp = false;
  for (const auto& weak : viewers)
    if (auto viewer = weak.lock()) viewer->End();
}

std::shared_ptr<LiveViewer> CameraFeed::Watch(std::size_t queueBytes) {
  auto viewer = std::make_shared<LiveViewer>(queueBytes);
  std::lock_guard lock(mutex_);
  // A viewer begins where a decoder can: the held group whole when it fits, else its newest JPEG
  // or the next key frame.
  std::size_t from = 0;
  if (!held_.empty() && held_.front()->parameters && held_.front()->parameters->codec_id == AV_CODEC_ID_MJPEG)
    from = held_.size() - 1;
  for (std::size_t i = from; i < held_.size(); ++i) viewer->Offer(held_[i]);
  viewers_.push_back(viewer);
  return viewer;
}

std::vector<LivePacketPtr> CameraFeed::Held() {
  std::lock_guard lock(mutex_);
  return held_;
}

int CameraFeed::Viewers() {
  std::lock_guard lock(mutex_);
  return static_cast<int>(std::count_if(viewers_.begin(), viewers_.end(),
                                        [](const std::weak_ptr<LiveViewer>& weak) { return !weak.expired(); }));
}

std::shared_ptr<CameraFeed> CameraFeeds::For(const std::string& address) {
  std::lock_guard lock(mutex_);
  auto& feed = feeds_[address];
  if (!feed) feed = std::make_shared<CameraFeed>();
  return feed;
}

std::shared_ptr<CameraFeed> CameraFeeds::Find(const std::string& address) {
  std::lock_guard lock(mutex_);
  const auto found = feeds_.find(address);
  return found == feeds_.end() ? nullptr : found->second;
}

void CameraFeeds::Keep(const std::vector<std::string>& addresses) {
  std::lock_guard lock(mutex_);
  std::erase_if(feeds_, [&](const auto& entry) {
    return std::find(addresses.begin(), addresses.end(), entry.first) == addresses.end();
  });
}

}  // namespace zent
