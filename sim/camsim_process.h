#pragma once
// Runs zent-camsim as a child process: commands go to its standard input, and its output lines
// are collected so a test can wait for what the stand-in camera did.

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace camsim {

class CamSimProcess {
 public:
  explicit CamSimProcess(std::vector<std::string> arguments = {});
  ~CamSimProcess();
  CamSimProcess(const CamSimProcess&) = delete;
  CamSimProcess& operator=(const CamSimProcess&) = delete;

  int EventPort() const { return eventPort_; }
  int VideoPort() const { return videoPort_; }
  void Command(const std::string& line);

  // The first output line at or after line `from` that contains `text`.
  std::optional<std::string> WaitForLine(const std::string& text, std::chrono::milliseconds timeout,
                                         std::size_t from = 0);
  std::size_t LineCount();
  // How many output lines contain `text`.
  int Count(const std::string& text);

 private:
  void ReadOutput();

  pid_t pid_ = -1;
  int stdinFd_ = -1;
  int stdoutFd_ = -1;
  int eventPort_ = 0;
  int videoPort_ = 0;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;
  bool ended_ = false;
};

// The monotonic time stamp ("t=SECONDS") of a zent-camsim output line, in seconds.
double MonotonicStamp(const std::string& line);

}  // namespace camsim
