#include "web/accounts.h"

#include <argon2.h>
#include <sys/random.h>
#include <sys/stat.h>

#include <malloc.h>

#include <cerrno>
#include <cstring>
#include <sstream>

#include "service/credentials.h"
#include "service/private_file.h"

namespace zent {
namespace {

constexpr off_t kMaxAccountsBytes = 1 << 20;
// OWASP's Argon2id choice: 19 MiB, two passes. A log-in costs some 30 ms of one core.
constexpr std::uint32_t kPasses = 2;
constexpr std::uint32_t kMemoryKiB = 19 * 1024;
constexpr std::uint32_t kLanes = 1;
constexpr std::size_t kSaltBytes = 16;
constexpr std::size_t kHashBytes = 32;

const char* RoleName(Role role) { return role == Role::Admin ? "admin" : "viewer"; }

std::string Hash(const std::string& password) {
  unsigned char salt[kSaltBytes];
  if (::getrandom(salt, sizeof salt, 0) != static_cast<ssize_t>(sizeof salt)) return {};
  std::string encoded(argon2_encodedlen(kPasses, kMemoryKiB, kLanes, kSaltBytes, kHashBytes, Argon2_id), '\0');
  if (argon2id_hash_encoded(kPasses, kMemoryKiB, kLanes, password.data(), password.size(), salt, sizeof salt,
                            kHashBytes, encoded.data(), encoded.size()) != ARGON2_OK)
    return {};
  encoded.resize(std::strlen(encoded.c_str()));
  return encoded;
}

// What a name that does not exist is checked against, so that it takes as long.
const std::string& DummyHash() {
  static const std::string dummy = Hash("no such account");
  return dummy;
}

}  // namespace

std::string AccountsPath(const char* credentialsDirectory, const char* configHome, const char* home) {
  return SecretFilePath(credentialsDirectory, configHome, home, "zent-recorder-accounts", "accounts");
}

bool IsAccountName(const std::string& name) {
  if (name.empty() || name.size() > 32) return false;
  for (const char c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '-') return false;
  return true;
}

bool Accounts::Load(const std::string& path, std::string& error) {
  accounts_.clear();
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 && errno == ENOENT) return true;
  std::string text;
  if (!ReadPrivateFile(path, "accounts file", kMaxAccountsBytes, text, error)) return false;
  std::istringstream lines(text);
  int number = 0;
  for (std::string line; std::getline(lines, line);) {
    ++number;
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    Account account;
    std::string role, rest;
    if (!(fields >> account.name >> role >> account.hash) || (fields >> rest) || !IsAccountName(account.name) ||
        (role != "admin" && role != "viewer") || account.hash.rfind("$argon2id$", 0) != 0) {
      error = path + " line " + std::to_string(number) + ": expected NAME admin|viewer ARGON2ID-HASH";
      accounts_.clear();
      return false;
    }
    account.role = role == "admin" ? Role::Admin : Role::Viewer;
    accounts_.push_back(std::move(account));
  }
  return true;
}

std::optional<Role> Accounts::Verify(const std::string& name, const std::string& password) const {
  const Account* account = Find(name);
  const bool same = argon2id_verify(account ? account->hash.c_str() : DummyHash().c_str(), password.data(),
                                    password.size()) == ARGON2_OK;
  // Argon2's 19 MiB come from the heap, which the recorder's malloc settings keep for video frames:
  // given back now, or every log-in would leave its share behind.
  ::malloc_trim(0);
  if (!account || !same) return std::nullopt;
  return account->role;
}

const Account* Accounts::Find(const std::string& name) const {
  for (const Account& account : accounts_)
    if (account.name == name) return &account;
  return nullptr;
}

std::shared_ptr<const Accounts> AccountsFile::Current(std::string* error) {
  struct stat info {};
  const bool exists = ::stat(path_.c_str(), &info) == 0;
  const std::int64_t changedNs =
      exists ? static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec : -1;
  std::lock_guard lock(mutex_);
  if (!read_ || info.st_dev != device_ || info.st_ino != inode_ || (exists ? info.st_size : -1) != size_ ||
      changedNs != changedNs_) {
    auto accounts = std::make_shared<Accounts>();
    error_.clear();
    if (!accounts->Load(path_, error_)) accounts = std::make_shared<Accounts>();
    accounts_ = std::move(accounts);
    read_ = true;
    device_ = exists ? info.st_dev : 0;
    inode_ = exists ? info.st_ino : 0;
    size_ = exists ? info.st_size : -1;
    changedNs_ = changedNs;
  }
  if (error) *error = error_;
  return accounts_;
}

bool Accounts::Add(const std::string& path, const std::string& name, Role role, std::string password,
                   std::string& error) {
  if (!IsAccountName(name)) {
    error = "An account name has 1 to 32 letters, digits, '.', '_' or '-'";
    return false;
  }
  if (password.size() < 8) {
    WipeSecret(password);
    error = "The password must have at least 8 characters";
    return false;
  }
  Accounts accounts;
  if (!accounts.Load(path, error)) return false;
  const std::string hash = Hash(password);
  WipeSecret(password);
  if (hash.empty()) {
    error = "Cannot hash the password";
    return false;
  }
  std::string text;
  bool replaced = false;
  for (const Account& account : accounts.accounts_) {
    const bool same = account.name == name;
    replaced |= same;
    text += account.name + " " + RoleName(same ? role : account.role) + " " + (same ? hash : account.hash) + "\n";
  }
  if (!replaced) text += name + " " + RoleName(role) + " " + hash + "\n";
  return WritePrivateFile(path, text, error);
}

}  // namespace zent
