#include "web/web_server.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>

#include "record/mp4_remux.h"
#include "record/picture_jpeg.h"
#include "record/recording_reader.h"
#include "notify/notices.h"
#include "record/thumbnail.h"
#include "service/credentials.h"
#include "service/private_file.h"
#include "web/http_answers.h"
#include "web/web_assets.h"

namespace zent {
namespace {

using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr char kCookie[] = "zent_session";
constexpr std::size_t kPageSize = 50;
constexpr std::size_t kMaxIndexes = 64;
constexpr std::size_t kMaxLoginBytes = 64 * 1024;
constexpr off_t kMaxPemBytes = 1 << 20;
constexpr int kMaxStreams = 64;            // streamed answers (live views, news) of all sessions
constexpr int kStreamsPerSession = 20;     // a page's grid of cameras and its news, with room
constexpr int kMaxLiveViewers = 32;
constexpr auto kNewsKeepAlive = std::chrono::seconds(15);
const std::string kCameraId = "([A-Za-z0-9_-]{1,64})";
const std::string kRecordingId = "([A-Za-z0-9_-]{1,64}~[0-9_-]{1,40})";

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

std::string CookieToken(const HttpRequest& request) {
  const std::string cookies = request.Header("Cookie");
  const std::string key = std::string(kCookie) + "=";
  for (std::size_t at = cookies.find(key); at != std::string::npos; at = cookies.find(key, at + 1)) {
    if (at != 0 && cookies[at - 1] != ' ' && cookies[at - 1] != ';') continue;
    const std::size_t start = at + key.size();
    return cookies.substr(start, cookies.find(';', start) - start);
  }
  return {};
}

bool IsPublic(const std::string& path) {
  return path == "/login" || path == "/login.js" || path == "/style.css" || path == "/api/login" ||
         path == "/favicon.ico";
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat x {}, y {};
  if (a == b) return true;
  return ::stat(a.c_str(), &x) == 0 && ::stat(b.c_str(), &y) == 0 && x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}

bool ChangesSomething(const std::string& method) { return method != "GET" && method != "HEAD"; }

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

// Live news for the page as server-sent events, woken by the board.
class NewsStream : public HttpStream {
 public:
  NewsStream(CameraBoard& board, std::uint64_t after, std::shared_ptr<void> slot)
      : board_(board), after_(after), slot_(std::move(slot)) {}
  ~NewsStream() override {
    if (listener_) board_.Unlisten(listener_);
  }
  void OnReady(std::function<void()> wake) override { listener_ = board_.Listen(std::move(wake)); }
  bool Pull(std::string& out) override {
    for (const BoardNews& news : board_.NewsAfter(after_, std::chrono::milliseconds(0))) {
      out += "id: " + std::to_string(news.number) + "\ndata: " + news.json + "\n\n";
      after_ = news.number;
    }
    const auto now = Clock::now();
    if (out.empty() && now - lastSent_ >= kNewsKeepAlive) out = ": still here\n\n";  // keeps proxies from closing a quiet stream
    if (!out.empty()) lastSent_ = now;
    return true;
  }

 private:
  CameraBoard& board_;
  std::uint64_t after_;
  std::shared_ptr<void> slot_;
  std::uint64_t listener_ = 0;
  Clock::time_point lastSent_ = Clock::now();
};

}  // namespace

bool ThroughProxy(const HttpRequest& request) {
  return request.HasHeader("Forwarded") || request.HasHeader("X-Forwarded-For") || request.HasHeader("Via");
}

bool ParseWebAddress(const std::string& text, std::string& host, int& port) {
  const std::size_t colon = text.rfind(':');
  const std::string portText = colon == std::string::npos ? text : text.substr(colon + 1);
  const std::string hostText = colon == std::string::npos ? "" : text.substr(0, colon);
  if (portText.empty() || portText.size() > 5 ||
      portText.find_first_not_of("0123456789") != std::string::npos)
    return false;
  port = std::stoi(portText);
  if (port > 65535) return false;
  host = hostText.empty() ? "127.0.0.1" : hostText;
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  return true;
}

WebServer::WebServer(WebSettings settings, CameraRecordings& catalog, CameraBoard& board, CameraFeeds& feeds, Say say)
    : settings_(std::move(settings)),
      catalog_(catalog),
      board_(board),
      feeds_(feeds),
      say_(std::move(say)),
      accounts_(settings_.accountsPath),
      thumbnails_(settings_.thumbnailFolder) {}

WebServer::~WebServer() { Stop(); }

std::string WebServer::Url() const {
  const bool tls = !settings_.certFile.empty();
  return std::string(tls ? "https://" : "http://") + settings_.host + ":" + std::to_string(port_) + "/";
}

std::optional<WebSession> WebServer::CallerOf(const HttpRequest& request) {
  const std::string token = CookieToken(request);
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

bool WebServer::Start(std::string& error) {
  std::string cert, key;
  if (!settings_.certFile.empty() || !settings_.keyFile.empty()) {
    // The key is a secret like the cameras' passwords: refused when others may read it.
    if (!ReadPrivateFile(settings_.keyFile, "TLS key file", kMaxPemBytes, key, error)) return false;
    std::ifstream in(settings_.certFile, std::ios::binary);
    cert.assign(std::istreambuf_iterator<char>(in), {});
    if (!in.good() && !in.eof()) cert.clear();
    if (cert.empty() || cert.size() > static_cast<std::size_t>(kMaxPemBytes)) {
      WipeSecret(key);
      error = "Cannot use the certificate " + settings_.certFile + " and key " + settings_.keyFile;
      return false;
    }
  }
  server_ = std::make_unique<HttpServer>(settings_.limits, [](HttpResponse& response, int status, const std::string& reason) {
    SendError(response, status, reason);
  });
  Routes();
  const bool started = server_->Start(settings_.host, settings_.port, cert, key, error);
  WipeSecret(key);
  if (!started) {
    if (!cert.empty()) error = "Cannot use the certificate " + settings_.certFile + " and key " + settings_.keyFile +
                               " on " + settings_.host + ":" + std::to_string(settings_.port);
    server_.reset();
    return false;
  }
  port_ = server_->Port();
  return true;
}

void WebServer::Stop() {
  if (!server_) return;
  stopping_ = true;
  board_.Close();
  server_->Stop();
  server_.reset();
}

bool WebServer::Refused(const HttpRequest& request, HttpResponse& response) {
  // Nothing but the log-in page and its assets answers without a session; a request that changes
  // something must carry the session's CSRF token too.
  if (IsPublic(request.path)) return false;
  const std::optional<WebSession> caller = CallerOf(request);
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

std::shared_ptr<void> WebServer::StreamSlot(const HttpRequest& request, HttpResponse& response, bool live) {
  const std::string session = CookieToken(request);
  std::lock_guard lock(streamsMutex_);
  if (streams_ >= kMaxStreams || (live && liveViewers_ >= kMaxLiveViewers)) {
    SendError(response, 503, live ? "too many live views open; close one" : "too many streams open; close one");
    response.SetHeader("Retry-After", "5");
    return nullptr;
  }
  if (streamsOf_[session] >= kStreamsPerSession) {
    SendError(response, 429, "this session has " + std::to_string(kStreamsPerSession) + " streams open; close one");
    return nullptr;
  }
  ++streams_;
  ++streamsOf_[session];
  if (live) ++liveViewers_;
  struct Slot {
    WebServer* server;
    std::string session;
    bool live;
    ~Slot() {
      std::lock_guard lock(server->streamsMutex_);
      --server->streams_;
      if (--server->streamsOf_[session] == 0) server->streamsOf_.erase(session);
      if (live) --server->liveViewers_;
    }
  };
  return std::shared_ptr<Slot>(new Slot{this, session, live});
}

void WebServer::Routes() {
  HttpServer& server = *server_;
  server.Guard([this](const HttpRequest& q, HttpResponse& r) { return Refused(q, r); });
  server.Finish([](const HttpRequest&, HttpResponse& r) { SecurityHeaders(r); });
  using Handler = HttpServer::Handler;
  auto get = [&](const std::string& pattern, Handler handler, RouteWork work = RouteWork::Pool) {
    server.Route("GET", pattern, std::move(handler), work);
  };
  for (const auto& [path, asset] : WebAssets()) {
    const std::string route = path == "/index.html" ? "/" : path == "/login.html" ? "/login" : std::string(path);
    get(std::regex_replace(route, std::regex("[.]"), "\\."), [&asset = asset](const HttpRequest&, HttpResponse& response) {
      response.SetContent(std::string(asset.body), std::string(asset.type));
    }, RouteWork::Loop);
  }
  server.Route("POST", "/api/login", [this](const HttpRequest& q, HttpResponse& r) { Login(q, r); }, RouteWork::Password,
               kMaxLoginBytes, [this](const HttpRequest& q, HttpResponse& r) { return LogInRefused(q, r); });
  server.Route("POST", "/api/logout", [this](const HttpRequest& q, HttpResponse& r) { Logout(q, r); }, RouteWork::Loop);
  get("/api/session", [this](const HttpRequest& q, HttpResponse& r) { SessionOf(q, r); }, RouteWork::Loop);
  get("/api/cameras", [this](const HttpRequest&, HttpResponse& r) { Cameras(r); });
  get("/api/recordings", [this](const HttpRequest& q, HttpResponse& r) { RecordingList(q, r); });
  get("/api/recordings/" + kRecordingId, [this](const HttpRequest& q, HttpResponse& r) { OneRecording(q, r); });
  server.Route("DELETE", "/api/recordings/" + kRecordingId,
               [this](const HttpRequest& q, HttpResponse& r) { DeleteRecording(q, r); });
  get("/api/recordings/" + kRecordingId + "/download", [this](const HttpRequest& q, HttpResponse& r) { Download(q, r); });
  get("/api/recordings/" + kRecordingId + "/frames", [this](const HttpRequest& q, HttpResponse& r) { Frames(q, r); });
  get("/api/recordings/" + kRecordingId + "/frame/([0-9]{1,9})\\.jpg",
      [this](const HttpRequest& q, HttpResponse& r) { Frame(q, r); });
  get("/api/recordings/" + kRecordingId + "/thumbnail\\.jpg",
      [this](const HttpRequest& q, HttpResponse& r) { ThumbnailOf(q, r); });
  get("/api/recordings/" + kRecordingId + "/video\\.mp4", [this](const HttpRequest& q, HttpResponse& r) { VideoOf(q, r); });
  get("/api/cameras/" + kCameraId + "/live", [this](const HttpRequest& q, HttpResponse& r) { Live(q, r); });
  get("/api/cameras/" + kCameraId + "/snapshot\\.jpg", [this](const HttpRequest& q, HttpResponse& r) { Snapshot(q, r); });
  get("/metrics", [this](const HttpRequest&, HttpResponse& r) { Metrics(r); });
  get("/healthz", [this](const HttpRequest&, HttpResponse& r) { Health(r); });
  get("/api/week", [this](const HttpRequest& q, HttpResponse& r) { Week(q, r); });
  get("/api/events", [this](const HttpRequest& q, HttpResponse& r) { News(q, r); });
}

void WebServer::Logout(const HttpRequest& request, HttpResponse& response) {
  sessions_.Remove(CookieToken(request));
  response.SetHeader("Set-Cookie", std::string(kCookie) + "=; Path=/; Max-Age=0; HttpOnly; SameSite=Strict");
  SendJson(response, {{"ok", true}});
}

void WebServer::SessionOf(const HttpRequest& request, HttpResponse& response) {
  const auto caller = CallerOf(request);
  if (!caller) return SendError(response, 401, "log in first");  // expired since it was checked
  SendJson(response, {{"user", caller->user},
                      {"role", caller->role == Role::Admin ? "admin" : "viewer"},
                      {"csrf", caller->csrf},
                      // The page loads what is, then asks for news after this: nothing in between is lost.
                      {"news", board_.LatestNews()}});
}

namespace {

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
std::string LimitedAddress(const HttpRequest& request) { return ThroughProxy(request) ? std::string() : request.remoteAddress; }

}  // namespace


bool WebServer::LogInRefused(const HttpRequest& request, HttpResponse& response) {
  // On the event loop: a log-in that would be refused never waits for a password check.
  std::string user;
  if (!ReadLogIn(request, response, user, nullptr)) return true;
  const auto wait = limiter_.Waiting(IsAccountName(user) ? user : "?", LimitedAddress(request), Clock::now());
  if (wait.count() == 0) return false;
  TooManyLogIns(response, wait);
  return true;
}

void WebServer::Login(const HttpRequest& request, HttpResponse& response) {
  std::string user, password;
  if (!ReadLogIn(request, response, user, &password)) return;
  const std::string shownUser = IsAccountName(user) ? user : std::string("?");
  const std::string address = request.remoteAddress;
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
    say_("Web page: failed log-in as \"" + shownUser + "\" from " + address);
    SendError(response, 401, "wrong name or password");
    return;
  }
  limiter_.Succeeded(shownUser, limitedAddress, attempt);
  const std::string token = sessions_.Create(user, *role, accounts->Find(user)->hash, Clock::now());
  const auto session = sessions_.Find(token, Clock::now());
  const bool tls = !settings_.certFile.empty();
  response.SetHeader("Set-Cookie", std::string(kCookie) + "=" + token + "; Path=/; Max-Age=" +
                                       std::to_string(std::chrono::seconds(Sessions::kLifetime).count()) +
                                       "; HttpOnly; SameSite=Strict" + (tls ? "; Secure" : ""));
  SendJson(response, {{"user", user}, {"role", *role == Role::Admin ? "admin" : "viewer"}, {"csrf", session->csrf}});
}

void WebServer::Cameras(HttpResponse& response) {
  Json list = Json::array();
  for (const CameraState& camera : board_.Cameras()) {
    const std::shared_ptr<CameraFeed> feed = feeds_.Find(camera.address);
    const int codec = feed ? feed->Stats().codec.load() : 0;
    const char* state = !camera.loggedIn ? "offline" : camera.recording ? "recording" : camera.armed ? "armed"
                                                                                                     : "logged in";
    list.push_back({{"id", camera.id},
                    {"address", camera.address},
                    {"name", camera.address},
                    {"state", state},
                    {"loggedIn", camera.loggedIn},
                    {"video", camera.video},
                    {"armed", camera.armed},
                    {"recording", camera.recording},
                    {"lastEvent", camera.lastEvent},
                    {"codec", codec == AV_CODEC_ID_MJPEG ? "mjpeg" : codec == AV_CODEC_ID_H264 ? "h264" : ""},
                    {"live", "/api/cameras/" + camera.id + "/live"},
                    {"snapshot", "/api/cameras/" + camera.id + "/snapshot.jpg"}});
  }
  SendJson(response, list);
}

std::string WebServer::RecordingJson(const CatalogRecording& recording) {
  const RecordingDetails details = catalog_.Details(recording);
  const std::optional<CatalogCamera> camera = catalog_.Camera(recording.camera);
  const std::string base = "/api/recordings/" + recording.id;
  Json json{{"id", recording.id},
            {"camera", recording.camera},
            {"start", recording.Start() >= 0
                          ? IsoTime(std::chrono::system_clock::from_time_t(recording.Start()), false)
                          : ""},
            {"seconds", details.seconds},
            {"bytes", recording.file.size},
            {"codec", details.ok ? details.codec : "unknown"},
            {"eventSeconds", std::min<double>(details.seconds, camera ? camera->preEventSeconds : 0)},
            {"thumbnail", base + "/thumbnail.jpg"},
            {"download", base + "/download"}};
  if (details.codec == "mjpeg") json["frames"] = base + "/frames";
  else if (details.codec == "h264") json["video"] = base + "/video.mp4";
  return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

void WebServer::RecordingList(const HttpRequest& request, HttpResponse& response) {
  const std::string camera = request.Param("camera");
  const std::string day = request.Param("day");
  if (!catalog_.Camera(camera)) {
    SendError(response, 404, "no such camera");
    return;
  }
  if (!day.empty() && !std::regex_match(day, std::regex("[0-9]{4}-[0-9]{2}-[0-9]{2}"))) {
    SendError(response, 400, "day is YYYY-MM-DD");
    return;
  }
  const std::string pageText = request.Param("page");
  const std::size_t page = pageText.empty() || pageText.size() > 6 || pageText.find_first_not_of("0123456789") !=
                                                                             std::string::npos
                               ? 0
                               : std::stoul(pageText);
  // One read of the folder: the day's recordings, and every day that has some (newest first) for
  // the page's day buttons.
  const CatalogListing listing = catalog_.Listing(camera);
  Json days = Json::array();
  const std::string* lastDay = nullptr;
  std::vector<const CatalogEntry*> all;
  all.reserve(listing->size());
  for (const CatalogEntry& entry : *listing) {
    if (!entry.day.empty() && (!lastDay || *lastDay != entry.day)) {
      days.push_back(entry.day);
      lastDay = &entry.day;
    }
    if (day.empty() || entry.day == day) all.push_back(&entry);
  }
  std::string items;
  for (std::size_t i = page * kPageSize; i < all.size() && i < (page + 1) * kPageSize; ++i) {
    // Looked at now: its size and length, and whether it is still there.
    const std::optional<CatalogRecording> now = catalog_.Find(camera + "~" + all[i]->tail);
    if (now) items += (items.empty() ? "" : ",") + RecordingJson(*now);
  }
  const std::size_t pages = (all.size() + kPageSize - 1) / kPageSize;
  response.SetContent("{\"camera\":" + Json(camera).dump() + ",\"day\":" + Json(day).dump() +
                           ",\"page\":" + std::to_string(page) + ",\"pages\":" + std::to_string(pages) +
                           ",\"total\":" + std::to_string(all.size()) + ",\"days\":" + days.dump() +
                           ",\"recordings\":[" + items + "]}",
                       "application/json");
}

void WebServer::Week(const HttpRequest& request, HttpResponse& response) {
  const std::string camera = request.Param("camera");
  if (!catalog_.Camera(camera)) return SendError(response, 404, "no such camera");
  // The events of the last seven days by hour, as the desktop's week chart counts them: one a
  // recording, at the time in its name.
  const std::time_t now = std::time(nullptr);
  std::vector<RecordingStamp> stamps;
  for (const CatalogEntry& entry : *catalog_.Listing(camera)) stamps.push_back(entry.stamp);
  const auto counts = CountByHour(stamps, DayNumberOf(now - 6 * 86400), 7);
  Json week = Json::array();
  for (int back = 6; back >= 0; --back)
    week.push_back({{"day", DayOf(now - back * 86400)}, {"hours", counts[static_cast<std::size_t>(6 - back)]}});
  SendJson(response, {{"camera", camera}, {"days", week}});
}

void WebServer::OneRecording(const HttpRequest& request, HttpResponse& response) {
  const auto recording = catalog_.Find(request.matches[1]);
  if (!recording) return SendError(response, 404, "no such recording");
  response.SetContent(RecordingJson(*recording), "application/json");
}

void WebServer::DeleteRecording(const HttpRequest& request, HttpResponse& response) {
  const auto caller = CallerOf(request);
  if (!caller) return SendError(response, 401, "log in first");
  if (caller->role != Role::Admin) return SendError(response, 403, "only an admin may delete");
  const auto recording = catalog_.Find(request.matches[1]);
  if (!recording) return SendError(response, 404, "no such recording");
  // The writer would go on into a file nobody can see, and the recording would be lost whole.
  for (const CameraState& camera : board_.Cameras())
    if (camera.recording && !camera.recordingPath.empty() && SameFile(camera.recordingPath, recording->file.path))
      return SendError(response, 409, "this recording is still being made; delete it when it is saved");
  std::string error;
  if (!catalog_.Delete(*recording, error)) return SendError(response, 500, "not deleted: " + error);
  say_("Web page: " + caller->user + " deleted " + recording->file.path);
  SendJson(response, {{"deleted", recording->id}});
}

void WebServer::Download(const HttpRequest& request, HttpResponse& response) {
  const auto recording = catalog_.Find(request.matches[1]);
  std::string error;
  if (!recording) return SendError(response, 404, "no such recording");
  UniqueFd fd = OpenRecordingForReading(recording->file.path, error);
  if (!fd) return SendError(response, 409, "cannot read this recording: " + error);
  const off_t size = ::lseek(fd.Get(), 0, SEEK_END);
  response.SetHeader("Content-Disposition", "attachment; filename=\"" + recording->file.name + "\"");
  response.SetFile(std::move(fd), 0, size, "video/x-msvideo");
}

std::optional<std::pair<CatalogRecording, std::shared_ptr<const FrameIndex>>> WebServer::MjpegOf(
    const HttpRequest& request, HttpResponse& response) {
  auto recording = catalog_.Find(request.matches[1]);
  if (!recording) {
    SendError(response, 404, "no such recording");
    return std::nullopt;
  }
  std::string error;
  auto index = IndexOf(*recording, error);
  if (!index) {
    SendError(response, 409, error);
    return std::nullopt;
  }
  return std::make_pair(std::move(*recording), std::move(index));
}

void WebServer::Frames(const HttpRequest& request, HttpResponse& response) {
  const auto found = MjpegOf(request, response);
  if (!found) return;
  const auto& [recording, indexHeld] = *found;
  const FrameIndex& index = *indexHeld;
  SendJson(response, {{"count", index.offsets.size()},
                      {"fps", index.fps},
                      {"width", index.width},
                      {"height", index.height},
                      {"offsets", index.offsets},
                      {"sizes", index.sizes},
                      {"frame", "/api/recordings/" + recording.id + "/frame/"}});
}

void WebServer::Frame(const HttpRequest& request, HttpResponse& response) {
  const auto found = MjpegOf(request, response);
  if (!found) return;
  const auto& [recording, indexHeld] = *found;
  const FrameIndex& index = *indexHeld;
  std::string error;
  const std::size_t number = std::stoul(request.matches[2]);
  if (number >= index.offsets.size()) return SendError(response, 404, "no such frame");
  UniqueFd fd = OpenRecordingForReading(recording.file.path, error);
  if (!fd) return SendError(response, 409, "cannot read this recording: " + error);
  // A finished recording never changes: the browser may keep its frames.
  response.SetHeader("Cache-Control", "private, max-age=86400, immutable");
  response.SetFile(std::move(fd), index.offsets[number], index.sizes[number], "image/jpeg");
}

std::shared_ptr<const FrameIndex> WebServer::IndexOf(const CatalogRecording& recording, std::string& error) {
  // Read once per recording, not once per frame: a viewer asks for 30 frames a second.
  const std::string key = recording.file.path + "|" + std::to_string(recording.file.size) + "|" +
                          std::to_string(recording.file.modifiedMs);
  {
    std::lock_guard lock(indexesMutex_);
    if (const auto found = indexes_.find(key); found != indexes_.end()) return found->second;
  }
  auto index = std::make_shared<FrameIndex>();
  if (!ReadFrameIndex(recording.file.path, *index, error)) return nullptr;
  if (index->codec != "mjpeg") {
    error = "not a Motion JPEG recording";
    return nullptr;
  }
  std::lock_guard lock(indexesMutex_);
  if (indexes_.size() >= kMaxIndexes) indexes_.erase(indexes_.begin());
  indexes_[key] = index;
  return index;
}

void WebServer::ThumbnailOf(const HttpRequest& request, HttpResponse& response) {
  const auto recording = catalog_.Find(request.matches[1]);
  if (!recording) return SendError(response, 404, "no such recording");
  // The picture a second in, as the desktop's Recordings window shows it.
  const std::string jpeg = thumbnails_.Get(recording->file.path, recording->file.size, recording->file.modifiedMs,
                                           [&] { return EncodeJpeg(MakeThumbnail(recording->file.path, 1.0, 320, 240)); });
  if (jpeg.empty()) return SendError(response, 409, "no picture in this recording");
  response.SetHeader("Cache-Control", "private, max-age=3600");
  response.SetContent(jpeg, "image/jpeg");
}

std::string WebServer::Mp4Of(const CatalogRecording& recording, std::string& error) {
  if (settings_.cacheFolder.empty()) {
    error = "no folder to keep the MP4 in";
    return {};
  }
  const std::string mp4 = settings_.cacheFolder + "/" + recording.id + "-" + std::to_string(recording.file.size) +
                          "-" + std::to_string(recording.file.modifiedMs) + ".mp4";
  std::lock_guard lock(remuxMutex_);
  if (::access(mp4.c_str(), R_OK) == 0) return mp4;
  std::error_code ignored;
  std::filesystem::create_directories(settings_.cacheFolder, ignored);
  ::chmod(settings_.cacheFolder.c_str(), 0700);  // the MP4s are the recordings themselves
  if (!RemuxToMp4(recording.file.path, mp4, error)) return {};
  // The cache stays within its bound: the oldest MP4s go.
  TrimCacheFolder(settings_.cacheFolder, ".mp4", std::numeric_limits<std::size_t>::max(), settings_.cacheBytes,
                  std::filesystem::path(mp4).filename());
  return mp4;
}

void WebServer::VideoOf(const HttpRequest& request, HttpResponse& response) {
  const auto recording = catalog_.Find(request.matches[1]);
  if (!recording) return SendError(response, 404, "no such recording");
  std::string error;
  const std::string mp4 = Mp4Of(*recording, error);
  if (mp4.empty()) return SendError(response, 409, error);
  UniqueFd fd(::open(mp4.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!fd) return SendError(response, 410, "the MP4 made of this recording went away; ask again");
  const off_t size = ::lseek(fd.Get(), 0, SEEK_END);
  response.SetHeader("Cache-Control", "private, max-age=3600");
  response.SetFile(std::move(fd), 0, size, "video/mp4");
}

void WebServer::News(const HttpRequest& request, HttpResponse& response) {
  std::uint64_t after = board_.LatestNews();
  // A reconnecting EventSource names the last news it had; the page's first connection names the
  // news its first load already reflects.
  std::string last = request.Header("Last-Event-ID");
  if (last.empty()) last = request.Param("after");
  if (!last.empty() && last.size() < 20 && last.find_first_not_of("0123456789") == std::string::npos)
    after = std::min<std::uint64_t>(std::stoull(last), after);  // a number from the future would mute the stream
  std::shared_ptr<void> slot = StreamSlot(request, response, false);
  if (!slot) return;
  response.SetHeader("Cache-Control", "no-store");
  response.SetStream(std::make_shared<NewsStream>(board_, after, std::move(slot)), "text/event-stream");
}

}  // namespace zent
