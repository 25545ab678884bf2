#pragma once
// zent-recorder --add-user NAME [--admin]: an account for the web page, its password asked twice
// on the terminal (or read as one line from standard input when that is no terminal).

#include <string>

// The exit status: 0 when the account was written.
int AddUser(const std::string& name, bool admin, const std::string& accountsPath);

// zent-recorder --add-token NAME: prints a new bearer token for /metrics and /healthz; the exit
// status is 0 when it was kept.
int AddToken(const std::string& name, const std::string& tokensPath, bool trigger);
