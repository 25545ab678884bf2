#pragma once
// The web page of zent-recorder: its recordings for any browser, with a log-in, without
// transcoding. An HTTP server (cpp-httplib) on threads of its own; a slow or hostile client
// holds up one of them, never a recording.

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <string>
#include <thread>

#include "record/recording_reader.h"
#include "web/accounts.h"
#include "record/camera_feed.h"
#include "web/camera_board.h"
#include "web/recording_catalog.h"
#include "web/sessions.h"
#include "web/thumbnail_cache.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace zent {

struct WebSettings {
  std::string host = "127.0.0.1";
  int port = 8090;  // 0: any free port
  std::string certFile, keyFile;  // TLS when both are set
  std::string accountsPath;
  std::string tokensPath;             // bearer tokens that may read /metrics and /healthz
  bool healthFromLocalhost = false;   // /metrics and /healthz answer any request from this machine
  std::string cacheFolder;  // the MP4s made of H.264 recordings; empty: none are made
  std::string thumbnailFolder;  // the recordings' pictures; empty: kept in memory only
  std::int64_t cacheBytes = std::int64_t{2} << 30;
};

// "ADDRESS:PORT", ":PORT" or "PORT"; false when it is none of them.
bool ParseWebAddress(const std::string& text, std::string& host, int& port);

class WebServer {
 public:
  using Say = std::function<void(const std::string&)>;  // a status line, from the server's threads
  WebServer(WebSettings settings, RecordingCatalog& catalog, CameraBoard& board, CameraFeeds& feeds, Say say);
  ~WebServer();  // Stop
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Binds and starts serving; false with the reason.
  bool Start(std::string& error);
  void Stop();
  int Port() const { return port_; }
  std::string Url() const;

 private:
  // The session of the browser that asked, if it has one.
  std::optional<WebSession> CallerOf(const httplib::Request& request);
  void Routes();
  void Login(const httplib::Request& request, httplib::Response& response);
  void Cameras(httplib::Response& response);
  void RecordingList(const httplib::Request& request, httplib::Response& response);
  void Week(const httplib::Request& request, httplib::Response& response);
  void OneRecording(const httplib::Request& request, httplib::Response& response);
  void DeleteRecording(const httplib::Request& request, httplib::Response& response);
  void Download(const httplib::Request& request, httplib::Response& response);
  void Frames(const httplib::Request& request, httplib::Response& response);
  void Frame(const httplib::Request& request, httplib::Response& response);
  void News(const httplib::Request& request, httplib::Response& response);
  void ThumbnailOf(const httplib::Request& request, httplib::Response& response);
  void VideoOf(const httplib::Request& request, httplib::Response& response);
  void Live(const httplib::Request& request, httplib::Response& response);
  void Snapshot(const httplib::Request& request, httplib::Response& response);
  void Metrics(httplib::Response& response);
  void Health(httplib::Response& response);
  // Whether a request without a session may read /metrics and /healthz.
  bool MachineMayRead(const httplib::Request& request);
  std::shared_ptr<CameraFeed> FeedOf(const std::string& cameraId);
  // The MP4 of an H.264 recording, made on the first request and kept in the cache folder.
  std::string Mp4Of(const CatalogRecording& recording, std::string& error);
  std::shared_ptr<const FrameIndex> IndexOf(const CatalogRecording& recording, std::string& error);
  // The Motion JPEG recording a request names, with its index; nothing when the answer was sent.
  std::optional<std::pair<CatalogRecording, std::shared_ptr<const FrameIndex>>> MjpegOf(
      const httplib::Request& request, httplib::Response& response);
  std::string RecordingJson(const CatalogRecording& recording);

  const WebSettings settings_;
  RecordingCatalog& catalog_;
  CameraBoard& board_;
  CameraFeeds& feeds_;
  const Say say_;
  std::atomic<int> liveViewers_{0};
  Sessions sessions_;
  LoginLimiter limiter_;
  ThumbnailCache thumbnails_;
  std::mutex indexesMutex_;
  std::map<std::string, std::shared_ptr<const FrameIndex>> indexes_;  // of MJPEG recordings; bounded
  std::mutex remuxMutex_;                          // one MP4 made at a time
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  int port_ = 0;
};

}  // namespace zent
