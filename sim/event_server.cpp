#include "sim/event_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "sim/sim_log.h"

namespace camsim {
namespace {

constexpr std::size_t kAuthPacketLength = 48;

std::string TextAt(const std::string& packet, std::size_t offset) {
  const std::string field = packet.substr(offset, 16);
  return field.substr(0, field.find('\0'));
}

}  // namespace

EventServer::EventServer(EventOptions options) : options_(std::move(options)) {}

EventServer::~EventServer() {
  if (sessionFd_ >= 0) ::close(sessionFd_);
  if (listenFd_ >= 0) ::close(listenFd_);
}

bool EventServer::Listen() {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) return false;
  const int yes = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(options_.address);
  address.sin_port = htons(static_cast<uint16_t>(options_.port == 0 ? port_ : options_.port));
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listenFd_, 4) != 0) {
    ::close(listenFd_);
    listenFd_ = -1;
    return false;
  }
  socklen_t length = sizeof address;
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  Log("event port %d", port_);
  if (options_.eventEverySeconds > 0)
    nextEvent_ = std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                        std::chrono::duration<double>(options_.eventEverySeconds));
  return true;
}

void EventServer::AddPollFds(std::vector<pollfd>& fds) const {
  if (listenFd_ >= 0) fds.push_back({listenFd_, POLLIN, 0});
  if (sessionFd_ >= 0) fds.push_back({sessionFd_, POLLIN, 0});
}

void EventServer::OnPoll(const std::vector<pollfd>& fds) {
  for (const pollfd& p : fds) {
    if (p.revents == 0) continue;
    if (p.fd == listenFd_ && listenFd_ >= 0) Accept();
    else if (p.fd == sessionFd_ && sessionFd_ >= 0) OnSessionReadable();
  }
}

int EventServer::MillisToNextEvent() const {
  if (options_.eventEverySeconds <= 0) return -1;
  const auto left = nextEvent_ - std::chrono::steady_clock::now();
  return std::max<int>(0, static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(left).count()));
}

void EventServer::OnTimers() {
  if (options_.eventEverySeconds <= 0 || std::chrono::steady_clock::now() < nextEvent_) return;
  nextEvent_ += std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(options_.eventEverySeconds));
  SendEvent(false);
}

void EventServer::Accept() {
  sockaddr_in peer{};
  socklen_t length = sizeof peer;
  const int fd = ::accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
  if (fd < 0) return;
  if (sessionFd_ >= 0) CloseSession("replaced by a new session");
  const int yes = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
  sessionFd_ = fd;
  authenticated_ = false;
  silent_ = false;
  nextAnswer_.reset();
  inbox_.clear();
  Log("session %d accepted from port %d", ++sessionCount_, ntohs(peer.sin_port));
}

void EventServer::OnSessionReadable() {
  char buffer[512];
  const ssize_t n = ::recv(sessionFd_, buffer, sizeof buffer, 0);
  if (n <= 0) {
    CloseSession("closed by the client");
    return;
  }
  inbox_.append(buffer, static_cast<std::size_t>(n));
  if (!authenticated_) {
    if (inbox_.size() >= kAuthPacketLength) HandleAuthPacket();
    return;
  }
  while (sessionFd_ >= 0 && inbox_.size() >= 4) {
    const std::string unit = inbox_.substr(0, 4);
    inbox_.erase(0, 4);
    HandleUnit(unit);
  }
}

void EventServer::HandleAuthPacket() {
  const std::string packet = inbox_.substr(0, kAuthPacketLength);
  inbox_.erase(0, kAuthPacketLength);
  const std::string id = TextAt(packet, 16);
  const std::string password = TextAt(packet, 32);
  const bool wellFormed = packet.compare(0, 4, "0300") == 0;
  const bool userOk = !options_.user || *options_.user == id;
  const bool passwordOk = !options_.password || *options_.password == password;
  Log("recv auth packet 0300 id=%s well-formed=%d accepted=%d", id.c_str(), wellFormed, userOk && passwordOk);
  if (options_.closeAfterAuthPacket) {
    CloseSession("closing right after the packet");
    return;
  }
  if (options_.authAnswer) {
    SendUnit(*options_.authAnswer);
    return;
  }
  const bool accepted = wellFormed && userOk && passwordOk;
  SendUnit(accepted ? "0301" : "0302");
  authenticated_ = accepted;
}

void EventServer::HandleUnit(const std::string& unit) {
  Log("recv %s", unit.c_str());
  if (silent_) return;
  if (unit != "0500") {
    SendUnit("9000");
    return;
  }
  SendUnit(nextAnswer_.value_or("0501"));
  nextAnswer_.reset();
}

void EventServer::SendUnit(const std::string& unit) {
  if (sessionFd_ < 0 || halfClosed_) return;
  Log("send %s", unit.c_str());  // stamped before it leaves, so measured delays are not flattered
  ::send(sessionFd_, unit.data(), unit.size(), MSG_NOSIGNAL);
}

void EventServer::SendEvent(bool split) {
  if (sessionFd_ < 0 || !authenticated_) {
    Log("no session for an event");
    return;
  }
  if (!split) {
    SendUnit("0520");
    return;
  }
  ::send(sessionFd_, "0", 1, MSG_NOSIGNAL);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ::send(sessionFd_, "520", 3, MSG_NOSIGNAL);
  Log("send 0520 split 1+3");
}

void EventServer::CloseSession(const char* why) {
  ::close(sessionFd_);
  sessionFd_ = -1;
  authenticated_ = false;
  halfClosed_ = false;
  Log("session %d ended: %s", sessionCount_, why);
}

bool EventServer::Command(const std::string& word, const std::string& argument) {
  if (word == "event") SendEvent(false);
  else if (word == "split-event") SendEvent(true);
  else if (word == "broken") nextAnswer_ = "0502";
  else if (word == "invalid") nextAnswer_ = "9000";
  else if (word == "answer" && argument.size() == 4) nextAnswer_ = argument;
  else if (word == "send" && argument.size() == 4) SendUnit(argument);
  else if (word == "silent") silent_ = true;
  else if (word == "half-close") {
    // As a TCP proxy passes a camera's close on: our side is shut, theirs is still read.
    if (sessionFd_ >= 0 && !halfClosed_) ::shutdown(sessionFd_, SHUT_WR);
    halfClosed_ = true;
    Log("half-closed the session");
  } else if (word == "close") {
    if (sessionFd_ >= 0) CloseSession("closed on command");
  } else if (word == "refuse") {
    if (listenFd_ >= 0) ::close(listenFd_);
    listenFd_ = -1;
    Log("refusing connections");
  } else if (word == "accept") {
    if (listenFd_ < 0) Listen();
  } else {
    return false;
  }
  return true;
}

}  // namespace camsim
