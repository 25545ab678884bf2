#pragma once
// The recorder's health for monitoring systems: /metrics in Prometheus' text format and /healthz.
// Who may read them is the server's guard's to say.

#include "record/camera_feed.h"
#include "web/camera_board.h"
#include "web/camera_recordings.h"
#include "web/http_server.h"
#include "web/stream_slots.h"

namespace zent {

class HealthRoutes {
 public:
  HealthRoutes(CameraBoard& board, CameraFeeds& feeds, CameraRecordings& recordings, StreamSlots& slots)
      : board_(board), feeds_(feeds), recordings_(recordings), slots_(slots) {}
  void Register(HttpServer& server);

 private:
  void Metrics(HttpResponse& response);
  void Health(HttpResponse& response);

  CameraBoard& board_;
  CameraFeeds& feeds_;
  CameraRecordings& recordings_;
  StreamSlots& slots_;
};

}  // namespace zent
