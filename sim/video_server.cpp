#include "sim/video_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "sim/sim_log.h"

namespace camsim {
namespace {

using Clock = std::chrono::steady_clock;

std::string Base64(const std::string& text) {
  static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < text.size(); i += 3) {
    const unsigned v = (static_cast<unsigned char>(text[i]) << 16) | (static_cast<unsigned char>(text[i + 1]) << 8) |
                       static_cast<unsigned char>(text[i + 2]);
    out += {alphabet[v >> 18], alphabet[(v >> 12) & 63], alphabet[(v >> 6) & 63], alphabet[v & 63]};
  }
  if (i + 1 == text.size()) {
    const unsigned v = static_cast<unsigned char>(text[i]) << 16;
    out += {alphabet[v >> 18], alphabet[(v >> 12) & 63], '=', '='};
  } else if (i + 2 == text.size()) {
    const unsigned v = (static_cast<unsigned char>(text[i]) << 16) | (static_cast<unsigned char>(text[i + 1]) << 8);
    out += {alphabet[v >> 18], alphabet[(v >> 12) & 63], alphabet[(v >> 6) & 63], '='};
  }
  return out;
}

bool SendAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

std::string TimeText() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%ld", local.tm_hour, local.tm_min, local.tm_sec,
                now.tv_nsec / 100000000);
  return text;
}

}  // namespace

VideoServer::VideoServer(VideoOptions options) : options_(std::move(options)) {}

VideoServer::~VideoServer() {
  stopping_ = true;
  newFrame_.notify_all();
  if (listenFd_ >= 0) ::shutdown(listenFd_, SHUT_RDWR);
  if (acceptThread_.joinable()) acceptThread_.join();
  if (producerThread_.joinable()) producerThread_.join();
  std::lock_guard lock(clientsMutex_);
  for (auto& t : clients_) t.join();
  if (listenFd_ >= 0) ::close(listenFd_);
}

std::shared_ptr<const TestPicture> VideoServer::MakePicture() const {
  return std::make_shared<const TestPicture>(
      options_.width, options_.height, std::max(1, static_cast<int>(options_.fps + 0.5)), options_.quality, scene_);
}

int VideoServer::BlockX(std::uint64_t number) const {
  if (moveFrames_ == 0 || number < moveFrom_ || number >= moveFrom_ + moveFrames_) return -1;
  const auto travel = static_cast<std::uint64_t>(std::max(1, options_.width - picture_->BlockWidth()));
  return static_cast<int>((number - moveFrom_) * travel / std::max<std::uint64_t>(1, moveFrames_ - 1));
}

bool VideoServer::Start() {
  scene_.still = options_.still;
  picture_ = MakePicture();
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int yes = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(options_.address);
  address.sin_port = htons(static_cast<uint16_t>(options_.port));
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listenFd_, 8) != 0)
    return false;
  socklen_t length = sizeof address;
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  Log("video port %d (%dx%d at %g frames per second)", port_, options_.width, options_.height, options_.fps);
  acceptThread_ = std::thread([this] { AcceptLoop(); });
  producerThread_ = std::thread([this] { ProduceLoop(); });
  return true;
}

void VideoServer::ProduceLoop() {
  const auto interval = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / options_.fps));
  auto next = Clock::now();
  std::uint64_t number = 0;
  while (!stopping_) {
    std::this_thread::sleep_until(next);
    next += interval;
    std::shared_ptr<const TestPicture> picture;
    int blockX = -1;
    bool firstMoved = false;
    {
      std::lock_guard lock(mutex_);
      picture = picture_;
      blockX = BlockX(++number);
      firstMoved = blockX >= 0 && number == moveFrom_;
    }
    auto jpeg = std::make_shared<const std::string>(picture->Frame(number, TimeText(), blockX));
    if (firstMoved) Log("first moved frame %llu", static_cast<unsigned long long>(number));
    {
      std::lock_guard lock(mutex_);
      latest_ = {number, std::move(jpeg)};
    }
    newFrame_.notify_all();
  }
}

void VideoServer::AcceptLoop() {
  int id = 0;
  while (!stopping_) {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (stopping_) return;
      continue;
    }
    if (!videoOn_) {
      ::close(fd);  // the stream is down
      continue;
    }
    const int clientId = ++id;
    std::lock_guard lock(clientsMutex_);
    clients_.emplace_back([this, fd, clientId] { ServeClient(fd, clientId); });
  }
}

bool VideoServer::Handshake(int fd, int id) {
  const timeval timeout{5, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  std::string request;
  char buffer[1024];
  while (request.find("\r\n\r\n") == std::string::npos && request.size() < 16384) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    request.append(buffer, static_cast<std::size_t>(n));
  }
  if (options_.user) {
    // The header's name is case-insensitive; the credentials are not.
    std::string lower = request;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const auto at = lower.find("\r\nauthorization: basic ");
    std::string token;
    if (at != std::string::npos) {
      const auto begin = at + std::strlen("\r\nauthorization: basic ");
      token = request.substr(begin, request.find("\r\n", begin) - begin);
    }
    if (token != Base64(*options_.user + ":" + options_.password.value_or(""))) {
      const char* challenge =
          "HTTP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"zent-camsim\"\r\nContent-Length: 0\r\n\r\n";
      SendAll(fd, challenge, std::strlen(challenge));
      Log("video client %d: %s", id, token.empty() ? "asked for credentials" : "wrong credentials");
      return false;
    }
  }
  const char* header =
      "HTTP/1.0 200 OK\r\nContent-Type: multipart/x-mixed-replace;boundary=zentframe\r\n"
      "Cache-Control: no-cache\r\nConnection: close\r\n\r\n";
  return SendAll(fd, header, std::strlen(header));
}

void VideoServer::ServeClient(int fd, int id) {
  ++clientCount_;
  std::uint64_t sent = 0, dropped = 0, first = 0, last = 0;
  if (Handshake(fd, id)) {
    Log("video client %d connected", id);
    std::uint64_t lastNumber = 0;
    {
      std::lock_guard lock(mutex_);
      lastNumber = latest_.number;
    }
    while (!stopping_ && videoOn_) {
      Frame frame;
      {
        std::unique_lock lock(mutex_);
        newFrame_.wait(lock, [&] { return stopping_ || !videoOn_ || latest_.number > lastNumber; });
        if (stopping_ || !videoOn_) break;
        frame = latest_;
      }
      if (lastNumber != 0 && frame.number > lastNumber + 1) dropped += frame.number - lastNumber - 1;
      lastNumber = frame.number;
      char part[128];
      const int n =
          std::snprintf(part, sizeof part, "--zentframe\r\nContent-Type: image/jpeg\r\nContent-Length: %zu\r\n\r\n",
                        frame.jpeg->size());
      if (!SendAll(fd, part, static_cast<std::size_t>(n)) || !SendAll(fd, frame.jpeg->data(), frame.jpeg->size()) ||
          !SendAll(fd, "\r\n", 2))
        break;
      if (sent++ == 0) first = frame.number;
      last = frame.number;
    }
    Log("video client %d ended: sent %llu frames (%llu to %llu), dropped %llu", id,
        static_cast<unsigned long long>(sent), static_cast<unsigned long long>(first),
        static_cast<unsigned long long>(last), static_cast<unsigned long long>(dropped));
  }
  ::close(fd);
  --clientCount_;
}

bool VideoServer::Command(const std::string& word, const std::string& argument) {
  if (word == "video-off") {
    videoOn_ = false;
    newFrame_.notify_all();
    Log("video off");
  } else if (word == "video-on") {
    videoOn_ = true;
    Log("video on");
  } else if (word == "size") {
    int width = 0, height = 0;
    if (std::sscanf(argument.c_str(), "%dx%d", &width, &height) != 2 || width < 16 || height < 16 || width > 8192 ||
        height > 8192) {
      Log("bad size %s", argument.c_str());
      return true;
    }
    {
      std::lock_guard lock(mutex_);
      options_.width = width;
      options_.height = height;
      picture_ = MakePicture();
    }
    Log("size %dx%d", width, height);
  } else if ((word == "move" || word == "light") && !options_.still) {
    Log("%s needs a still scene (--still)", word.c_str());
  } else if (word == "move") {
    // Across the picture in SECONDS, from the next frame on; its number is said so a test knows
    // the first frame with motion.
    const double seconds = std::atof(argument.c_str());
    if (seconds <= 0 || seconds > 3600) {
      Log("bad move %s", argument.c_str());
      return true;
    }
    std::lock_guard lock(mutex_);
    moveFrom_ = latest_.number + 1;
    moveFrames_ = std::max<std::uint64_t>(2, static_cast<std::uint64_t>(seconds * options_.fps + 0.5));
    Log("move from frame %llu for %g s", static_cast<unsigned long long>(moveFrom_), seconds);
  } else if (word == "light") {
    // The whole picture brighter (or darker) by DELTA at once, from the next frame on.
    const int delta = std::atoi(argument.c_str());
    std::lock_guard lock(mutex_);
    scene_.light = std::clamp(scene_.light + delta, -220, 220);
    picture_ = MakePicture();
    Log("light %+d from frame %llu", scene_.light, static_cast<unsigned long long>(latest_.number + 1));
  } else {
    return false;
  }
  return true;
}

}  // namespace camsim
