// The web page's routes for what happens now: each camera's live video and newest picture, and
// the recorder's health for monitoring systems.

#include <httplib.h>

#include <set>

#include "record/disk_space.h"
#include "record/live_mp4.h"
#include "record/memory_budget.h"
#include "record/picture_jpeg.h"
#include "web/camera_health.h"
#include "web/http_answers.h"
#include "web/metrics.h"
#include "web/tokens.h"
#include "web/web_server.h"

namespace zent {
namespace {

constexpr int kMaxLiveViewers = 32;                  // each holds a thread of the pool
constexpr std::size_t kViewerQueueBytes = 4u << 20;  // a viewer that stops reading holds no more
constexpr auto kWaitForVideo = std::chrono::milliseconds(500);
constexpr auto kHealthyVideoWithin = std::chrono::seconds(30);
constexpr char kBoundary[] = "zentframe";

bool IsLoopback(const std::string& address) {
  return address.rfind("127.", 0) == 0 || address == "::1" || address.rfind("::ffff:127.", 0) == 0;
}

// The next packet for a streamed answer; null when the answer is to end (the stream lost, the
// server stopping).
LivePacketPtr NextOrEnd(LiveViewer& viewer, const std::atomic<bool>& stopping) {
  while (!stopping && !viewer.Ended())
    if (LivePacketPtr next = viewer.Next(std::chrono::seconds(1))) return next;
  return nullptr;
}

// Holds one of the live views the server allows, for as long as the answer streams.
struct ViewerSlot {
  explicit ViewerSlot(std::atomic<int>& count) : count(count) {}
  ~ViewerSlot() { --count; }
  std::atomic<int>& count;
};

}  // namespace

bool WebServer::MachineMayRead(const httplib::Request& request) {
  const std::string authorization = request.get_header_value("Authorization");
  if (authorization.rfind("Bearer ", 0) == 0 && !settings_.tokensPath.empty() &&
      !TokenOwner(settings_.tokensPath, authorization.substr(7)).empty())
    return true;
  return settings_.healthFromLocalhost && IsLoopback(request.remote_addr);
}

std::shared_ptr<CameraFeed> WebServer::FeedOf(const std::string& cameraId) {
  for (const CameraState& camera : board_.Cameras())
    if (camera.id == cameraId) return feeds_.Find(camera.address);
  return nullptr;
}

void WebServer::Snapshot(const httplib::Request& request, httplib::Response& response) {
  const std::shared_ptr<CameraFeed> feed = FeedOf(request.matches[1]);
  if (!feed) return SendError(response, 404, "no such camera");
  const std::string jpeg = SnapshotJpeg(feed->Held());
  if (jpeg.empty()) return SendError(response, 503, "no video from this camera now");
  response.set_content(jpeg, "image/jpeg");
}

void WebServer::Live(const httplib::Request& request, httplib::Response& response) {
  const std::shared_ptr<CameraFeed> feed = FeedOf(request.matches[1]);
  if (!feed) return SendError(response, 404, "no such camera");
  if (++liveViewers_ > kMaxLiveViewers) {
    --liveViewers_;
    return SendError(response, 503, "too many live views open; close one");
  }
  auto slot = std::make_shared<ViewerSlot>(liveViewers_);
  std::shared_ptr<LiveViewer> viewer = feed->Watch(kViewerQueueBytes);
  // The first packet says what the stream is: the held ones are there at once.
  LivePacketPtr first = viewer->Next(kWaitForVideo);
  if (!first || !first->parameters) return SendError(response, 503, "no video from this camera now");
  // A live stream has no ranges: a browser's "Range: bytes=0-" gets the whole of it, not a 206
  // without a Content-Range, which it would refuse.
  response.status = 200;
  if (first->parameters->codec_id == AV_CODEC_ID_MJPEG) {
    response.set_chunked_content_provider(
        std::string("multipart/x-mixed-replace; boundary=") + kBoundary,
        [this, viewer, slot, next = first](std::size_t, httplib::DataSink& sink) mutable {
          if (!next) next = NextOrEnd(*viewer, stopping_);
          if (!next) {
            sink.done();
            return true;
          }
          const AVPacket& jpeg = *next->packet;
          const std::string head = std::string("--") + kBoundary + "\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                                   std::to_string(jpeg.size) + "\r\n\r\n";
          const bool sent = sink.write(head.data(), head.size()) &&
                            sink.write(reinterpret_cast<const char*>(jpeg.data), static_cast<std::size_t>(jpeg.size)) &&
                            sink.write("\r\n", 2);
          next.reset();
          return sent && !stopping_;
        },
        [viewer](bool) { viewer->End(); });
    return;
  }
  std::string error;
  std::shared_ptr<LiveMp4> mp4 = LiveMp4::Open(*first, error);
  if (!mp4) return SendError(response, 415, error);
  response.set_chunked_content_provider(
      "video/mp4",
      [this, viewer, slot, mp4, next = first](std::size_t, httplib::DataSink& sink) mutable {
        if (!next) next = NextOrEnd(*viewer, stopping_);
        // Another connection or picture size needs an MP4 of its own: the page opens a new one.
        if (!next || !mp4->Fits(*next)) {
          sink.done();
          return true;
        }
        std::string bytes, failure;
        const bool added = mp4->Add(*next, bytes, failure);
        next.reset();
        if (!added) return false;
        return sink.write(bytes.data(), bytes.size()) && !stopping_;
      },
      [viewer](bool) { viewer->End(); });
}

void WebServer::Metrics(httplib::Response& response) {
  ProcessFigures process;
  process.memoryUsedBytes = MemoryBudget::Process().Used();
  process.memoryLimitBytes = MemoryBudget::Process().Limit();
  process.liveViewers = liveViewers_;
  std::set<std::string> folders;
  for (const CatalogCamera& camera : catalog_.Cameras()) {
    if (!folders.insert(camera.place.folder).second) continue;
    process.disks.push_back({camera.place.folder, FreeBytes(camera.place.folder + "/."), camera.reserveBytes});
  }
  response.set_content(MetricsText(board_.Cameras(), feeds_, process), "text/plain; version=0.0.4; charset=utf-8");
}

void WebServer::Health(httplib::Response& response) {
  nlohmann::json cameras = nlohmann::json::array();
  bool healthy = true;
  for (const CameraHealth& camera :
       HealthOf(board_.Cameras(), feeds_, std::chrono::system_clock::now(), kHealthyVideoWithin)) {
    healthy = healthy && camera.problems.empty();
    cameras.push_back({{"camera", camera.id},
                       {"address", camera.address},
                       {"ok", camera.problems.empty()},
                       {"problems", camera.problems}});
  }
  SendJson(response, {{"ok", healthy}, {"cameras", cameras}}, healthy ? 200 : 503);
}

}  // namespace zent
