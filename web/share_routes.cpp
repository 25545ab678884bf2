#include "web/share_routes.h"

#include <nlohmann/json.hpp>

#include "notify/notices.h"
#include "web/http_answers.h"
#include "web/web_requests.h"

namespace zent {
namespace {

using Clock = std::chrono::steady_clock;

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

std::int64_t Ms(WallClock::time_point at) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count();
}
WallClock::time_point FromMs(std::int64_t ms) {
  return WallClock::time_point(std::chrono::duration_cast<WallClock::duration>(std::chrono::milliseconds(ms)));
}
std::string Iso(std::int64_t seconds) {
  return IsoTime(WallClock::from_time_t(static_cast<std::time_t>(seconds)), false);
}

void NoSuchShare(HttpResponse& response) { SendError(response, 404, "no such share, or it expired"); }

}  // namespace

void ShareRoutes::Register(HttpServer& server) {
  server.Route(
      "POST", "/api/recordings/" + kRecordingIdPattern + "/share",
      [this](const HttpRequest& q, HttpResponse& r) {
        const auto admin = AdminWithHours(q, r);
        if (!admin) return;
        const auto recording = recordings_.Find(q.matches[1]);
        if (!recording) return SendError(r, 404, "no such recording");
        Share share;
        share.recording = recording->id;
        share.by = admin->first.user;
        Made(share, admin->second, recording->file.path, r);
      },
      RouteWork::Pool, 256);
  server.Route(
      "POST", "/api/cameras/" + kCameraIdPattern + "/clip/share",
      [this](const HttpRequest& q, HttpResponse& r) {
        const auto admin = AdminWithHours(q, r);
        if (!admin) return;
        const auto span = clips_.SpanOf(q, q.matches[1], r);
        if (!span) return;
        Share share;
        share.camera = span->camera;
        share.fromMs = Ms(span->from);
        share.toMs = Ms(span->to);
        share.by = admin->first.user;
        Made(share, admin->second, "the clip " + ClipFileName(*span), r);
      },
      RouteWork::Pool, 256);
  server.Route("GET", "/api/shares", [this](const HttpRequest& q, HttpResponse& r) { List(q, r); });
  server.Route("DELETE", "/api/shares/([0-9a-f]{16})",
               [this](const HttpRequest& q, HttpResponse& r) { Revoke(q, q.matches[1], r); });
  server.Route("GET", "/s/([A-Za-z0-9_]{16,100})",
               [this](const HttpRequest& q, HttpResponse& r) { Open(q, q.matches[1], r); });
}

std::optional<WebSession> ShareRoutes::Admin(const HttpRequest& request, const std::string& what,
                                             HttpResponse& response) {
  auto caller = caller_(request);
  if (!caller) SendError(response, 401, "log in first");
  else if (caller->role != Role::Admin) SendError(response, 403, "only an admin may " + what);
  else return caller;
  return std::nullopt;
}

std::optional<std::pair<WebSession, int>> ShareRoutes::AdminWithHours(const HttpRequest& request,
                                                                      HttpResponse& response) {
  const auto caller = Admin(request, "share", response);
  if (!caller) return std::nullopt;
  const auto body = nlohmann::json::parse(request.body, nullptr, false);
  if (!body.is_object() || !body.contains("hours") || !body["hours"].is_number_integer() ||
      body["hours"].get<std::int64_t>() < 1 || body["hours"].get<std::int64_t>() > ShareStore::kMaxHours) {
    SendError(response, 400, "send {\"hours\": N} with N from 1 to 168");
    return std::nullopt;
  }
  return std::make_pair(*caller, body["hours"].get<int>());
}

void ShareRoutes::Made(Share share, int hours, const std::string& what, HttpResponse& response) {
  std::string error;
  const std::string token = store_.Add(share, hours, Now(), error);
  if (token.empty()) return SendError(response, 409, error);
  say_("Web page: " + share.by + " shared " + what + " for " + std::to_string(hours) +
       (hours == 1 ? " hour" : " hours") + " (share " + share.id + ")");
  SendJson(response, {{"id", share.id}, {"url", "/s/" + token}, {"expires", Iso(share.expires)}}, 201);
}

void ShareRoutes::List(const HttpRequest& request, HttpResponse& response) {
  if (!Admin(request, "see the shares", response)) return;
  nlohmann::json list = nlohmann::json::array();
  for (const Share& s : store_.List(Now())) {
    nlohmann::json item{{"id", s.id}, {"expires", Iso(s.expires)}, {"made", Iso(s.made)}, {"by", s.by}};
    if (!s.recording.empty()) item["recording"] = s.recording;
    else {
      item["camera"] = s.camera;
      item["from"] = IsoTime(FromMs(s.fromMs), false);
      item["to"] = IsoTime(FromMs(s.toMs), false);
    }
    list.push_back(item);
  }
  SendJson(response, {{"shares", list}});
}

void ShareRoutes::Revoke(const HttpRequest& request, const std::string& id, HttpResponse& response) {
  const auto caller = Admin(request, "revoke a share", response);
  if (!caller) return;
  std::string error;
  switch (store_.Revoke(id, error)) {
    case ShareStore::Revoked::NoSuchShare: return SendError(response, 404, "no such share");
    case ShareStore::Revoked::NotSaved: return SendError(response, 500, "not revoked: " + error);
    case ShareStore::Revoked::Yes: break;
  }
  say_("Web page: " + caller->user + " revoked share " + id);
  SendJson(response, {{"revoked", id}});
}

void ShareRoutes::Open(const HttpRequest& request, const std::string& token, HttpResponse& response) {
  // Only wrong tokens count: a player's many range requests for a good link must not lock it out.
  const std::string who = "share " + request.remoteAddress;
  if (const auto wait = limiter_.Waiting(who, "", Clock::now()); wait.count() > 0) {
    response.SetHeader("Retry-After", std::to_string(wait.count()));
    return SendError(response, 429, "too many wrong links; try again in " + std::to_string(wait.count()) + " s");
  }
  const std::optional<Share> share = store_.Open(token, Now());
  if (!share) {
    limiter_.Attempt(who, "", Clock::now());
    return NoSuchShare(response);
  }
  response.SetHeader("X-Robots-Tag", "noindex");
  if (!share->recording.empty()) {
    const auto recording = recordings_.Find(share->recording);
    if (!recording) return NoSuchShare(response);
    return player_.Play(*recording, response);
  }
  clips_.Send({share->camera, FromMs(share->fromMs), FromMs(share->toMs)}, "share " + share->id,
              request.method == "HEAD", response);
}

}  // namespace zent
