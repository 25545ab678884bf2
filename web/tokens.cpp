#include "web/tokens.h"

#include <openssl/evp.h>
#include <unistd.h>

#include <sstream>

#include "service/private_file.h"
#include "web/accounts.h"
#include "web/sessions.h"

namespace zent {
namespace {

std::string Hex(const unsigned char* bytes, std::size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < size; ++i) {
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 15];
  }
  return text;
}
}  // namespace

std::string Sha256(const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (!EVP_Digest(text.data(), text.size(), digest, &size, EVP_sha256(), nullptr)) return {};
  return Hex(digest, size);
}

std::string TokensPath(const char* credentialsDirectory, const char* configHome, const char* home) {
  return SecretFilePath(credentialsDirectory, configHome, home, "zent-recorder-tokens", "tokens");
}

std::string AddToken(const std::string& path, const std::string& name, std::string& error, bool trigger) {
  if (!IsAccountName(name)) {
    error = "a token's name has letters, digits, '.', '_' and '-', 1 to 32 of them";
    return {};
  }
  std::string text;
  if (::access(path.c_str(), F_OK) == 0 && !ReadPrivateFile(path, "tokens file", 1 << 20, text, error)) return {};
  std::string token = "zent_" + RandomToken();
  std::string kept;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);)
    if (line.substr(0, line.find(' ')) != name && !line.empty()) kept += line + "\n";
  kept += name + " " + Sha256(token) + (trigger ? " trigger" : "") + "\n";
  if (!WritePrivateFile(path, kept, error)) return {};
  return token;
}

std::optional<TokenHolder> TokenOf(const std::string& path, const std::string& token) {
  if (token.size() < 16 || token.size() > 128) return std::nullopt;
  std::string text, error;
  if (!ReadPrivateFile(path, "tokens file", 1 << 20, text, error)) return std::nullopt;
  const std::string hash = Sha256(token);
  std::optional<TokenHolder> holder;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string name, kept, scope;
    if (!(fields >> name >> kept)) continue;
    fields >> scope;
    if (SameSecret(kept, hash)) holder = TokenHolder{name, scope == "trigger"};
  }
  return holder;
}

}  // namespace zent
