#pragma once
// A loopback server that answers each request (HTTP or RTSP: a head ending in a blank line) with
// what a test scripts: the misbehaving camera, and the other host it would send us to.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zent::testing {

class ScriptedServer {
 public:
  // The answer to one request (its head, and its body when it gives a Content-Length); an empty
  // answer closes the connection.
  using Answer = std::function<std::string(const std::string& request)>;
  // False once the client is gone.
  using Send = std::function<bool(const std::string& bytes)>;
  // Writes the answer to one request piece by piece, as slowly or endlessly as it likes; false
  // closes the connection.
  using Writer = std::function<bool(const std::string& request, const Send& send)>;

  // `address` lies in 127.0.0.0/8; `port` 0: any free one.
  ScriptedServer(const char* address, Answer answer, int port = 0)
      : ScriptedServer(address, Writer([answer = std::move(answer)](const std::string& request, const Send& send) {
                         const std::string text = answer(request);
                         return !text.empty() && send(text);
                       }),
                       port) {}
  ScriptedServer(const char* address, Writer writer, int port = 0) : writer_(std::move(writer)) {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, address, &where.sin_addr);
    ::bind(listen_, reinterpret_cast<sockaddr*>(&where), sizeof where);
    ::listen(listen_, 8);
    socklen_t length = sizeof where;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&where), &length);
    port_ = ntohs(where.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~ScriptedServer() {
    stop_ = true;
    thread_.join();
    ::close(listen_);
  }
  int Port() const { return port_; }
  int Connections() const { return connections_; }
  std::vector<std::string> Requests() {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  bool Wait(int fd) {
    pollfd p{fd, POLLIN, 0};
    while (!stop_) {
      if (::poll(&p, 1, 50) > 0) return true;
    }
    return false;
  }
  void Serve() {
    while (Wait(listen_)) {
      const int client = ::accept(listen_, nullptr, nullptr);
      if (client < 0) continue;
      ++connections_;
      std::string inbox;
      char buffer[4096];
      while (Wait(client)) {
        const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        inbox.append(buffer, static_cast<std::size_t>(n));
        std::size_t end;
        bool open = true;
        while (open && (end = inbox.find("\r\n\r\n")) != std::string::npos) {
          const std::size_t length = BodyLength(inbox.substr(0, end));
          if (inbox.size() < end + 4 + length) break;  // the body is still on its way
          const std::string request = inbox.substr(0, end + 4 + length);
          inbox.erase(0, end + 4 + length);
          {
            std::lock_guard lock(mutex_);
            requests_.push_back(request);
          }
          open = writer_(request, [client](const std::string& bytes) {
            return ::send(client, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
          });
        }
        if (!open) break;
      }
      ::close(client);
    }
  }

  static std::size_t BodyLength(const std::string& head) {
    const std::size_t at = head.find("\r\nContent-Length: ");
    return at == std::string::npos ? 0 : std::strtoul(head.c_str() + at + 18, nullptr, 10);
  }

  Writer writer_;
  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;  // last: starts once the rest is ready
};

// The value of RTSP's CSeq header, to be echoed in the answer.
inline std::string CSeqOf(const std::string& request) {
  const std::size_t at = request.find("CSeq:");
  if (at == std::string::npos) return "0";
  const std::size_t from = request.find_first_not_of(' ', at + 5);
  return request.substr(from, request.find("\r\n", from) - from);
}

}  // namespace zent::testing
