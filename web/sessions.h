#pragma once
// Logged-in browsers: a random session token in an HttpOnly cookie, a CSRF token that every request
// changing something must repeat in a header, and log-in attempts limited per address.

#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "web/accounts.h"

namespace zent {

struct WebSession {
  std::string user;
  Role role = Role::Viewer;
  std::string csrf;
  std::chrono::steady_clock::time_point expires;
};

class Sessions {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::hours kLifetime{12};

  // The new session's token.
  std::string Create(const std::string& user, Role role, Clock::time_point now);
  std::optional<WebSession> Find(const std::string& token, Clock::time_point now);
  void Remove(const std::string& token);

 private:
  std::mutex mutex_;
  std::map<std::string, WebSession> sessions_;
};

// Five failed log-ins a minute from one address; then it waits until the oldest is a minute old.
class LoginLimiter {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr int kAttempts = 5;
  static constexpr std::chrono::seconds kWindow{60};

  // How long the address must wait before it may try; zero when it may try now.
  std::chrono::seconds Wait(const std::string& address, Clock::time_point now);
  void Failed(const std::string& address, Clock::time_point now);
  void Succeeded(const std::string& address);

 private:
  void Forget(std::deque<Clock::time_point>& failures, Clock::time_point now);
  std::mutex mutex_;
  std::map<std::string, std::deque<Clock::time_point>> failures_;
};

// 32 random bytes as hex.
std::string RandomToken();

// Compares without an early exit, so a token cannot be guessed byte by byte from timing.
bool SameSecret(const std::string& a, const std::string& b);

}  // namespace zent
