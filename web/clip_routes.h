#pragma once
// A span of a camera's recordings as one MP4 to download (GET /api/cameras/ID/clip?from=&to=), at
// most 30 minutes, made while it is sent; a few at once, the rest told to come back.

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "record/clip.h"
#include "web/camera_recordings.h"
#include "web/http_server.h"
#include "web/stream_slots.h"

namespace zent {

struct ClipSpan {
  std::string camera;  // its id
  WallClock::time_point from, to;
};

class ClipRoutes {
 public:
  static constexpr auto kMaxSpan = std::chrono::minutes(30);
  static constexpr int kMaxAtOnce = 4;
  using Say = std::function<void(const std::string&)>;

  ClipRoutes(CameraRecordings& recordings, StreamSlots& slots, Say say)
      : recordings_(recordings), slots_(slots), say_(std::move(say)) {}
  void Register(HttpServer& server);

  // The span a request's from= and to= give for the camera; nothing with the refusal sent.
  std::optional<ClipSpan> SpanOf(const HttpRequest& request, const std::string& camera, HttpResponse& response);
  // Streams the clip as an attachment; `holder` is whose slot it takes (a session, or a share).
  // `head`: only whether there is one, as a HEAD asks.
  void Send(const ClipSpan& span, const std::string& holder, bool head, HttpResponse& response);

 private:
  // The recordings that may hold frames of the span, oldest first.
  std::vector<ClipSource> SourcesOf(const ClipSpan& span);

  CameraRecordings& recordings_;
  StreamSlots& slots_;
  const Say say_;
  std::shared_ptr<std::atomic<int>> making_ = std::make_shared<std::atomic<int>>(0);
};

// "192_168_1_7_20261209_101500-20261209_102000.mp4": the camera and the span in local time.
std::string ClipFileName(const ClipSpan& span);

}  // namespace zent
