#pragma once
// A TCP client that sends exactly what a test writes, as slowly or as much as it likes, from any
// loopback address: the stranger a server must hold against.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>

namespace zent::testing {

class RawClient {
 public:
  // Connects from `from` (a 127.0.0.0/8 address) to 127.0.0.1:port, waiting at most `timeout` for
  // a server whose queue is full; Connected() says whether it did. Never blocks after that.
  explicit RawClient(int port, const char* from = "127.0.0.1",
                     std::chrono::milliseconds timeout = std::chrono::milliseconds(2000)) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in source{};
    source.sin_family = AF_INET;
    ::inet_pton(AF_INET, from, &source.sin_addr);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&source), sizeof source);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, "127.0.0.1", &where.sin_addr);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0) {
      connected_ = true;
    } else if (errno == EINPROGRESS) {
      pollfd wait{fd_, POLLOUT, 0};
      int failure = 0;
      socklen_t length = sizeof failure;
      connected_ = ::poll(&wait, 1, static_cast<int>(timeout.count())) == 1 &&
                   ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &failure, &length) == 0 && failure == 0;
    }
  }
  ~RawClient() { ::close(fd_); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool Connected() const { return connected_; }
  // False once the server has closed or reset the connection, or stopped reading.
  bool Send(const std::string& bytes) {
    return connected_ && ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }
  // What arrives until `until` is in it, the connection ends or the time is up.
  std::string Read(std::chrono::milliseconds timeout, const std::string& until = {}) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      if (!until.empty() && received_.find(until) != std::string::npos) break;
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd wait{fd_, POLLIN, 0};
      if (::poll(&wait, 1, static_cast<int>(left.count())) <= 0) break;
      char buffer[65536];
      const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) {
        closed_ = true;
        break;
      }
      received_.append(buffer, static_cast<std::size_t>(n));
    }
    return received_;
  }
  // Whether the server closed the connection (seen by a Read).
  bool Closed() const { return closed_; }

 private:
  int fd_ = -1;
  bool connected_ = false;
  bool closed_ = false;
  std::string received_;
};

}  // namespace zent::testing
