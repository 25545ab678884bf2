#pragma once
// Who may use the web page: accounts in a file beside the credentials, one a line,
// "NAME ROLE HASH" with ROLE admin or viewer and HASH the password's Argon2id hash (libargon2).
// The file is private like the credentials; no password is kept.

#include <sys/types.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace zent {

enum class Role { Viewer, Admin };

struct Account {
  std::string name;
  Role role = Role::Viewer;
  std::string hash;  // Argon2id, encoded ($argon2id$v=19$m=...)
};

// Beside the credentials file: $CREDENTIALS_DIRECTORY/zent-recorder-accounts under systemd, else
// $XDG_CONFIG_HOME/zent-client/accounts.
std::string AccountsPath(const char* credentialsDirectory, const char* configHome, const char* home);

// A name may have letters, digits, '.', '_' and '-', 1 to 32 of them.
bool IsAccountName(const std::string& name);

class Accounts {
 public:
  // False with the reason when the file cannot be used; a file that does not exist is no accounts.
  bool Load(const std::string& path, std::string& error);
  // The account's role when the password is its own. Takes as long for a name that does not exist.
  std::optional<Role> Verify(const std::string& name, const std::string& password) const;
  const Account* Find(const std::string& name) const;

  // Adds the account or gives it a new password and role, and writes the file (0600).
  static bool Add(const std::string& path, const std::string& name, Role role, std::string password,
                  std::string& error);

 private:
  std::vector<Account> accounts_;
};

// The accounts file as it is now, read again whenever it changed (a new file, size or time): a
// password or role changed with --add-user counts at once.
class AccountsFile {
 public:
  explicit AccountsFile(std::string path) : path_(std::move(path)) {}
  // Never null; no accounts when the file cannot be used (then `error`, if asked for, says why).
  std::shared_ptr<const Accounts> Current(std::string* error = nullptr);

 private:
  const std::string path_;
  std::mutex mutex_;
  bool read_ = false;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  off_t size_ = -1;
  std::int64_t changedNs_ = -1;
  std::shared_ptr<const Accounts> accounts_;
  std::string error_;
};

}  // namespace zent
