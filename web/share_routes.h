#pragma once
// Share links: an admin makes one for a recording (POST /api/recordings/ID/share) or a clip's span
// (POST /api/cameras/ID/clip/share?from=&to=), lists (GET /api/shares) and revokes them
// (DELETE /api/shares/ID); /s/TOKEN opens that recording or clip, and nothing else, without a
// log-in until it expires. Wrong tokens are limited per address like the log-in's passwords.

#include <functional>
#include <optional>
#include <string>

#include "web/camera_recordings.h"
#include "web/clip_routes.h"
#include "web/http_server.h"
#include "web/recording_routes.h"
#include "web/sessions.h"
#include "web/shares.h"

namespace zent {

class ShareRoutes {
 public:
  using Caller = std::function<std::optional<WebSession>(const HttpRequest&)>;
  using Say = std::function<void(const std::string&)>;
  ShareRoutes(const std::string& path, CameraRecordings& recordings, RecordingRoutes& player, ClipRoutes& clips,
              Caller caller, Say say)
      : store_(path),
        recordings_(recordings),
        player_(player),
        clips_(clips),
        caller_(std::move(caller)),
        say_(std::move(say)) {}

  void Register(HttpServer& server);
  // Why the shares kept from before could not be read; empty when they could.
  const std::string& LoadError() const { return store_.LoadError(); }

 private:
  // The admin asking; nothing with the refusal sent (`what` they may do).
  std::optional<WebSession> Admin(const HttpRequest& request, const std::string& what, HttpResponse& response);
  // The admin asking, with the hours the body asks for; nothing with the refusal sent.
  std::optional<std::pair<WebSession, int>> AdminWithHours(const HttpRequest& request, HttpResponse& response);
  void Made(Share share, int hours, const std::string& what, HttpResponse& response);
  void List(const HttpRequest& request, HttpResponse& response);
  void Revoke(const HttpRequest& request, const std::string& id, HttpResponse& response);
  void Open(const HttpRequest& request, const std::string& token, HttpResponse& response);

  ShareStore store_;
  CameraRecordings& recordings_;
  RecordingRoutes& player_;
  ClipRoutes& clips_;
  const Caller caller_;
  const Say say_;
  LoginLimiter limiter_;
};

}  // namespace zent
