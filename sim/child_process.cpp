#include "sim/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace camsim {

ChildProcess::ChildProcess(const std::string& program, std::vector<std::string> arguments,
                           const std::vector<std::string>& environment) {
  int in[2], out[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  std::vector<char*> argv;
  std::string path = program;
  argv.push_back(path.data());
  for (auto& a : arguments) argv.push_back(a.data());
  argv.push_back(nullptr);
  // Built before the fork: the child may only call async-signal-safe functions.
  std::vector<std::string> variables;
  for (char** entry = environ; *entry; ++entry) {
    const std::string variable = *entry;
    const std::string name = variable.substr(0, variable.find('=') + 1);
    bool replaced = false;
    for (const auto& added : environment) replaced = replaced || added.rfind(name, 0) == 0;
    if (!replaced) variables.push_back(variable);
  }
  variables.insert(variables.end(), environment.begin(), environment.end());
  std::vector<char*> envp;
  for (auto& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);

  pid_ = ::fork();
  if (pid_ == 0) {
    // The helper goes with the test, even when the test crashes.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ::dup2(in[0], STDIN_FILENO);
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(out[1], STDERR_FILENO);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  stdinFd_ = in[1];
  stdoutFd_ = out[0];
  reader_ = std::thread([this] { ReadOutput(); });
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !exitStatus_) {
    ::kill(pid_, SIGTERM);
    // A child that missed the signal (it came before its handler was in place, say) must not hold
    // a test run up for ever.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (::waitpid(pid_, nullptr, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ::close(stdinFd_);
  if (reader_.joinable()) reader_.join();
  ::close(stdoutFd_);
}

void ChildProcess::Command(const std::string& line) {
  const std::string text = line + "\n";
  [[maybe_unused]] ssize_t n = ::write(stdinFd_, text.data(), text.size());
}

void ChildProcess::Signal(int signal) {
  if (pid_ > 0 && !exitStatus_) ::kill(pid_, signal);
}

std::optional<int> ChildProcess::WaitForExit(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!exitStatus_) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return exitStatus_;
}

std::string ChildProcess::Output() {
  std::lock_guard lock(mutex_);
  std::string text;
  for (const auto& line : lines_) text += line + "\n";
  return text;
}

void ChildProcess::ReadOutput() {
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

std::optional<std::string> ChildProcess::WaitForLine(const std::string& text, std::chrono::milliseconds timeout,
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

std::size_t ChildProcess::LineCount() {
  std::lock_guard lock(mutex_);
  return lines_.size();
}

int ChildProcess::Count(const std::string& text) {
  std::lock_guard lock(mutex_);
  int count = 0;
  for (const auto& line : lines_) count += line.find(text) != std::string::npos;
  return count;
}

int ChildProcess::NumberAfter(const std::string& label, std::chrono::milliseconds timeout) {
  const auto line = WaitForLine(label, timeout);
  if (!line) return 0;
  return std::atoi(line->substr(line->find(label) + label.size()).c_str());
}

}  // namespace camsim
