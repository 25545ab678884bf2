#pragma once
// Runs a helper program as a child process for tests and benchmarks: commands go to its standard
// input, and its output lines are collected so a caller can wait for what the helper did.

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace camsim {

class ChildProcess {
 public:
  // `environment`: "NAME=VALUE" entries added to (or replacing) the caller's.
  ChildProcess(const std::string& program, std::vector<std::string> arguments,
               const std::vector<std::string>& environment = {});
  virtual ~ChildProcess();  // SIGTERM, then waits for the child
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  void Command(const std::string& line);
  pid_t Pid() const { return pid_; }
  void Signal(int signal);
  // The exit status once the child has ended (-1 when a signal ended it); nothing if it is
  // still running after `timeout`.
  std::optional<int> WaitForExit(std::chrono::milliseconds timeout);
  // Every output line so far, one after another.
  std::string Output();

  // The first output line at or after line `from` that contains `text`.
  std::optional<std::string> WaitForLine(const std::string& text, std::chrono::milliseconds timeout,
                                         std::size_t from = 0);
  std::size_t LineCount();
  // How many output lines contain `text`.
  int Count(const std::string& text);

 protected:
  // The number after `label` in the first output line holding it; 0 when none came in time.
  int NumberAfter(const std::string& label, std::chrono::milliseconds timeout);

 private:
  void ReadOutput();

  pid_t pid_ = -1;
  std::optional<int> exitStatus_;  // the test's thread only
  int stdinFd_ = -1;
  int stdoutFd_ = -1;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;
  bool ended_ = false;
};

}  // namespace camsim
