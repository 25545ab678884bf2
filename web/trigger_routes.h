#pragma once
// Recordings started from outside: POST /api/cameras/ID/trigger by an admin of the page or a
// machine holding a trigger token (Home Assistant, a door contact's script). The event goes to the
// camera's cycle as any event does; the answer says whether there was a recorder to take it.

#include <functional>
#include <optional>
#include <string>

#include "link/session_host.h"
#include "web/camera_board.h"
#include "web/http_server.h"
#include "web/sessions.h"

namespace zent {

// Hands an event to the camera at `address`; from the server's threads.
using TriggerSink = std::function<void(const std::string& address, const EventOrigin& origin)>;
// Who is asking: a session's user, or a trigger token's name; nothing when neither may trigger.
using TriggerCaller = std::function<std::optional<std::string>(const HttpRequest&)>;

inline constexpr std::size_t kMaxTriggerReason = 200;

class TriggerRoutes {
 public:
  TriggerRoutes(CameraBoard& board, TriggerSink sink, TriggerCaller caller)
      : board_(board), sink_(std::move(sink)), caller_(std::move(caller)) {}
  void Register(HttpServer& server);

 private:
  void Trigger(const HttpRequest& request, const std::string& camera, HttpResponse& response);

  CameraBoard& board_;
  const TriggerSink sink_;
  const TriggerCaller caller_;
};

}  // namespace zent
