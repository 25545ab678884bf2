#pragma once
// Who is logged in to the web page: the log-in (Argon2id, limited per name and per client
// address), the session cookie and its CSRF token, the log-out; and, for the server's guard, who
// the caller of a request is — a session belongs to its account as it was when it logged in.

#include <cstdint>
#include <optional>
#include <string>

#include "web/accounts.h"
#include "web/camera_board.h"
#include "web/http_server.h"
#include "web/sessions.h"

namespace zent {

class AccountRoutes {
 public:
  using Say = std::function<void(const std::string&)>;
  // `secureCookie`: the page is served over TLS.
  AccountRoutes(const std::string& accountsPath, bool secureCookie, CameraBoard& board, Say say)
      : accounts_(accountsPath), secureCookie_(secureCookie), board_(board), say_(std::move(say)) {}

  void Register(HttpServer& server);
  // The session of the browser that asked, while its account is as it was.
  std::optional<WebSession> CallerOf(const HttpRequest& request);

 private:
  bool LogInRefused(const HttpRequest& request, HttpResponse& response);
  void LogIn(const HttpRequest& request, HttpResponse& response);
  void LogOut(const std::string& token, HttpResponse& response);
  void SessionOf(const HttpRequest& request, HttpResponse& response);

  AccountsFile accounts_;
  const bool secureCookie_;
  CameraBoard& board_;
  const Say say_;
  Sessions sessions_;
  LoginLimiter limiter_;
};

}  // namespace zent
