#include "web/account_routes.h"

#include <nlohmann/json.hpp>

#include "service/credentials.h"
#include "web/http_answers.h"
#include "web/web_requests.h"

namespace zent {
namespace {

using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxLogInBytes = 64 * 1024;

// A browser's log-in from a page of another site: refused. Clients that are not browsers send
// neither header.
bool FromAnotherSite(const HttpRequest& request) {
  const std::string site = request.Header("Sec-Fetch-Site");
  if (!site.empty()) return site != "same-origin" && site != "none";
  const std::string origin = request.Header("Origin");
  if (origin.empty()) return false;
  const std::size_t scheme = origin.find("://");
  return scheme == std::string::npos || origin.substr(scheme + 3) != request.Header("Host");
}

std::string LowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The log-in's name and password, when the request is one this server takes.
bool ReadLogIn(const HttpRequest& request, HttpResponse& response, std::string& user, std::string* password) {
  if (FromAnotherSite(request)) {
    SendError(response, 403, "log in from this server's own page");
    return false;
  }
  if (LowerCase(request.Header("Content-Type")).rfind("application/json", 0) != 0) {
    SendError(response, 415, "send the log-in as application/json");
    return false;
  }
  const Json body = Json::parse(request.body, nullptr, false);
  if (!body.is_object() || !body.contains("user") || !body.contains("password") || !body["user"].is_string() ||
      !body["password"].is_string()) {
    SendError(response, 400, "send {\"user\": …, \"password\": …}");
    return false;
  }
  user = body["user"];
  if (password) *password = body["password"];
  return true;
}

void TooManyLogIns(HttpResponse& response, std::chrono::seconds wait) {
  response.SetHeader("Retry-After", std::to_string(wait.count()));
  SendError(response, 429, "too many failed log-ins; try again in " + std::to_string(wait.count()) + " s");
}

// Behind a proxy the address is the proxy's, shared by every client: the name alone is limited.
std::string LimitedAddress(const HttpRequest& request) {
  return ThroughProxy(request) ? std::string() : request.remoteAddress;
}

std::string ShownName(const std::string& user) { return IsAccountName(user) ? user : std::string("?"); }

}  // namespace

void AccountRoutes::Register(HttpServer& server) {
  server.Route(
      "POST", "/api/login", [this](const HttpRequest& q, HttpResponse& r) { LogIn(q, r); }, RouteWork::Password,
      kMaxLogInBytes, [this](const HttpRequest& q, HttpResponse& r) { return LogInRefused(q, r); });
  server.Route(
      "POST", "/api/logout", [this](const HttpRequest& q, HttpResponse& r) { LogOut(SessionToken(q), r); },
      RouteWork::Loop);
  server.Route(
      "GET", "/api/session", [this](const HttpRequest& q, HttpResponse& r) { SessionOf(q, r); }, RouteWork::Loop);
}

std::optional<WebSession> AccountRoutes::CallerOf(const HttpRequest& request) {
  const std::string token = SessionToken(request);
  std::optional<WebSession> session = sessions_.Find(token, Clock::now());
  if (!session) return std::nullopt;
  // A session is the account as it was: a new password or role, or the account gone, ends it.
  const std::shared_ptr<const Accounts> accounts = accounts_.Current();
  const Account* account = accounts->Find(session->user);
  if (!account || account->role != session->role || account->hash != session->account) {
    sessions_.Remove(token);
    return std::nullopt;
  }
  return session;
}

bool AccountRoutes::LogInRefused(const HttpRequest& request, HttpResponse& response) {
  // On the event loop: a log-in that would be refused never waits for a password check.
  std::string user;
  if (!ReadLogIn(request, response, user, nullptr)) return true;
  const auto wait = limiter_.Waiting(ShownName(user), LimitedAddress(request), Clock::now());
  if (wait.count() == 0) return false;
  TooManyLogIns(response, wait);
  return true;
}

void AccountRoutes::LogIn(const HttpRequest& request, HttpResponse& response) {
  std::string user, password;
  if (!ReadLogIn(request, response, user, &password)) return;
  const std::string shownUser = ShownName(user);
  const std::string limitedAddress = LimitedAddress(request);
  const auto attempt = Clock::now();
  if (const auto wait = limiter_.Attempt(shownUser, limitedAddress, attempt); wait.count() > 0) {
    WipeSecret(password);
    return TooManyLogIns(response, wait);
  }
  std::string error;
  const std::shared_ptr<const Accounts> accounts = accounts_.Current(&error);
  if (!error.empty()) say_("Web page: " + error);
  const std::optional<Role> role = accounts->Verify(user, password);
  WipeSecret(password);
  if (!role) {
    say_("Web page: failed log-in as \"" + shownUser + "\" from " + request.remoteAddress);
    SendError(response, 401, "wrong name or password");
    return;
  }
  limiter_.Succeeded(shownUser, limitedAddress, attempt);
  const std::string token = sessions_.Create(user, *role, accounts->Find(user)->hash, Clock::now());
  const auto session = sessions_.Find(token, Clock::now());
  response.SetHeader("Set-Cookie", "zent_session=" + token + "; Path=/; Max-Age=" +
                                       std::to_string(std::chrono::seconds(Sessions::kLifetime).count()) +
                                       "; HttpOnly; SameSite=Strict" + (secureCookie_ ? "; Secure" : ""));
  SendJson(response, {{"user", user}, {"role", *role == Role::Admin ? "admin" : "viewer"}, {"csrf", session->csrf}});
}

void AccountRoutes::LogOut(const std::string& token, HttpResponse& response) {
  sessions_.Remove(token);
  response.SetHeader("Set-Cookie", "zent_session=; Path=/; Max-Age=0; HttpOnly; SameSite=Strict");
  SendJson(response, {{"ok", true}});
}

void AccountRoutes::SessionOf(const HttpRequest& request, HttpResponse& response) {
  const auto caller = CallerOf(request);
  if (!caller) return SendError(response, 401, "log in first");  // expired since it was checked
  SendJson(response, {{"user", caller->user},
                      {"role", caller->role == Role::Admin ? "admin" : "viewer"},
                      {"csrf", caller->csrf},
                      // The page loads what is, then asks for news after this: nothing in between is lost.
                      {"news", board_.LatestNews()}});
}

}  // namespace zent
