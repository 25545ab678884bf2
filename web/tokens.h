#pragma once
// Bearer tokens for machines that read /metrics (Prometheus): made with
// `zent-recorder --add-token NAME`, shown once, kept only as their SHA-256 in a private file beside
// the accounts, one "NAME HASH" a line. A token is 32 random bytes, so a fast hash is enough; a
// scrape must not pay for a password hash.

#include <optional>
#include <string>

namespace zent {

// $CREDENTIALS_DIRECTORY/zent-recorder-tokens under systemd, else $XDG_CONFIG_HOME/zent-client/tokens.
std::string TokensPath(const char* credentialsDirectory, const char* configHome, const char* home);

// Makes a token for `name` (replacing one it had) and returns it; empty with the reason on failure.
// A `trigger` token may also start recordings (POST /api/cameras/ID/trigger).
std::string AddToken(const std::string& path, const std::string& name, std::string& error, bool trigger = false);

struct TokenHolder {
  std::string name;
  bool trigger = false;
};
// Whose the token is and what it may do; nothing when it is none of the file's.
std::optional<TokenHolder> TokenOf(const std::string& path, const std::string& token);

// SHA-256 of `text`, lower-case hex; empty if the library failed.
std::string Sha256(const std::string& text);

}  // namespace zent
