#pragma once
// The camera's side of the event channel, one session at a time: checks the 48-byte packet,
// answers keep-alives, sends events, and misbehaves on command.

#include <poll.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace camsim {

struct EventOptions {
  std::uint32_t address = 0x7F000001;     // host order; always a loopback address
  int port = 11000;                       // 0: any free port
  std::optional<std::string> user;        // checked when set
  std::optional<std::string> password;    // checked when set
  double eventEverySeconds = 0;           // 0: only on command
  std::optional<std::string> authAnswer;  // answer the packet with this unit instead
  bool closeAfterAuthPacket = false;
};

class EventServer {
 public:
  explicit EventServer(EventOptions options);
  ~EventServer();
  bool Listen();  // logs "event port N"
  int Port() const { return port_; }

  // The descriptors to poll, and what to do when they are ready.
  void AddPollFds(std::vector<pollfd>& fds) const;
  void OnPoll(const std::vector<pollfd>& fds);
  // Milliseconds until the next scheduled event, or -1.
  int MillisToNextEvent() const;
  void OnTimers();

  // A command from standard input; false when it is not one of the event side's.
  bool Command(const std::string& word, const std::string& argument);

 private:
  void Accept();
  void OnSessionReadable();
  void HandleAuthPacket();
  void HandleUnit(const std::string& unit);
  void SendUnit(const std::string& unit);
  void SendEvent(bool split);
  void CloseSession(const char* why);

  EventOptions options_;
  int listenFd_ = -1;
  int sessionFd_ = -1;
  int port_ = 0;
  int sessionCount_ = 0;
  bool authenticated_ = false;
  bool silent_ = false;
  bool halfClosed_ = false;
  std::optional<std::string> nextAnswer_;
  std::string inbox_;
  std::chrono::steady_clock::time_point nextEvent_;
};

}  // namespace camsim
