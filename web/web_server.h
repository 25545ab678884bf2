#pragma once
// The web page of zent-recorder: its recordings for any browser, with a log-in, without
// transcoding. The server keeps what every request passes through — start and stop, the guard
// (a session, or a token for the machines' routes), the security headers, the page's own files —
// and the routes live with what they need: accounts, recordings, live, health. Its HTTP server
// never gives a thread to a slow client, and a stranger costs a recording nothing (web/http_server.h).

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "record/camera_feed.h"
#include "web/account_routes.h"
#include "web/camera_board.h"
#include "web/camera_recordings.h"
#include "web/clip_routes.h"
#include "web/health_routes.h"
#include "web/http_server.h"
#include "web/live_routes.h"
#include "web/recording_routes.h"
#include "web/share_routes.h"
#include "web/tokens.h"
#include "web/trigger_routes.h"
#include "web/stream_slots.h"

namespace zent {

struct WebSettings {
  std::string host = "127.0.0.1";
  int port = 8090;                // 0: any free port
  std::string certFile, keyFile;  // TLS when both are set
  std::string accountsPath;
  std::string tokensPath;            // bearer tokens that may read /metrics and /healthz
  bool healthFromLocalhost = false;  // /metrics and /healthz answer any request from this machine
  std::string cacheFolder;           // the MP4s made of H.264 recordings; empty: none are made
  std::string thumbnailFolder;       // the recordings' pictures; empty: kept in memory only
  std::string sharesPath;            // the share links made; empty: kept in memory only
  std::int64_t cacheBytes = std::int64_t{2} << 30;
  HttpLimits limits;
};

// "ADDRESS:PORT", ":PORT" or "PORT"; false when it is none of them.
bool ParseWebAddress(const std::string& text, std::string& host, int& port);

class WebServer {
 public:
  using Say = std::function<void(const std::string&)>;  // a status line, from the server's threads
  // `trigger`, when given, takes the recordings started from outside.
  WebServer(WebSettings settings, CameraRecordings& recordings, CameraBoard& board, CameraFeeds& feeds, const Say& say,
            TriggerSink trigger = nullptr);
  ~WebServer();  // Stop
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Binds and starts serving; false with the reason.
  bool Start(std::string& error);
  void Stop();
  int Port() const { return port_; }
  std::string Url() const;
  // Why the share links made before could not be read; empty when they could.
  const std::string& SharesProblem() const { return shares_.LoadError(); }

 private:
  // The guard every request passes first: the page's public files, a session, or for the
  // machines' routes a token; true when it answered.
  bool Refused(const HttpRequest& request, HttpResponse& response);
  // Whether a request without a session may read /metrics and /healthz.
  bool MachineMayRead(const HttpRequest& request);
  // Whose token a request's "Authorization: Bearer" carries, if it is one of ours.
  std::optional<TokenHolder> BearerOf(const HttpRequest& request) const;
  // The trigger token's holder a request carries, if any.
  std::optional<std::string> TriggerTokenOf(const HttpRequest& request) const;

  const WebSettings settings_;
  StreamSlots slots_;
  AccountRoutes accounts_;
  RecordingRoutes recordings_;
  ClipRoutes clips_;
  ShareRoutes shares_;
  LiveRoutes live_;
  HealthRoutes health_;
  std::optional<TriggerRoutes> triggers_;
  std::unique_ptr<HttpServer> server_;
  int port_ = 0;
};

}  // namespace zent
