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
  std::string account;  // the account's hash when it logged in: a new password or role ends the session
  std::string csrf;
  std::chrono::steady_clock::time_point expires;
};

class Sessions {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::hours kLifetime{12};

  // The new session's token.
  std::string Create(const std::string& user, Role role, const std::string& account, Clock::time_point now);
  std::optional<WebSession> Find(const std::string& token, Clock::time_point now);
  void Remove(const std::string& token);

 private:
  std::mutex mutex_;
  std::map<std::string, WebSession> sessions_;
};

// Five failed log-ins a minute for one name, and five from one address where the address is the
// client's own (behind a proxy every client has the proxy's); then it waits until the oldest is a
// minute old. An attempt counts before its password is checked: guesses sent at once wait too.
class LoginLimiter {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr int kAttempts = 5;
  static constexpr std::chrono::seconds kWindow{60};

  // Zero: the attempt goes on, counted as failed until Succeeded. Else how long to wait.
  // `address` empty: not the client's, not limited.
  std::chrono::seconds Attempt(const std::string& name, const std::string& address, Clock::time_point now);
  // How long an attempt would have to wait, without making one.
  std::chrono::seconds Waiting(const std::string& name, const std::string& address, Clock::time_point now);
  // The attempt made at `when` was right: the name's failures are forgotten, the address keeps its others.
  void Succeeded(const std::string& name, const std::string& address, Clock::time_point when);

 private:
  using Failures = std::map<std::string, std::deque<Clock::time_point>>;
  static std::chrono::seconds Wait(Failures& failures, const std::string& key, Clock::time_point now);
  std::chrono::seconds WaitLocked(const std::string& name, const std::string& address, Clock::time_point now);
  static void Count(Failures& failures, const std::string& key, Clock::time_point now);
  std::mutex mutex_;
  Failures names_, addresses_;
};

// 32 random bytes as hex.
std::string RandomToken();

// Compares without an early exit, so a token cannot be guessed byte by byte from timing.
bool SameSecret(const std::string& a, const std::string& b);

}  // namespace zent
