#pragma once
// Links an admin hands on: a recording or a clip's span that opens without a log-in until it
// expires or is revoked. The link's token is 32 random bytes shown once; only its SHA-256 is kept,
// in a private file (0600) that survives a restart, one share a line.

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace zent {

struct Share {
  std::string id;                     // public: for the list and revoking
  std::string hash;                   // SHA-256 of the token
  std::string recording;              // a recording's id, or empty for a clip
  std::string camera;                 // a clip's camera id
  std::int64_t fromMs = 0, toMs = 0;  // a clip's span, since the epoch
  std::int64_t expires = 0;           // seconds since the epoch
  std::int64_t made = 0;
  std::string by;  // the admin who made it
};

class ShareStore {
 public:
  static constexpr int kMaxHours = 168;
  static constexpr std::size_t kMaxShares = 1000;

  // `path` empty: kept in memory only. A file that cannot be read leaves no shares, said in `error`.
  explicit ShareStore(std::string path);
  const std::string& LoadError() const { return loadError_; }

  // Makes the share (its id, hash and times filled in) and returns its token; empty with the
  // reason when it cannot be kept.
  std::string Add(Share& share, int hours, std::int64_t now, std::string& error);
  // The share a token opens, while it has not expired.
  std::optional<Share> Open(const std::string& token, std::int64_t now);
  std::vector<Share> List(std::int64_t now);
  enum class Revoked { Yes, NoSuchShare, NotSaved };
  // NotSaved with the reason: the file still holds it, so it still opens.
  Revoked Revoke(const std::string& id, std::string& error);

 private:
  bool SaveLocked(std::string& error);
  void ForgetExpiredLocked(std::int64_t now);

  const std::string path_;
  std::string loadError_;
  std::mutex mutex_;
  std::vector<Share> shares_;
};

// $STATE_DIRECTORY/shares under systemd, else $XDG_STATE_HOME/zent-recorder/shares
// (~/.local/state when unset).
std::string SharesPath(const char* stateDirectory, const char* stateHome, const char* home);

}  // namespace zent
