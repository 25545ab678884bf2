#pragma once
// One event channel session on a thread of its own: connect to the camera's private event port,
// authenticate, then wait for events and exchange a keep-alive after every wait.
//
// A stop shuts the socket down so that a blocked receive returns.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "config/camera_address.h"
#include "link/event_source.h"
#include "link/session_host.h"

namespace zent {

// Looks a host name up; the first IPv4 address in network byte order, or nothing.
using NameResolver = std::function<std::optional<std::uint32_t>(const std::string& name)>;
std::optional<std::uint32_t> ResolveHostName(const std::string& name);

struct SessionSettings {
  std::string cameraAddress;
  std::int32_t privatePort = 0;
  std::string userId;
  std::string password;
  std::chrono::milliseconds ioTimeout{30000};             // every send and receive
  std::chrono::milliseconds connectAttemptTimeout{5000};  // one of the ten attempts
  NameResolver resolveName = ResolveHostName;
};

inline constexpr int kConnectAttempts = 10;
inline constexpr std::chrono::milliseconds kConnectRetryPause{200};
inline constexpr std::chrono::milliseconds kEndPause{200};
inline constexpr std::chrono::milliseconds kLoopPause{1};

class EventSession : public EventSource {
 public:
  // Starts the session's thread; null when no thread could be started.
  static std::shared_ptr<EventSession> Start(SessionSettings settings, std::shared_ptr<SessionHost> host);
  ~EventSession() override;

  // For the session's own steps: the socket, credentials, and host calls that are dropped once a
  // stop was requested.
  int Socket();
  const SessionSettings& Settings() const { return settings_; }
  void Status(const std::string& text);
  void LoginAccepted();

 private:
  // An ending, and whether the session lingers a moment after telling it.
  struct Outcome {
    SessionEnding ending;
    bool pause = false;
  };

  EventSession(SessionSettings settings, std::shared_ptr<SessionHost> host);
  void Body() override { ThreadTcpReceiveImage(); }
  void OnStop() override;
  int ThreadTcpReceiveImage();
  Outcome Run();
  SessionEnding RunEventLoop();
  void Event();
  SessionEnding CameraClosed();
  bool Connect(std::uint32_t address);
  void CloseChannel();

  const SessionSettings settings_;
  const std::shared_ptr<SessionHost> host_;
  int socket_ = -1;  // guarded by mutex_, so a stop never shuts down a reused descriptor
};

// Sends the 48-byte packet and reads the camera's answer; nothing when the camera accepted the
// user, else how the session ends: Final when the camera said no or the settings cannot work,
// Dropped when the packet could not be sent or the answer did not come, which a camera that is
// away or restarting may mend.
std::optional<SessionEnding> AuthenticateUser(EventSession& session);

}  // namespace zent
