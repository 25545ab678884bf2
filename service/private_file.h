#pragma once
// Files that hold secrets (the cameras' passwords, the web page's accounts): read only when they
// are regular files of this user or root that nobody else may read or change.

#include <sys/types.h>

#include <string>

namespace zent {

// Where a secret file of zent-recorder's is: $CREDENTIALS_DIRECTORY/CREDENTIAL under systemd's
// LoadCredential=, else $XDG_CONFIG_HOME/zent-client/FILE (~/.config when unset).
std::string SecretFilePath(const char* credentialsDirectory, const char* configHome, const char* home,
                           const std::string& credential, const std::string& file);

// `what` names the file in errors ("credentials file"). The text read is the caller's to wipe.
bool ReadPrivateFile(const std::string& path, const std::string& what, off_t maxBytes, std::string& text,
                     std::string& error);

// Replaces `path` with `text` as a 0600 file, whole or not at all (a temporary file renamed); a
// missing folder on its way is made 0700.
bool WritePrivateFile(const std::string& path, const std::string& text, std::string& error);

}  // namespace zent
