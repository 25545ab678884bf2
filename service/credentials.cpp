#include "service/credentials.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "link/protocol.h"
#include "service/private_file.h"

namespace zent {
namespace {

constexpr off_t kMaxCredentialsBytes = 1 << 20;

std::string LineError(const std::string& path, int line, const std::string& what) {
  return path + " line " + std::to_string(line) + ": " + what;
}

}  // namespace

std::string CredentialsPath(const char* credentialsDirectory, const char* configHome, const char* home) {
  return SecretFilePath(credentialsDirectory, configHome, home, "zent-recorder", "credentials");
}

CredentialsFile ReadCredentials(const std::string& path) {
  CredentialsFile result;
  result.path = path;
  std::string text;
  ReadPrivateFile(path, "credentials file", kMaxCredentialsBytes, text, result.error);
  if (!result.error.empty()) return result;
  struct Wipe {
    std::string& text;
    ~Wipe() { WipeSecret(text); }
  } wipeText{text};

  // Parsed in place, so that no stream keeps a copy of the passwords.
  std::string_view rest(text);
  for (int number = 1; !rest.empty(); ++number) {
    const std::size_t newline = rest.find('\n');
    std::string_view line = rest.substr(0, newline);
    rest.remove_prefix(newline == std::string_view::npos ? rest.size() : newline + 1);
    std::vector<std::string_view> fields;
    while (fields.size() < 4) {
      const std::size_t start = line.find_first_not_of(" \t\r");
      if (start == std::string_view::npos) break;
      line.remove_prefix(start);
      const std::size_t end = std::min(line.find_first_of(" \t\r"), line.size());
      fields.push_back(line.substr(0, end));
      line.remove_prefix(end);
    }
    if (fields.empty() || fields[0][0] == '#') continue;
    // The line itself is never quoted back: it holds a password.
    if (fields.size() != 3) {
      result.error = LineError(path, number, "expected ADDRESS ID PASSWORD");
    } else if (IsBrokerKey(fields[0]) &&
               (fields[1].size() > kMaxBrokerSecretBytes || fields[2].size() > kMaxBrokerSecretBytes)) {
      result.error = LineError(
          path, number,
          "the broker's user and password may have at most " + std::to_string(kMaxBrokerSecretBytes) + " bytes each");
    } else if (!IsBrokerKey(fields[0]) &&
               (fields[1].size() > kMaxUserIdBytes || fields[2].size() > kMaxPasswordBytes)) {
      result.error = LineError(path, number,
                               "the ID may have at most " + std::to_string(kMaxUserIdBytes) +
                                   " bytes and the password " + std::to_string(kMaxPasswordBytes));
    } else if (!result.cameras.try_emplace(std::string(fields[0]), std::string(fields[1]), std::string(fields[2]))
                    .second) {
      result.error = LineError(path, number, "a second line for " + std::string(fields[0]));
    }
    if (!result.error.empty()) {
      result.cameras.clear();
      return result;
    }
  }
  return result;
}

}  // namespace zent
