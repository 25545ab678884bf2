#pragma once
// The web page's routes for what happens now: the cameras and their state, each camera's live
// video and newest picture, and the news the page follows (recordings started and saved, events,
// a camera going offline). Streamed answers hold a slot, never a thread.

#include <memory>
#include <string>

#include "record/camera_feed.h"
#include "web/camera_board.h"
#include "web/http_server.h"
#include "web/stream_slots.h"

namespace zent {

class LiveRoutes {
 public:
  LiveRoutes(CameraBoard& board, CameraFeeds& feeds, StreamSlots& slots)
      : board_(board), feeds_(feeds), slots_(slots) {}
  void Register(HttpServer& server);

 private:
  void Cameras(HttpResponse& response);
  void Live(const std::string& session, const std::string& camera, HttpResponse& response);
  void Snapshot(const std::string& camera, HttpResponse& response);
  // `last`: the news the page already has (a reconnecting EventSource's Last-Event-ID, or the
  // news its first load reflects); empty: from now.
  void News(const std::string& session, const std::string& last, HttpResponse& response);
  std::shared_ptr<CameraFeed> FeedOf(const std::string& cameraId);

  CameraBoard& board_;
  CameraFeeds& feeds_;
  StreamSlots& slots_;
};

}  // namespace zent
