#include "web/sessions.h"

#include <sys/random.h>

#include <algorithm>

namespace zent {

std::string RandomToken() {
  unsigned char bytes[32];
  if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) std::abort();
  static const char digits[] = "0123456789abcdef";
  std::string token;
  for (const unsigned char b : bytes) {
    token += digits[b >> 4];
    token += digits[b & 15];
  }
  return token;
}

bool SameSecret(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (std::size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  return difference == 0;
}

std::string Sessions::Create(const std::string& user, Role role, Clock::time_point now) {
  const std::string token = RandomToken();
  std::lock_guard lock(mutex_);
  std::erase_if(sessions_, [now](const auto& entry) { return entry.second.expires <= now; });
  sessions_[token] = {user, role, RandomToken(), now + kLifetime};
  return token;
}

std::optional<WebSession> Sessions::Find(const std::string& token, Clock::time_point now) {
  if (token.size() != 64) return std::nullopt;
  std::lock_guard lock(mutex_);
  const auto found = sessions_.find(token);
  if (found == sessions_.end() || found->second.expires <= now) return std::nullopt;
  return found->second;
}

void Sessions::Remove(const std::string& token) {
  std::lock_guard lock(mutex_);
  sessions_.erase(token);
}

void LoginLimiter::Forget(std::deque<Clock::time_point>& failures, Clock::time_point now) {
  while (!failures.empty() && failures.front() <= now - kWindow) failures.pop_front();
}

std::chrono::seconds LoginLimiter::Wait(const std::string& address, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  auto& failures = failures_[address];
  Forget(failures, now);
  if (static_cast<int>(failures.size()) < kAttempts) return std::chrono::seconds(0);
  return std::chrono::ceil<std::chrono::seconds>(failures.front() + kWindow - now);
}

void LoginLimiter::Failed(const std::string& address, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  auto& failures = failures_[address];
  Forget(failures, now);
  failures.push_back(now);
  // Bounded whatever an attacker sends: addresses with no recent failure are let go.
  if (failures_.size() > 10000) {
    for (auto entry = failures_.begin(); entry != failures_.end();) {
      Forget(entry->second, now);
      entry = entry->second.empty() ? failures_.erase(entry) : std::next(entry);
    }
  }
}

void LoginLimiter::Succeeded(const std::string& address) {
  std::lock_guard lock(mutex_);
  failures_.erase(address);
}

}  // namespace zent
