#include "web/clip_routes.h"

#include <algorithm>
#include <ctime>

#include "web/clip_stream.h"
#include "web/http_answers.h"
#include "web/web_requests.h"

namespace zent {
namespace {

std::string LocalStamp(WallClock::time_point at) {
  const std::time_t t = WallClock::to_time_t(at);
  std::tm local{};
  ::localtime_r(&t, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d_%H%M%S", &local);
  return text;
}

}  // namespace

std::string ClipFileName(const ClipSpan& span) {
  return span.camera + "_" + LocalStamp(span.from) + "-" + LocalStamp(span.to) + ".mp4";
}

void ClipRoutes::Register(HttpServer& server) {
  server.Route("GET", "/api/cameras/" + kCameraIdPattern + "/clip", [this](const HttpRequest& q, HttpResponse& r) {
    if (const auto span = SpanOf(q, q.matches[1], r)) Send(*span, SessionToken(q), q.method == "HEAD", r);
  });
}

std::optional<ClipSpan> ClipRoutes::SpanOf(const HttpRequest& request, const std::string& camera,
                                           HttpResponse& response) {
  if (!recordings_.Camera(camera)) {
    SendError(response, 404, "no such camera");
    return std::nullopt;
  }
  const auto from = ParseIsoTime(request.Param("from"));
  const auto to = ParseIsoTime(request.Param("to"));
  if (!from || !to) {
    SendError(response, 400, "from= and to= are ISO times, as 2026-12-09T10:15:00Z");
    return std::nullopt;
  }
  if (*to <= *from || *to - *from > kMaxSpan) {
    SendError(response, 400, "a clip ends after it begins and lasts at most 30 minutes");
    return std::nullopt;
  }
  return ClipSpan{camera, *from, *to};
}

std::vector<ClipSource> ClipRoutes::SourcesOf(const ClipSpan& span) {
  const std::optional<CatalogCamera> camera = recordings_.Camera(span.camera);
  if (!camera) return {};
  const CatalogListing listing = recordings_.Listing(span.camera);  // newest first
  std::vector<ClipSource> named;
  for (auto it = listing->rbegin(); it != listing->rend(); ++it)
    named.push_back({span.camera + "~" + it->tail, WallClock::from_time_t(it->stamp.Time()),
                     static_cast<double>(camera->preEventSeconds)});
  std::vector<ClipSource> sources;
  for (ClipSource& source : ClipSourcesAmong(named, span.from, span.to))
    if (const std::optional<CatalogRecording> recording = recordings_.Find(source.path)) {
      source.path = recording->file.path;
      sources.push_back(std::move(source));
    }
  return sources;
}

void ClipRoutes::Send(const ClipSpan& span, const std::string& holder, bool head, HttpResponse& response) {
  std::vector<ClipSource> sources = SourcesOf(span);
  // Told before the answer begins: a span no recording reaches.
  const bool any = std::any_of(sources.begin(), sources.end(), [&](const ClipSource& source) {
    const std::optional<RecordingExtent> extent = ExtentOf(source);
    return extent && extent->Reaches(span.from, span.to);
  });
  if (!any) return SendError(response, 404, "no recording of this camera in that time");
  const std::string name = ClipFileName(span);
  response.SetHeader("Content-Disposition", "attachment; filename=\"" + name + "\"");
  if (head) return response.SetContent("", "video/mp4");
  if (making_->fetch_add(1) >= kMaxAtOnce) {
    making_->fetch_sub(1);
    response.SetHeader("Retry-After", "10");
    return SendError(response, 503, "clips are being made; try again shortly");
  }
  std::shared_ptr<std::atomic<int>> making = making_;
  std::shared_ptr<void> slot = slots_.Take(holder, false, response);
  if (!slot) {
    making->fetch_sub(1);
    return;
  }
  response.status = 200;
  response.SetStream(std::make_shared<ClipStream>(
                         std::move(sources), span.from, span.to, std::move(slot),
                         [making, name, say = say_](bool ok, const ClipSummary& summary, const std::string& error) {
                           making->fetch_sub(1);
                           if (!ok && !summary.abandoned && say)
                             say("Web page: the clip " + name + " was cut short: " + error);
                         }),
                     "video/mp4");
}

}  // namespace zent
