#include "sim/camsim_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace camsim {

CamSimProcess::CamSimProcess(std::vector<std::string> arguments) {
  int in[2], out[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  // Free ports unless the caller chose them, so that tests can run side by side.
  bool hasEventPort = false, hasVideoPort = false;
  for (const auto& a : arguments) {
    hasEventPort |= a == "--event-port";
    hasVideoPort |= a == "--video-port";
  }
  if (!hasEventPort) arguments.insert(arguments.end(), {"--event-port", "0"});
  if (!hasVideoPort) arguments.insert(arguments.end(), {"--video-port", "0"});
  std::vector<char*> argv;
  std::string program = ZENT_CAMSIM_PATH;
  argv.push_back(program.data());
  for (auto& a : arguments) argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_ = ::fork();
  if (pid_ == 0) {
    // The camera goes with the test, even when the test crashes.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ::dup2(in[0], STDIN_FILENO);
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(out[1], STDERR_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  stdinFd_ = in[1];
  stdoutFd_ = out[0];
  reader_ = std::thread([this] { ReadOutput(); });

  auto port = [this](const char* label) {
    const auto line = WaitForLine(label, std::chrono::seconds(10));
    if (!line) return 0;
    return std::atoi(line->substr(line->find(label) + std::string(label).size()).c_str());
  };
  eventPort_ = port("event port ");
  videoPort_ = port("video port ");
  if (eventPort_ == 0 || videoPort_ == 0) throw std::runtime_error("zent-camsim did not start");
}

CamSimProcess::~CamSimProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  ::close(stdinFd_);
  if (reader_.joinable()) reader_.join();
  ::close(stdoutFd_);
}

void CamSimProcess::Command(const std::string& line) {
  const std::string text = line + "\n";
  [[maybe_unused]] ssize_t n = ::write(stdinFd_, text.data(), text.size());
}

void CamSimProcess::ReadOutput() {
  std::string pending;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(stdoutFd_, buffer, sizeof buffer);
    if (n <= 0) break;
    pending.append(buffer, static_cast<std::size_t>(n));
    std::lock_guard lock(mutex_);
    for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
      lines_.push_back(pending.substr(0, end));
      pending.erase(0, end + 1);
    }
    changed_.notify_all();
  }
  std::lock_guard lock(mutex_);
  ended_ = true;
  changed_.notify_all();
}

std::optional<std::string> CamSimProcess::WaitForLine(const std::string& text, std::chrono::milliseconds timeout,
                                                      std::size_t from) {
  std::unique_lock lock(mutex_);
  std::optional<std::string> found;
  changed_.wait_for(lock, timeout, [&] {
    for (std::size_t i = from; i < lines_.size(); ++i) {
      if (lines_[i].find(text) != std::string::npos) {
        found = lines_[i];
        return true;
      }
    }
    return ended_;
  });
  return found;
}

std::size_t CamSimProcess::LineCount() {
  std::lock_guard lock(mutex_);
  return lines_.size();
}

int CamSimProcess::Count(const std::string& text) {
  std::lock_guard lock(mutex_);
  int count = 0;
  for (const auto& line : lines_) count += line.find(text) != std::string::npos;
  return count;
}

double MonotonicStamp(const std::string& line) {
  const auto pos = line.find(" t=");
  return pos == std::string::npos ? 0.0 : std::atof(line.c_str() + pos + 3);
}

}  // namespace camsim
