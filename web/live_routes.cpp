// The web page's routes for what happens now: each camera's live video and newest picture, and
// the recorder's health for monitoring systems.

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

constexpr std::size_t kViewerQueueBytes = 4u << 20;  // a viewer that stops reading holds no more
constexpr auto kWaitForVideo = std::chrono::milliseconds(500);
constexpr auto kHealthyVideoWithin = std::chrono::seconds(30);
constexpr char kBoundary[] = "zentframe";

bool IsLoopback(const std::string& address) {
  return address.rfind("127.", 0) == 0 || address == "::1" || address.rfind("::ffff:127.", 0) == 0;
}

// A camera's live packets as a streamed answer, from the packet that said what the stream is.
class LiveStream : public HttpStream {
 public:
  LiveStream(std::shared_ptr<LiveViewer> viewer, LivePacketPtr first, std::shared_ptr<LiveMp4> mp4,
             std::shared_ptr<void> slot)
      : viewer_(std::move(viewer)), next_(std::move(first)), mp4_(std::move(mp4)), slot_(std::move(slot)) {}
  ~LiveStream() override { viewer_->End(); }
  void OnReady(std::function<void()> wake) override { viewer_->SetWake(std::move(wake)); }
  bool Pull(std::string& out) override {
    LivePacketPtr next = next_ ? std::move(next_) : viewer_->Next(std::chrono::milliseconds(0));
    next_.reset();
    if (!next) return !viewer_->Ended();
    if (!mp4_) {
      const AVPacket& jpeg = *next->packet;
      out += std::string("--") + kBoundary + "\r\nContent-Type: image/jpeg\r\nContent-Length: " +
             std::to_string(jpeg.size) + "\r\n\r\n";
      out.append(reinterpret_cast<const char*>(jpeg.data), static_cast<std::size_t>(jpeg.size));
      out += "\r\n";
      return true;
    }
    // Another connection or picture size needs an MP4 of its own: the page opens a new one.
    if (!mp4_->Fits(*next)) return false;
    std::string failure;
    return mp4_->Add(*next, out, failure);
  }

 private:
  std::shared_ptr<LiveViewer> viewer_;
  LivePacketPtr next_;
  std::shared_ptr<LiveMp4> mp4_;  // null for Motion JPEG, sent as it came
  std::shared_ptr<void> slot_;
};

}  // namespace

bool WebServer::MachineMayRead(const HttpRequest& request) {
  const std::string authorization = request.Header("Authorization");
  if (authorization.rfind("Bearer ", 0) == 0 && !settings_.tokensPath.empty() &&
      !TokenOwner(settings_.tokensPath, authorization.substr(7)).empty())
    return true;
  // A request a proxy on this machine passed on comes from anywhere.
  return settings_.healthFromLocalhost && IsLoopback(request.remoteAddress) && !ThroughProxy(request);
}

std::shared_ptr<CameraFeed> WebServer::FeedOf(const std::string& cameraId) {
  for (const CameraState& camera : board_.Cameras())
    if (camera.id == cameraId) return feeds_.Find(camera.address);
  return nullptr;
}

void WebServer::Snapshot(const HttpRequest& request, HttpResponse& response) {
  const std::shared_ptr<CameraFeed> feed = FeedOf(request.matches[1]);
  if (!feed) return SendError(response, 404, "no such camera");
  const std::string jpeg = SnapshotJpeg(feed->Held());
  if (jpeg.empty()) return SendError(response, 503, "no video from this camera now");
  response.SetContent(jpeg, "image/jpeg");
}

void WebServer::Live(const HttpRequest& request, HttpResponse& response) {
  const std::shared_ptr<CameraFeed> feed = FeedOf(request.matches[1]);
  if (!feed) return SendError(response, 404, "no such camera");
  std::shared_ptr<void> slot = StreamSlot(request, response, true);
  if (!slot) return;
  std::shared_ptr<LiveViewer> viewer = feed->Watch(kViewerQueueBytes);
  // The first packet says what the stream is: the held ones are there at once.
  LivePacketPtr first = viewer->Next(kWaitForVideo);
  if (!first || !first->parameters) {
    viewer->End();
    return SendError(response, 503, "no video from this camera now");
  }
  // A live stream has no ranges: a browser's "Range: bytes=0-" gets the whole of it, not a 206
  // without a Content-Range, which it would refuse.
  response.status = 200;
  if (first->parameters->codec_id == AV_CODEC_ID_MJPEG) {
    response.SetStream(std::make_shared<LiveStream>(viewer, first, nullptr, std::move(slot)),
                       std::string("multipart/x-mixed-replace; boundary=") + kBoundary);
    return;
  }
  std::string error;
  std::shared_ptr<LiveMp4> mp4 = LiveMp4::Open(*first, error);
  if (!mp4) {
    viewer->End();
    return SendError(response, 415, error);
  }
  response.SetStream(std::make_shared<LiveStream>(viewer, first, mp4, std::move(slot)), "video/mp4");
}

void WebServer::Metrics(HttpResponse& response) {
  ProcessFigures process;
  process.memoryUsedBytes = MemoryBudget::Process().Used();
  process.memoryLimitBytes = MemoryBudget::Process().Limit();
  process.liveViewers = liveViewers_;
  std::set<std::string> folders;
  for (const CatalogCamera& camera : catalog_.Cameras()) {
    if (!folders.insert(camera.place.folder).second) continue;
    process.disks.push_back({camera.place.folder, FreeBytes(camera.place.folder + "/."), camera.reserveBytes});
  }
  response.SetContent(MetricsText(board_.Cameras(), feeds_, process), "text/plain; version=0.0.4; charset=utf-8");
}

void WebServer::Health(HttpResponse& response) {
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
