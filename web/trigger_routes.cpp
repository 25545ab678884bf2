#include "web/trigger_routes.h"

#include <nlohmann/json.hpp>

#include "web/http_answers.h"

namespace zent {

void TriggerRoutes::Register(HttpServer& server) {
  server.Route(
      "POST", "/api/cameras/([A-Za-z0-9_.-]{1,100})/trigger",
      [this](const HttpRequest& q, HttpResponse& r) { Trigger(q, q.matches[1], r); }, RouteWork::Pool, 512);
}

void TriggerRoutes::Trigger(const HttpRequest& request, const std::string& camera, HttpResponse& response) {
  const std::optional<std::string> who = caller_(request);
  if (!who) return SendError(response, 403, "only an admin or a trigger token may start a recording");
  std::string reason;
  if (!request.body.empty()) {
    const auto body = nlohmann::json::parse(request.body, nullptr, false);
    if (!body.is_object() || (body.contains("reason") && !body["reason"].is_string()))
      return SendError(response, 400, "the body is {\"reason\": \"...\"} or nothing");
    if (body.contains("reason")) reason = body["reason"].get<std::string>();
    if (reason.size() > kMaxTriggerReason) return SendError(response, 400, "a reason has at most 200 bytes");
    for (char& c : reason)
      if (static_cast<unsigned char>(c) < 0x20) c = ' ';  // one status line, whatever was sent
  }
  std::optional<CameraState> state;
  for (const CameraState& s : board_.Cameras())
    if (s.id == camera) state = s;
  if (!state) return SendError(response, 404, "no such camera");
  if (!state->recorderReady) return SendError(response, 409, "the camera is not ready to record");
  sink_(state->address, EventOrigin{"external", "", "", reason, *who});
  response.status = 202;
  response.SetContent(nlohmann::json{{"camera", camera}, {"accepted", true}}.dump(), "application/json");
}

}  // namespace zent
