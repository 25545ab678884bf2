#include "web/live_routes.h"

#include <nlohmann/json.hpp>

#include "record/live_mp4.h"
#include "record/picture_jpeg.h"
#include "web/http_answers.h"
#include "web/web_requests.h"

namespace zent {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kViewerQueueBytes = 4u << 20;  // a viewer that stops reading holds no more
constexpr auto kWaitForVideo = std::chrono::milliseconds(500);
constexpr auto kNewsKeepAlive = std::chrono::seconds(15);
constexpr char kBoundary[] = "zentframe";

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
      out += std::string("--") + kBoundary +
             "\r\nContent-Type: image/jpeg\r\nContent-Length: " + std::to_string(jpeg.size) + "\r\n\r\n";
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

// Live news for the page as server-sent events, woken by the board.
class NewsStream : public HttpStream {
 public:
  NewsStream(CameraBoard& board, std::uint64_t after, std::shared_ptr<void> slot)
      : board_(board), after_(after), slot_(std::move(slot)) {}
  ~NewsStream() override {
    if (listener_) board_.Unlisten(listener_);
  }
  void OnReady(std::function<void()> wake) override { listener_ = board_.Listen(std::move(wake)); }
  bool Pull(std::string& out) override {
    for (const BoardNews& news : board_.NewsAfter(after_)) {
      out += "id: " + std::to_string(news.number) + "\ndata: " + news.json + "\n\n";
      after_ = news.number;
    }
    const auto now = Clock::now();
    if (out.empty() && now - lastSent_ >= kNewsKeepAlive)
      out = ": still here\n\n";  // keeps proxies from closing a quiet stream
    if (!out.empty()) lastSent_ = now;
    return true;
  }

 private:
  CameraBoard& board_;
  std::uint64_t after_;
  std::shared_ptr<void> slot_;
  std::uint64_t listener_ = 0;
  Clock::time_point lastSent_ = Clock::now();
};

}  // namespace

void LiveRoutes::Register(HttpServer& server) {
  const std::string camera = "/api/cameras/" + kCameraIdPattern;
  server.Route("GET", "/api/cameras", [this](const HttpRequest&, HttpResponse& r) { Cameras(r); });
  server.Route("GET", camera + "/live",
               [this](const HttpRequest& q, HttpResponse& r) { Live(SessionToken(q), q.matches[1], r); });
  server.Route("GET", camera + "/snapshot\\.jpg",
               [this](const HttpRequest& q, HttpResponse& r) { Snapshot(q.matches[1], r); });
  server.Route("GET", "/api/events", [this](const HttpRequest& q, HttpResponse& r) {
    const std::string last = q.Header("Last-Event-ID");
    News(SessionToken(q), last.empty() ? q.Param("after") : last, r);
  });
}

std::shared_ptr<CameraFeed> LiveRoutes::FeedOf(const std::string& cameraId) {
  for (const CameraState& camera : board_.Cameras())
    if (camera.id == cameraId) return feeds_.Find(camera.address);
  return nullptr;
}

void LiveRoutes::Cameras(HttpResponse& response) {
  nlohmann::json list = nlohmann::json::array();
  for (const CameraState& camera : board_.Cameras()) {
    const std::shared_ptr<CameraFeed> feed = feeds_.Find(camera.address);
    const char* state = !camera.loggedIn       ? "offline"
                        : camera.recording     ? "recording"
                        : camera.recorderReady ? "armed"
                                               : "logged in";
    list.push_back({{"id", camera.id},
                    {"address", camera.address},
                    {"name", camera.address},
                    {"state", state},
                    {"loggedIn", camera.loggedIn},
                    {"video", camera.video},
                    {"armed", camera.recorderReady},
                    {"recording", camera.recording},
                    {"lastEvent", camera.lastEvent},
                    {"codec", FeedCodecName(feed ? feed->Stats().codec.load() : 0)},
                    {"live", "/api/cameras/" + camera.id + "/live"},
                    {"snapshot", "/api/cameras/" + camera.id + "/snapshot.jpg"}});
  }
  SendJson(response, list);
}

void LiveRoutes::Snapshot(const std::string& camera, HttpResponse& response) {
  const std::shared_ptr<CameraFeed> feed = FeedOf(camera);
  if (!feed) return SendError(response, 404, "no such camera");
  const std::string jpeg = SnapshotJpeg(feed->Held());
  if (jpeg.empty()) return SendError(response, 503, "no video from this camera now");
  response.SetContent(jpeg, "image/jpeg");
}

void LiveRoutes::Live(const std::string& session, const std::string& camera, HttpResponse& response) {
  const std::shared_ptr<CameraFeed> feed = FeedOf(camera);
  if (!feed) return SendError(response, 404, "no such camera");
  std::shared_ptr<void> slot = slots_.Take(session, true, response);
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

void LiveRoutes::News(const std::string& session, const std::string& last, HttpResponse& response) {
  std::uint64_t after = board_.LatestNews();
  if (!last.empty() && last.size() < 20 && last.find_first_not_of("0123456789") == std::string::npos)
    after = std::min<std::uint64_t>(std::stoull(last), after);  // a number from the future would mute the stream
  std::shared_ptr<void> slot = slots_.Take(session, false, response);
  if (!slot) return;
  response.SetHeader("Cache-Control", "no-store");
  response.SetStream(std::make_shared<NewsStream>(board_, after, std::move(slot)), "text/event-stream");
}

}  // namespace zent
