#include "recorder/add_user.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "service/credentials.h"
#include "web/accounts.h"
#include "web/tokens.h"

namespace {

// One line from standard input, without echo when it is a terminal.
bool ReadSecretLine(const char* prompt, bool terminal, std::string& line) {
  termios saved{};
  if (terminal) {
    std::fprintf(stderr, "%s", prompt);
    std::fflush(stderr);
    ::tcgetattr(STDIN_FILENO, &saved);
    termios quiet = saved;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  const bool read = static_cast<bool>(std::getline(std::cin, line));
  if (terminal) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::fprintf(stderr, "\n");
  }
  return read;
}

}  // namespace

int AddUser(const std::string& name, bool admin, const std::string& accountsPath) {
  const bool terminal = ::isatty(STDIN_FILENO) == 1;
  std::string password, again;
  if (!ReadSecretLine("Password: ", terminal, password) ||
      (terminal && !ReadSecretLine("The same password again: ", terminal, again))) {
    std::fprintf(stderr, "zent-recorder: no password given\n");
    return 2;
  }
  if (terminal && password != again) {
    zent::WipeSecret(password);
    zent::WipeSecret(again);
    std::fprintf(stderr, "zent-recorder: the two passwords differ; nothing was changed\n");
    return 2;
  }
  zent::WipeSecret(again);
  std::string error;
  if (!zent::Accounts::Add(accountsPath, name, admin ? zent::Role::Admin : zent::Role::Viewer, std::move(password),
                           error)) {
    std::fprintf(stderr, "zent-recorder: %s\n", error.c_str());
    return 2;
  }
  std::printf("%s may log in to the web page as %s\n", name.c_str(), admin ? "an admin" : "a viewer");
  return 0;
}

int AddToken(const std::string& name, const std::string& tokensPath, bool trigger) {
  std::string error;
  const std::string token = zent::AddToken(tokensPath, name, error, trigger);
  if (token.empty()) {
    std::fprintf(stderr, "zent-recorder: %s\n", error.c_str());
    return 2;
  }
  // Shown this once: only its hash is kept.
  std::printf("%s\n", token.c_str());
  std::fprintf(stderr, "Token \"%s\" may read /metrics and /healthz%s; send it as \"Authorization: Bearer TOKEN\"\n",
               name.c_str(), trigger ? " and start recordings (POST /api/cameras/ID/trigger)" : "");
  return 0;
}
