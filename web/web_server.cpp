#include "web/web_server.h"

#include <fstream>
#include <iterator>
#include <regex>

#include "service/credentials.h"
#include "service/private_file.h"
#include "web/http_answers.h"
#include "web/tokens.h"
#include "web/web_assets.h"
#include "web/web_requests.h"

namespace zent {
namespace {

constexpr off_t kMaxPemBytes = 1 << 20;

void SetHeaderOnce(HttpResponse& response, const char* name, const char* value) {
  if (!response.HasHeader(name)) response.SetHeader(name, value);
}

// Every answer, whoever asked: no framing, no guessed types, nothing but our own origin.
void SecurityHeaders(HttpResponse& response) {
  SetHeaderOnce(response, "Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'");
  SetHeaderOnce(response, "X-Content-Type-Options", "nosniff");
  SetHeaderOnce(response, "X-Frame-Options", "DENY");
  SetHeaderOnce(response, "Referrer-Policy", "no-referrer");
  SetHeaderOnce(response, "Cache-Control", "no-store");
}

bool IsTriggerPath(const std::string& path) {
  static const std::regex pattern("/api/cameras/[^/]+/trigger");
  return std::regex_match(path, pattern);
}

bool IsPublic(const std::string& path) {
  return path == "/login" || path == "/login.js" || path == "/style.css" || path == "/api/login" ||
         path == "/favicon.ico";
}

bool ChangesSomething(const std::string& method) { return method != "GET" && method != "HEAD"; }

}  // namespace

bool ParseWebAddress(const std::string& text, std::string& host, int& port) {
  const std::size_t colon = text.rfind(':');
  const std::string portText = colon == std::string::npos ? text : text.substr(colon + 1);
  const std::string hostText = colon == std::string::npos ? "" : text.substr(0, colon);
  if (portText.empty() || portText.size() > 5 || portText.find_first_not_of("0123456789") != std::string::npos)
    return false;
  port = std::stoi(portText);
  if (port > 65535) return false;
  host = hostText.empty() ? "127.0.0.1" : hostText;
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  return true;
}

WebServer::WebServer(WebSettings settings, CameraRecordings& recordings, CameraBoard& board, CameraFeeds& feeds,
                     const Say& say, TriggerSink trigger)
    : settings_(std::move(settings)),
      accounts_(settings_.accountsPath, !settings_.certFile.empty(), board, say),
      recordings_(
          {settings_.cacheFolder, settings_.cacheBytes, settings_.thumbnailFolder}, recordings, board,
          [this](const HttpRequest& request) { return accounts_.CallerOf(request); }, say),
      clips_(recordings, slots_, say),
      shares_(
          settings_.sharesPath, recordings, recordings_, clips_,
          [this](const HttpRequest& request) { return accounts_.CallerOf(request); }, say),
      live_(board, feeds, slots_),
      health_(board, feeds, recordings, slots_) {
  if (!trigger) return;
  triggers_.emplace(board, std::move(trigger), [this](const HttpRequest& request) -> std::optional<std::string> {
    if (const auto caller = accounts_.CallerOf(request))
      return caller->role == Role::Admin ? std::optional<std::string>("web user " + caller->user) : std::nullopt;
    return TriggerTokenOf(request);
  });
}

WebServer::~WebServer() { Stop(); }

std::string WebServer::Url() const {
  const bool tls = !settings_.certFile.empty();
  return std::string(tls ? "https://" : "http://") + settings_.host + ":" + std::to_string(port_) + "/";
}

bool WebServer::Start(std::string& error) {
  std::string cert, key;
  if (!settings_.certFile.empty() || !settings_.keyFile.empty()) {
    // The key is a secret like the cameras' passwords: refused when others may read it.
    if (!ReadPrivateFile(settings_.keyFile, "TLS key file", kMaxPemBytes, key, error)) return false;
    std::ifstream in(settings_.certFile, std::ios::binary);
    cert.assign(std::istreambuf_iterator<char>(in), {});
    if (cert.empty() || cert.size() > static_cast<std::size_t>(kMaxPemBytes)) {
      WipeSecret(key);
      error = "Cannot use the certificate " + settings_.certFile + " and key " + settings_.keyFile;
      return false;
    }
  }
  server_ = std::make_unique<HttpServer>(
      settings_.limits,
      [](HttpResponse& response, int status, const std::string& reason) { SendError(response, status, reason); });
  server_->Guard([this](const HttpRequest& q, HttpResponse& r) { return Refused(q, r); });
  server_->Finish([](const HttpRequest&, HttpResponse& r) { SecurityHeaders(r); });
  for (const auto& [path, asset] : WebAssets()) {
    const std::string route = path == "/index.html" ? "/" : path == "/login.html" ? "/login" : std::string(path);
    server_->Route(
        "GET", std::regex_replace(route, std::regex("[.]"), "\\."),
        [&asset = asset](const HttpRequest&, HttpResponse& response) {
          response.SetContent(std::string(asset.body), std::string(asset.type));
        },
        RouteWork::Loop);
  }
  accounts_.Register(*server_);
  recordings_.Register(*server_);
  clips_.Register(*server_);
  shares_.Register(*server_);
  live_.Register(*server_);
  health_.Register(*server_);
  if (triggers_) triggers_->Register(*server_);
  const bool started = server_->Start(settings_.host, settings_.port, cert, key, error);
  WipeSecret(key);
  if (!started) {
    if (!cert.empty())
      error = "Cannot use the certificate " + settings_.certFile + " and key " + settings_.keyFile + " on " +
              settings_.host + ":" + std::to_string(settings_.port);
    server_.reset();
    return false;
  }
  port_ = server_->Port();
  return true;
}

void WebServer::Stop() {
  if (!server_) return;
  server_->Stop();
  server_.reset();
}

bool WebServer::Refused(const HttpRequest& request, HttpResponse& response) {
  // Nothing but the log-in page and its assets answers without a session; a request that changes
  // something must carry the session's CSRF token too.
  if (IsPublic(request.path)) return false;
  // A share link is its own key, to that one recording or clip (web/share_routes.h).
  if (request.path.rfind("/s/", 0) == 0 && (request.method == "GET" || request.method == "HEAD")) return false;
  const std::optional<WebSession> caller = accounts_.CallerOf(request);
  // A machine's trigger carries its token, which no browser sends by itself: no CSRF to fear.
  if (!caller && triggers_ && request.method == "POST" && IsTriggerPath(request.path)) {
    const auto holder = BearerOf(request);
    if (holder && holder->trigger) return false;
    if (holder) {
      SendError(response, 403, "this token may not start recordings; make one with --add-token NAME --trigger");
      return true;
    }
  }
  const bool forMachines = request.path == "/metrics" || request.path == "/healthz";
  if (!caller && forMachines && request.method == "GET" && MachineMayRead(request)) return false;
  if (!caller && forMachines) {
    response.SetHeader("WWW-Authenticate", "Bearer realm=\"zent-recorder\"");
    response.status = 401;
    response.SetContent("log in, or send a token made with zent-recorder --add-token\n", "text/plain");
    return true;
  }
  if (!caller) {
    if (request.path.rfind("/api/", 0) == 0) SendError(response, 401, "log in first");
    else response.Redirect("/login", 303);
    return true;
  }
  if (ChangesSomething(request.method) && !SameSecret(request.Header("X-CSRF-Token"), caller->csrf)) {
    SendError(response, 403, "the request lacks this session's X-CSRF-Token");
    return true;
  }
  return false;
}

std::optional<TokenHolder> WebServer::BearerOf(const HttpRequest& request) const {
  const std::string authorization = request.Header("Authorization");
  if (authorization.rfind("Bearer ", 0) != 0 || settings_.tokensPath.empty()) return std::nullopt;
  return TokenOf(settings_.tokensPath, authorization.substr(7));
}

std::optional<std::string> WebServer::TriggerTokenOf(const HttpRequest& request) const {
  const auto holder = BearerOf(request);
  if (!holder || !holder->trigger) return std::nullopt;
  return "token " + holder->name;
}

bool WebServer::MachineMayRead(const HttpRequest& request) {
  if (BearerOf(request)) return true;
  // A request a proxy on this machine passed on comes from anywhere.
  return settings_.healthFromLocalhost && IsLoopback(request.remoteAddress) && !ThroughProxy(request);
}

}  // namespace zent
