#pragma once
// The camera's video: MJPEG over HTTP (multipart/x-mixed-replace) at "/", to several clients at
// once, with basic authentication when a user is set.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/test_picture.h"

namespace camsim {

struct VideoOptions {
  std::uint32_t address = 0x7F000001;  // host order; always a loopback address
  int port = 8080;                     // 0: any free port
  int width = 640;
  int height = 480;
  double fps = 15;
  int quality = 75;
  bool still = false;  // no sweeping bar: a scene where nothing moves until told to
  std::optional<std::string> user;
  std::optional<std::string> password;
};

class VideoServer {
 public:
  explicit VideoServer(VideoOptions options);
  ~VideoServer();
  bool Start();  // logs "video port N"
  // size WxH | video-off | video-on | move SECONDS | light DELTA; false when the word is not one of these.
  bool Command(const std::string& word, const std::string& argument);

 private:
  struct Frame {
    std::uint64_t number;
    std::shared_ptr<const std::string> jpeg;
  };
  void AcceptLoop();
  void ProduceLoop();
  // The picture for the current size and scene; with mutex_ held.
  std::shared_ptr<const TestPicture> MakePicture() const;
  int BlockX(std::uint64_t number) const;  // with mutex_ held
  void ServeClient(int fd, int id);
  bool Handshake(int fd, int id);

  VideoOptions options_;
  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> videoOn_{true};
  std::atomic<int> clientCount_{0};

  std::mutex mutex_;
  std::condition_variable newFrame_;
  std::shared_ptr<const TestPicture> picture_;   // guarded by mutex_
  Frame latest_{0, nullptr};                     // guarded by mutex_
  Scene scene_;                                  // guarded by mutex_
  std::uint64_t moveFrom_ = 0, moveFrames_ = 0;  // guarded by mutex_: the frames a block crosses in

  std::thread acceptThread_;
  std::thread producerThread_;
  std::mutex clientsMutex_;
  std::vector<std::thread> clients_;
};

}  // namespace camsim
