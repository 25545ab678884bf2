#pragma once
// The web page's recordings: each camera's list by day and page, the week's events by hour, one
// recording's details, its file, its frames (Motion JPEG), its MP4 (H.264) and its picture; an
// admin may delete one that is not being made.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "web/camera_board.h"
#include "web/camera_recordings.h"
#include "web/http_server.h"
#include "web/recording_caches.h"
#include "web/sessions.h"
#include "web/thumbnail_cache.h"

namespace zent {

struct RecordingRoutesSettings {
  std::string mp4Folder;  // empty: no MP4s are made
  std::int64_t mp4Bytes = 0;
  std::string thumbnailFolder;  // empty: kept in memory only
};

class RecordingRoutes {
 public:
  using Caller = std::function<std::optional<WebSession>(const HttpRequest&)>;
  using Say = std::function<void(const std::string&)>;
  RecordingRoutes(const RecordingRoutesSettings& settings, CameraRecordings& recordings, CameraBoard& board,
                  Caller caller, Say say)
      : recordings_(recordings),
        board_(board),
        caller_(std::move(caller)),
        say_(std::move(say)),
        thumbnails_(settings.thumbnailFolder),
        mp4s_(settings.mp4Folder, settings.mp4Bytes) {}

  void Register(HttpServer& server);
  // The recording as a browser or phone plays it: an MP4 as it is, an H.264 AVI as the MP4 made
  // of it, anything else as the file to download.
  void Play(const CatalogRecording& recording, HttpResponse& response);

 private:
  void List(const std::string& camera, const std::string& day, const std::string& page, HttpResponse& response);
  void Week(const std::string& camera, HttpResponse& response);
  void One(const std::string& id, HttpResponse& response);
  void Delete(const WebSession& caller, const std::string& id, HttpResponse& response);
  void Download(const std::string& id, HttpResponse& response);
  // POST marks a recording kept, DELETE releases it: admins only.
  void Keep(const WebSession& caller, const std::string& id, bool keep, HttpResponse& response);
  void Frames(const std::string& id, HttpResponse& response);
  void Frame(const std::string& id, std::size_t number, HttpResponse& response);
  void Thumbnail(const std::string& id, HttpResponse& response);
  void Video(const std::string& id, HttpResponse& response);
  std::string Json(const CatalogRecording& recording);
  // The Motion JPEG recording an id names, with its index; nothing when the refusal was sent.
  std::optional<std::pair<CatalogRecording, std::shared_ptr<const FrameIndex>>> Mjpeg(const std::string& id,
                                                                                      HttpResponse& response);

  CameraRecordings& recordings_;
  CameraBoard& board_;
  const Caller caller_;
  const Say say_;
  ThumbnailCache thumbnails_;
  Mp4Cache mp4s_;
  FrameIndexes indexes_;
};

}  // namespace zent
