#include "link/event_session.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <thread>

#include "link/protocol.h"
#include "link/socket_io.h"

namespace zent {

namespace {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

timeval ToTimeval(std::chrono::milliseconds ms) {
  return {static_cast<time_t>(ms.count() / 1000), static_cast<suseconds_t>((ms.count() % 1000) * 1000)};
}

SessionEnding Ending(SessionEnd end, std::string message = {}, std::vector<std::string> lines = {}) {
  return {end, std::move(message), std::move(lines)};
}

}  // namespace

std::optional<std::uint32_t> ResolveHostName(const std::string& name) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  if (::getaddrinfo(name.c_str(), nullptr, &hints, &result) != 0 || !result) return std::nullopt;
  const std::uint32_t address = reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr.s_addr;
  ::freeaddrinfo(result);
  return address;
}

std::shared_ptr<EventSession> EventSession::Start(SessionSettings settings, std::shared_ptr<SessionHost> host) {
  std::shared_ptr<EventSession> session(new EventSession(std::move(settings), std::move(host)));
  return StartThread(session) ? session : nullptr;
}

EventSession::EventSession(SessionSettings settings, std::shared_ptr<SessionHost> host)
    : settings_(std::move(settings)), host_(std::move(host)) {}

EventSession::~EventSession() {
  if (socket_ >= 0) ::close(socket_);
}

void EventSession::OnStop() {
  if (socket_ >= 0) ::shutdown(socket_, SHUT_RDWR);
}

int EventSession::Socket() {
  std::lock_guard lock(mutex_);
  return socket_;
}

void EventSession::Status(const std::string& text) {
  if (!Stopping()) host_->AddStatusLine(text);
}

void EventSession::LoginAccepted() {
  if (!Stopping()) host_->LoginAccepted();
}

void EventSession::CloseChannel() {
  std::lock_guard lock(mutex_);
  if (socket_ >= 0) ::close(socket_);
  socket_ = -1;
}

bool EventSession::Connect(std::uint32_t address) {
  sockaddr_in destination{};
  destination.sin_family = AF_INET;
  destination.sin_port = htons(static_cast<std::uint16_t>(settings_.privatePort & 0xFFFF));
  destination.sin_addr.s_addr = address;

  const int fd = Socket();
  const int flags = ::fcntl(fd, F_GETFL);
  ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  bool connected = false;
  for (int attempt = 0; attempt < kConnectAttempts && !connected && !Stopping(); ++attempt) {
    if (::connect(fd, reinterpret_cast<sockaddr*>(&destination), sizeof destination) == 0) {
      connected = true;
      break;
    }
    if (errno == EINPROGRESS || errno == EALREADY) {
      // Wait in short slices so that a stop is noticed while the camera does not answer.
      const auto deadline = std::chrono::steady_clock::now() + settings_.connectAttemptTimeout;
      while (!Stopping() && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, 50) > 0) {
          int error = 0;
          socklen_t length = sizeof error;
          ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
          connected = error == 0;
          break;
        }
      }
    }
    if (!connected && !Pause(kConnectRetryPause)) break;
  }
  ::fcntl(fd, F_SETFL, flags);
  return connected;
}

int EventSession::ThreadTcpReceiveImage() {
  const Outcome outcome = Run();
  if (!Stopping()) host_->SessionEnded(outcome.ending);
  if (outcome.pause) Pause(kEndPause);
  return 0;
}

EventSession::Outcome EventSession::Run() {
  const std::string& address = settings_.cameraAddress;
  if (address.size() > kMaxCameraAddressBytes || address.empty()) {
    return {Ending(SessionEnd::Final, "Camera IP is too long or Null")};
  }
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    // Out of descriptors, most likely: passing, so worth another try later.
    return {Ending(SessionEnd::Dropped, Format("tcp socket create error: error code is %d", errno))};
  }
  {
    std::lock_guard lock(mutex_);
    socket_ = fd;
    if (Stopping()) ::shutdown(fd, SHUT_RDWR);
  }

  // An address that is neither a host name nor a whole dotted address can never work; a name
  // that does not resolve now may well resolve after a blip of the name service.
  std::optional<std::uint32_t> destination;
  bool lookupFailed = false;
  if (IsAsciiLetter(address[0])) {
    if (IsHostName(address)) {
      destination = settings_.resolveName(address);
      lookupFailed = !destination;
    }
  } else if (IsDottedIPv4(address)) {
    const in_addr_t parsed = ::inet_addr(address.c_str());
    if (parsed != INADDR_NONE) destination = parsed;
  }
  if (!destination) {
    CloseChannel();
    return {Ending(lookupFailed ? SessionEnd::Dropped : SessionEnd::Final,
                   Format("unknown server name = %s", address.c_str()))};
  }

  const timeval timeout = ToTimeval(settings_.ioTimeout);
  if (::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0 ||
      ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout) != 0) {
    const int error = errno;
    CloseChannel();
    return {{SessionEnd::Final, Format("Error code = %d", error), {}, false}};
  }

  // A camera that refuses every attempt still gets the authentication step, which then fails
  // on the unconnected socket with "SOCKET Error.".
  Connect(*destination);

  Status("Checking user authentication...");
  if (std::optional<SessionEnding> refused = AuthenticateUser(*this)) {
    // A camera that cannot be reached may come back; one that refuses the user will not change
    // its mind, and asking again and again can lock the account.
    refused->lines.emplace_back("User authentication failed.");
    CloseChannel();
    return {std::move(*refused), true};
  }
  Status("User authentication success.");
  Status("Successfully connected.");
  return {RunEventLoop(), true};
}

SessionEnding EventSession::RunEventLoop() {
  const int fd = Socket();
  const auto drop = [this](std::string lastLine) {
    CloseChannel();
    return Ending(SessionEnd::Dropped, "Disconnected Network.", {std::move(lastLine)});
  };
  Unit unit;
  while (!Stopping()) {
    Status("Waiting Event Message...");
    const int received = ReceiveAll(fd, unit.data(), kUnitLength);
    Status("Receive Message.");
    if (received >= 0 && received < kUnitLength) return CameraClosed();
    if (received == kUnitLength && ReadUnit(unit) == MSG_EVENT) Event();

    const Unit keepAlive = FormatUnit(MSG_KEEP_ALIVE);
    const int sent = SendBytes(fd, keepAlive.data(), kUnitLength);
    if (sent == kUnitLength) Status("OK keep ZENT connection.");
    else if (sent == -1) return drop(">>> Disconnected Network.");

    const int answered = ReceiveAll(fd, unit.data(), kUnitLength);
    if (answered == -1) {
      Status("read error2");
      return drop("Disconnected Network.");
    }
    if (answered < kUnitLength) return CameraClosed();
    const int answer = ReadUnit(unit);
    // A camera may announce an event just as it is asked for the keep-alive answer.
    if (answer == MSG_EVENT) Event();
    if (answer == MSG_KEEP_ALIVE_BROKEN || answer == MSG_INVALID_ID) {
      Status(answer == MSG_KEEP_ALIVE_BROKEN ? "ZENT connection was broken." : "Error: Invalid message id.");
      return drop("Disconnected.");
    }
    Pause(kLoopPause);
  }
  CloseChannel();
  return {};  // stopped by its host: nothing more is said
}

void EventSession::Event() {
  Status(">>> Event message arrived.");
  if (!Stopping()) host_->CameraEvent(EventOrigin{});
}

SessionEnding EventSession::CameraClosed() {
  // A read that ends before its unit means the camera closed its side. Its end of the socket may
  // still take our keep-alives (a proxy passing the close on does), so nothing else would notice.
  CloseChannel();
  return Ending(SessionEnd::Dropped, "Disconnected Network.", {"Disconnected Network."});
}

std::optional<SessionEnding> AuthenticateUser(EventSession& session) {
  const SessionSettings& settings = session.Settings();
  if (settings.userId.size() > kMaxUserIdBytes || settings.password.size() > kMaxPasswordBytes) {
    return Ending(SessionEnd::Final, "Error: User ID and/or Password is too long(> 10).");
  }
  const AuthPacket packet = BuildAuthPacket(settings.userId, settings.password);
  const int fd = session.Socket();

  const int sent = SendBytes(fd, packet.data(), IMG_XFER_USER_AUTH_PKT_LEN);
  if (sent == -1) {
    session.Status("SOCKET Error.");
    return Ending(SessionEnd::Dropped);
  }
  if (sent != IMG_XFER_USER_AUTH_PKT_LEN) {
    const std::string text =
        Format("nWrite(%d) is not equal to IMG_XFER_USER_AUTH_PKT_LEN(%d)", sent, IMG_XFER_USER_AUTH_PKT_LEN);
    return Ending(SessionEnd::Dropped, text, {text});
  }

  Unit answer;
  const int received = ReceiveAll(fd, answer.data(), IMG_XFER_USER_AUTH_RSLT_PKT_LEN);
  if (received == IMG_XFER_USER_AUTH_RSLT_PKT_LEN) {
    const int value = ReadUnit(answer);
    if (value == MSG_AUTH_ACCEPTED) {
      session.Status("User Verify OK...");
      session.LoginAccepted();
      return std::nullopt;
    }
    return Ending(SessionEnd::Final, value == MSG_AUTH_REFUSED
                                         ? std::string("Error: User Authenticaion failed")
                                         : Format("Error: unexpected message from camera(%d)", value));
  }
  // No answer in time, or the connection closed before one: the camera may be restarting.
  if (received == -1) return Ending(SessionEnd::Dropped, "read error!", {"read error."});
  const std::string text = Format("nRead(%d) is not equal to IMG_XFER_USER_AUTH_RSLT_PKT_LEN(%d)", received,
                                  IMG_XFER_USER_AUTH_RSLT_PKT_LEN);
  return Ending(SessionEnd::Dropped, text, {text});
}

}  // namespace zent
