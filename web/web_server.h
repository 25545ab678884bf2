#pragma once
// The web page of zent-recorder: its recordings for any browser, with a log-in, without
// transcoding. Its HTTP server never gives a thread to a slow client, and a stranger costs a
// recording nothing: see web/http_server.h.

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
#include "web/http_server.h"
#include "web/camera_recordings.h"
#include "web/sessions.h"
#include "web/thumbnail_cache.h"

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
  HttpLimits limits;
};

// A request a proxy passed on (Forwarded, X-Forwarded-For, Via): its address is not the client's.
bool ThroughProxy(const HttpRequest& request);

// "ADDRESS:PORT", ":PORT" or "PORT"; false when it is none of them.
bool ParseWebAddress(const std::string& text, std::string& host, int& port);

class WebServer {
 public:
  using Say = std::function<void(const std::string&)>;  // a status line, from the server's threads
  WebServer(WebSettings settings, CameraRecordings& catalog, CameraBoard& board, CameraFeeds& feeds, Say say);
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
  std::optional<WebSession> CallerOf(const HttpRequest& request);
  void Routes();
  void Login(const HttpRequest& request, HttpResponse& response);
  bool LogInRefused(const HttpRequest& request, HttpResponse& response);
  void Cameras(HttpResponse& response);
  void RecordingList(const HttpRequest& request, HttpResponse& response);
  void Week(const HttpRequest& request, HttpResponse& response);
  void OneRecording(const HttpRequest& request, HttpResponse& response);
  void DeleteRecording(const HttpRequest& request, HttpResponse& response);
  void Download(const HttpRequest& request, HttpResponse& response);
  void Frames(const HttpRequest& request, HttpResponse& response);
  void Frame(const HttpRequest& request, HttpResponse& response);
  void News(const HttpRequest& request, HttpResponse& response);
  void ThumbnailOf(const HttpRequest& request, HttpResponse& response);
  void VideoOf(const HttpRequest& request, HttpResponse& response);
  void Live(const HttpRequest& request, HttpResponse& response);
  void Snapshot(const HttpRequest& request, HttpResponse& response);
  void Metrics(HttpResponse& response);
  // The guard every request passes first: a session, or the page's public files.
  bool Refused(const HttpRequest& request, HttpResponse& response);
  void Logout(const HttpRequest& request, HttpResponse& response);
  void SessionOf(const HttpRequest& request, HttpResponse& response);
  // Holds one of the streamed answers a session and the server allow; null when none is left.
  std::shared_ptr<void> StreamSlot(const HttpRequest& request, HttpResponse& response, bool live);
  void Health(HttpResponse& response);
  // Whether a request without a session may read /metrics and /healthz.
  bool MachineMayRead(const HttpRequest& request);
  std::shared_ptr<CameraFeed> FeedOf(const std::string& cameraId);
  // The MP4 of an H.264 recording, made on the first request and kept in the cache folder.
  std::string Mp4Of(const CatalogRecording& recording, std::string& error);
  std::shared_ptr<const FrameIndex> IndexOf(const CatalogRecording& recording, std::string& error);
  // The Motion JPEG recording a request names, with its index; nothing when the answer was sent.
  std::optional<std::pair<CatalogRecording, std::shared_ptr<const FrameIndex>>> MjpegOf(
      const HttpRequest& request, HttpResponse& response);
  std::string RecordingJson(const CatalogRecording& recording);

  const WebSettings settings_;
  CameraRecordings& catalog_;
  CameraBoard& board_;
  CameraFeeds& feeds_;
  const Say say_;
  std::atomic<int> liveViewers_{0};
  std::mutex streamsMutex_;
  int streams_ = 0;
  std::map<std::string, int> streamsOf_;  // by session
  AccountsFile accounts_;
  Sessions sessions_;
  LoginLimiter limiter_;
  ThumbnailCache thumbnails_;
  std::mutex indexesMutex_;
  std::map<std::string, std::shared_ptr<const FrameIndex>> indexes_;  // of MJPEG recordings; bounded
  std::mutex remuxMutex_;                          // one MP4 made at a time
  std::unique_ptr<HttpServer> server_;
  std::atomic<bool> stopping_{false};
  int port_ = 0;
};

}  // namespace zent
