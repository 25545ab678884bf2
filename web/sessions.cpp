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

std::string Sessions::Create(const std::string& user, Role role, const std::string& account, Clock::time_point now) {
  std::string token = RandomToken();
  std::lock_guard lock(mutex_);
  std::erase_if(sessions_, [now](const auto& entry) { return entry.second.expires <= now; });
  sessions_[token] = {user, role, account, RandomToken(), now + kLifetime};
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

namespace {

void Forget(std::deque<std::chrono::steady_clock::time_point>& failures, std::chrono::steady_clock::time_point now) {
  while (!failures.empty() && failures.front() <= now - LoginLimiter::kWindow) failures.pop_front();
}

}  // namespace

std::chrono::seconds LoginLimiter::Wait(Failures& failures, const std::string& key, Clock::time_point now) {
  const auto found = failures.find(key);
  if (found == failures.end()) return std::chrono::seconds(0);
  Forget(found->second, now);
  if (static_cast<int>(found->second.size()) < kAttempts) return std::chrono::seconds(0);
  return std::max(std::chrono::seconds(1),
                  std::chrono::ceil<std::chrono::seconds>(found->second.front() + kWindow - now));
}

void LoginLimiter::Count(Failures& failures, const std::string& key, Clock::time_point now) {
  failures[key].push_back(now);
  // Bounded whatever an attacker sends: names and addresses with no recent failure are let go.
  if (failures.size() > 10000) {
    for (auto entry = failures.begin(); entry != failures.end();) {
      Forget(entry->second, now);
      entry = entry->second.empty() ? failures.erase(entry) : std::next(entry);
    }
  }
}

std::chrono::seconds LoginLimiter::Waiting(const std::string& name, const std::string& address, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  return WaitLocked(name, address, now);
}

std::chrono::seconds LoginLimiter::WaitLocked(const std::string& name, const std::string& address,
                                              Clock::time_point now) {
  return std::max(Wait(names_, name, now), address.empty() ? std::chrono::seconds(0) : Wait(addresses_, address, now));
}

std::chrono::seconds LoginLimiter::Attempt(const std::string& name, const std::string& address, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  const std::chrono::seconds wait = WaitLocked(name, address, now);
  if (wait.count() > 0) return wait;
  Count(names_, name, now);
  if (!address.empty()) Count(addresses_, address, now);
  return wait;
}

void LoginLimiter::Succeeded(const std::string& name, const std::string& address, Clock::time_point when) {
  std::lock_guard lock(mutex_);
  names_.erase(name);
  if (const auto found = addresses_.find(address); found != addresses_.end()) {
    auto& failures = found->second;
    if (const auto at = std::find(failures.begin(), failures.end(), when); at != failures.end()) failures.erase(at);
  }
}

}  // namespace zent
