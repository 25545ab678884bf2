#include "web/shares.h"

#include <unistd.h>

#include <algorithm>
#include <regex>
#include <sstream>

#include "service/private_file.h"
#include "web/sessions.h"
#include "web/tokens.h"
#include "web/web_requests.h"

namespace zent {
namespace {

// Every field is a token without blanks: ids, hex, numbers, an account's name; "-" for none.
std::string Field(const std::string& text) { return text.empty() ? "-" : text; }
std::string Unfield(const std::string& text) { return text == "-" ? "" : text; }

}  // namespace

std::string SharesPath(const char* stateDirectory, const char* stateHome, const char* home) {
  if (stateDirectory && *stateDirectory) {
    std::string first = stateDirectory;
    first = first.substr(0, first.find(':'));  // systemd lists one folder a StateDirectory= entry
    return first + "/shares";
  }
  const std::string base = stateHome && *stateHome ? stateHome : std::string(home ? home : "") + "/.local/state";
  return base + "/zent-recorder/shares";
}

ShareStore::ShareStore(std::string path) : path_(std::move(path)) {
  if (path_.empty() || ::access(path_.c_str(), F_OK) != 0) return;
  std::string text;
  if (!ReadPrivateFile(path_, "shares file", 1 << 20, text, loadError_)) return;
  static const std::regex hex("[0-9a-f]{16,64}");
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line) && shares_.size() < kMaxShares;) {
    std::istringstream fields(line);
    Share s;
    std::string recording, camera, by;
    if (!(fields >> s.id >> s.hash >> recording >> camera >> s.fromMs >> s.toMs >> s.expires >> s.made >> by)) continue;
    if (!std::regex_match(s.id, hex) || !std::regex_match(s.hash, hex)) continue;
    s.recording = Unfield(recording);
    s.camera = Unfield(camera);
    s.by = Unfield(by);
    shares_.push_back(std::move(s));
  }
}

std::string ShareStore::Add(Share& share, int hours, std::int64_t now, std::string& error) {
  if (hours < 1 || hours > kMaxHours) {
    error = "a share lasts 1 to 168 hours";
    return {};
  }
  std::lock_guard lock(mutex_);
  ForgetExpiredLocked(now);
  if (shares_.size() >= kMaxShares) {
    error = "there are 1000 shares already; revoke some";
    return {};
  }
  std::string token = "zs_" + RandomToken();
  share.id = RandomToken().substr(0, 16);
  share.hash = Sha256(token);
  share.made = now;
  share.expires = now + std::int64_t{hours} * 3600;
  if (share.hash.empty()) {
    error = "cannot hash the token";
    return {};
  }
  shares_.push_back(share);
  if (!SaveLocked(error)) {
    shares_.pop_back();
    return {};
  }
  return token;
}

std::optional<Share> ShareStore::Open(const std::string& token, std::int64_t now) {
  if (token.size() < 16 || token.size() > 128) return std::nullopt;
  const std::string hash = Sha256(token);
  std::lock_guard lock(mutex_);
  std::optional<Share> found;
  for (const Share& s : shares_)
    if (SameSecret(s.hash, hash) && s.expires > now) found = s;
  return found;
}

std::vector<Share> ShareStore::List(std::int64_t now) {
  std::lock_guard lock(mutex_);
  std::vector<Share> list;
  for (const Share& s : shares_)
    if (s.expires > now) list.push_back(s);
  return list;
}

ShareStore::Revoked ShareStore::Revoke(const std::string& id, std::string& error) {
  std::lock_guard lock(mutex_);
  const auto it = std::find_if(shares_.begin(), shares_.end(), [&](const Share& s) { return s.id == id; });
  if (it == shares_.end()) return Revoked::NoSuchShare;
  const Share revoked = *it;
  shares_.erase(it);
  if (SaveLocked(error)) return Revoked::Yes;
  shares_.push_back(revoked);  // still in the file: still open
  return Revoked::NotSaved;
}

void ShareStore::ForgetExpiredLocked(std::int64_t now) {
  std::erase_if(shares_, [now](const Share& s) { return s.expires <= now; });
}

bool ShareStore::SaveLocked(std::string& error) {
  if (path_.empty()) return true;
  std::string text;
  for (const Share& s : shares_)
    text += s.id + " " + s.hash + " " + Field(s.recording) + " " + Field(s.camera) + " " + std::to_string(s.fromMs) +
            " " + std::to_string(s.toMs) + " " + std::to_string(s.expires) + " " + std::to_string(s.made) + " " +
            Field(s.by) + "\n";
  return WritePrivateFile(path_, text, error);
}

}  // namespace zent
