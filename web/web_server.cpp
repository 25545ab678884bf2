#include "web/web_server.h"

#include <fcntl.h>
#include <httplib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>

#include "record/mp4_remux.h"
#include "record/picture_jpeg.h"
#include "record/recording_reader.h"
#include "notify/notices.h"
#include "record/thumbnail.h"
#include "service/credentials.h"
#include "web/http_answers.h"
#include "web/web_assets.h"

namespace zent {
namespace {

using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr char kCookie[] = "zent_session";
constexpr std::size_t kPageSize = 50;
constexpr int kThreads = 64;  // each live news stream holds one
constexpr std::size_t kMaxIndexes = 64;
const std::string kCameraId = "([A-Za-z0-9_-]{1,64})";
const std::string kRecordingId = "([A-Za-z0-9_-]{1,64}~[0-9_-]{1,40})";

void SetHeaderOnce(httplib::Response& response, const char* name, const char* value) {
  if (!response.has_header(name)) response.set_header(name, value);
}

// Every answer, whoever asked: no framing, no guessed types, nothing but our own origin.
void SecurityHeaders(httplib::Response& response) {
  SetHeaderOnce(response, "Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'");
  SetHeaderOnce(response, "X-Content-Type-Options", "nosniff");
  SetHeaderOnce(response, "X-Frame-Options", "DENY");
  SetHeaderOnce(response, "Referrer-Policy", "no-referrer");
  SetHeaderOnce(response, "Cache-Control", "no-store");
}

std::string CookieToken(const httplib::Request& request) {
  const std::string cookies = request.get_header_value("Cookie");
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

bool ChangesSomething(const std::string& method) { return method != "GET" && method != "HEAD"; }

// Serves bytes of an open file, as much as asked for (HTTP Range included).
void SendFileRange(httplib::Response& response, int fd, std::int64_t offset, std::int64_t length,
                   const std::string& type) {
  auto shared = std::make_shared<int>(fd);
  response.set_content_provider(
      static_cast<std::size_t>(length), type,
      [shared, offset](std::size_t from, std::size_t count, httplib::DataSink& sink) {
        char buffer[64 * 1024];
        while (count > 0) {
          const ssize_t n = ::pread(*shared, buffer, std::min(count, sizeof buffer),
                                    static_cast<off_t>(offset + static_cast<std::int64_t>(from)));
          if (n <= 0 || !sink.write(buffer, static_cast<std::size_t>(n))) return false;
          from += static_cast<std::size_t>(n);
          count -= static_cast<std::size_t>(n);
        }
        return true;
      },
      [shared](bool) { ::close(*shared); });
}

}  // namespace

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

WebServer::WebServer(WebSettings settings, RecordingCatalog& catalog, CameraBoard& board, CameraFeeds& feeds, Say say)
    : settings_(std::move(settings)),
      catalog_(catalog),
      board_(board),
      feeds_(feeds),
      say_(std::move(say)),
      thumbnails_(settings_.thumbnailFolder) {}

WebServer::~WebServer() { Stop(); }

std::string WebServer::Url() const {
  const bool tls = !settings_.certFile.empty();
  return std::string(tls ? "https://" : "http://") + settings_.host + ":" + std::to_string(port_) + "/";
}

std::optional<WebSession> WebServer::CallerOf(const httplib::Request& request) {
  return sessions_.Find(CookieToken(request), Clock::now());
}

bool WebServer::Start(std::string& error) {
  if (!settings_.certFile.empty() || !settings_.keyFile.empty()) {
    auto tls = std::make_unique<httplib::SSLServer>(settings_.certFile.c_str(), settings_.keyFile.c_str());
    if (!tls->is_valid()) {
      error = "Cannot use the certificate " + settings_.certFile + " and key " + settings_.keyFile;
      return false;
    }
    server_ = std::move(tls);
  } else {
    server_ = std::make_unique<httplib::Server>();
  }
  server_->new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
  server_->set_payload_max_length(64 * 1024);
  server_->set_read_timeout(10, 0);
  server_->set_write_timeout(10, 0);
  server_->set_keep_alive_max_count(100);
  // An answer's head and body leave as separate writes: with Nagle's algorithm the body waits for
  // the browser's delayed acknowledgement, 40 ms on every request.
  server_->set_tcp_nodelay(true);
  Routes();
  if (settings_.port == 0) {
    port_ = server_->bind_to_any_port(settings_.host);
  } else {
    port_ = server_->bind_to_port(settings_.host, settings_.port) ? settings_.port : -1;
  }
  if (port_ <= 0) {
    error = "Cannot serve the web page on " + settings_.host + ":" + std::to_string(settings_.port) +
            " (the address is not this machine's, or the port is taken)";
    server_.reset();
    return false;
  }
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  return true;
}

void WebServer::Stop() {
  if (!server_) return;
  stopping_ = true;
  board_.Close();
  server_->stop();
  if (thread_.joinable()) thread_.join();
  server_.reset();
}

void WebServer::Routes() {
  httplib::Server& server = *server_;
  // Nothing but the log-in page and its assets answers without a session; a request that changes
  // something must carry the session's CSRF token too.
  server.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
    using Handled = httplib::Server::HandlerResponse;
    if (IsPublic(request.path)) return Handled::Unhandled;
    const std::optional<WebSession> caller = CallerOf(request);
    const bool forMachines = request.path == "/metrics" || request.path == "/healthz";
    if (!caller && forMachines && request.method == "GET" && MachineMayRead(request)) return Handled::Unhandled;
    if (!caller && forMachines) {
      response.set_header("WWW-Authenticate", "Bearer realm=\"zent-recorder\"");
      response.status = 401;
      response.set_content("log in, or send a token made with zent-recorder --add-token\n", "text/plain");
      SecurityHeaders(response);
      return Handled::Handled;
    }
    if (!caller) {
      if (request.path.rfind("/api/", 0) == 0) SendError(response, 401, "log in first");
      else response.set_redirect("/login", 303);
      SecurityHeaders(response);
      return Handled::Handled;
    }
    if (ChangesSomething(request.method) &&
        !SameSecret(request.get_header_value("X-CSRF-Token"), caller->csrf)) {
      SendError(response, 403, "the request lacks this session's X-CSRF-Token");
      SecurityHeaders(response);
      return Handled::Handled;
    }
    return Handled::Unhandled;
  });
  server.set_post_routing_handler([](const httplib::Request&, httplib::Response& response) { SecurityHeaders(response); });
  server.set_error_handler([](const httplib::Request&, httplib::Response& response) {
    if (response.body.empty()) SendError(response, response.status, "not found");
    SecurityHeaders(response);
  });

  for (const auto& [path, asset] : WebAssets()) {
    const std::string route = path == "/index.html" ? "/" : path == "/login.html" ? "/login" : std::string(path);
    server.Get(route, [&asset = asset](const httplib::Request&, httplib::Response& response) {
      response.set_content(asset.body.data(), asset.body.size(), std::string(asset.type));
    });
  }
  server.Post("/api/login", [this](const httplib::Request& q, httplib::Response& r) { Login(q, r); });
  server.Post("/api/logout", [this](const httplib::Request& q, httplib::Response& r) {
    sessions_.Remove(CookieToken(q));
    r.set_header("Set-Cookie", std::string(kCookie) + "=; Path=/; Max-Age=0; HttpOnly; SameSite=Strict");
    SendJson(r, {{"ok", true}});
  });
  server.Get("/api/session", [this](const httplib::Request& q, httplib::Response& r) {
    const auto caller = CallerOf(q);
    if (!caller) return SendError(r, 401, "log in first");  // expired since it was checked
    SendJson(r, {{"user", caller->user},
                 {"role", caller->role == Role::Admin ? "admin" : "viewer"},
                 {"csrf", caller->csrf},
                 // The page loads what is, then asks for news after this: nothing in between is lost.
                 {"news", board_.LatestNews()}});
  });
  server.Get("/api/cameras", [this](const httplib::Request&, httplib::Response& r) { Cameras(r); });
  server.Get("/api/recordings", [this](const httplib::Request& q, httplib::Response& r) { RecordingList(q, r); });
  server.Get("/api/recordings/" + kRecordingId, [this](const httplib::Request& q, httplib::Response& r) {
    OneRecording(q, r);
  });
  server.Delete("/api/recordings/" + kRecordingId, [this](const httplib::Request& q, httplib::Response& r) {
    DeleteRecording(q, r);
  });
  server.Get("/api/recordings/" + kRecordingId + "/download",
             [this](const httplib::Request& q, httplib::Response& r) { Download(q, r); });
  server.Get("/api/recordings/" + kRecordingId + "/frames",
             [this](const httplib::Request& q, httplib::Response& r) { Frames(q, r); });
  server.Get("/api/recordings/" + kRecordingId + "/frame/([0-9]{1,9})\\.jpg",
             [this](const httplib::Request& q, httplib::Response& r) { Frame(q, r); });
  server.Get("/api/recordings/" + kRecordingId + "/thumbnail.jpg",
             [this](const httplib::Request& q, httplib::Response& r) { ThumbnailOf(q, r); });
  server.Get("/api/recordings/" + kRecordingId + "/video.mp4",
             [this](const httplib::Request& q, httplib::Response& r) { VideoOf(q, r); });
  server.Get("/api/cameras/" + kCameraId + "/live", [this](const httplib::Request& q, httplib::Response& r) { Live(q, r); });
  server.Get("/api/cameras/" + kCameraId + "/snapshot.jpg",
             [this](const httplib::Request& q, httplib::Response& r) { Snapshot(q, r); });
  server.Get("/metrics", [this](const httplib::Request&, httplib::Response& r) { Metrics(r); });
  server.Get("/healthz", [this](const httplib::Request&, httplib::Response& r) { Health(r); });
  server.Get("/api/week", [this](const httplib::Request& q, httplib::Response& r) { Week(q, r); });
  server.Get("/api/events", [this](const httplib::Request& q, httplib::Response& r) { News(q, r); });
}

void WebServer::Login(const httplib::Request& request, httplib::Response& response) {
  const std::string address = request.remote_addr;
  if (const auto wait = limiter_.Wait(address, Clock::now()); wait.count() > 0) {
    response.set_header("Retry-After", std::to_string(wait.count()));
    SendError(response, 429, "too many failed log-ins; try again in " + std::to_string(wait.count()) + " s");
    return;
  }
  const Json body = Json::parse(request.body, nullptr, false);
  if (!body.is_object() || !body.contains("user") || !body.contains("password") || !body["user"].is_string() ||
      !body["password"].is_string()) {
    SendError(response, 400, "send {\"user\": …, \"password\": …}");
    return;
  }
  const std::string user = body["user"];
  std::string password = body["password"];
  // The accounts are read at each log-in, so an account added with --add-user works at once.
  Accounts accounts;
  std::string error;
  std::optional<Role> role;
  if (accounts.Load(settings_.accountsPath, error)) role = accounts.Verify(user, password);
  else say_("Web page: " + error);
  WipeSecret(password);
  if (!role) {
    limiter_.Failed(address, Clock::now());
    say_("Web page: failed log-in as \"" + (IsAccountName(user) ? user : std::string("?")) + "\" from " + address);
    SendError(response, 401, "wrong name or password");
    return;
  }
  limiter_.Succeeded(address);
  const std::string token = sessions_.Create(user, *role, Clock::now());
  const auto session = sessions_.Find(token, Clock::now());
  const bool tls = !settings_.certFile.empty();
  response.set_header("Set-Cookie", std::string(kCookie) + "=" + token + "; Path=/; Max-Age=" +
                                        std::to_string(std::chrono::seconds(Sessions::kLifetime).count()) +
                                        "; HttpOnly; SameSite=Strict" + (tls ? "; Secure" : ""));
  SendJson(response, {{"user", user}, {"role", *role == Role::Admin ? "admin" : "viewer"}, {"csrf", session->csrf}});
}

void WebServer::Cameras(httplib::Response& response) {
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

void WebServer::RecordingList(const httplib::Request& request, httplib::Response& response) {
  const std::string camera = request.get_param_value("camera");
  const std::string day = request.get_param_value("day");
  if (!catalog_.Camera(camera)) {
    SendError(response, 404, "no such camera");
    return;
  }
  if (!day.empty() && !std::regex_match(day, std::regex("[0-9]{4}-[0-9]{2}-[0-9]{2}"))) {
    SendError(response, 400, "day is YYYY-MM-DD");
    return;
  }
  const std::string pageText = request.get_param_value("page");
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
  response.set_content("{\"camera\":" + Json(camera).dump() + ",\"day\":" + Json(day).dump() +
                           ",\"page\":" + std::to_string(page) + ",\"pages\":" + std::to_string(pages) +
                           ",\"total\":" + std::to_string(all.size()) + ",\"days\":" + days.dump() +
                           ",\"recordings\":[" + items + "]}",
                       "application/json");
}

void WebServer::Week(const httplib::Request& request, httplib::Response& response) {
  const std::string camera = request.get_param_value("camera");
  if (!catalog_.Camera(camera)) return SendError(response, 404, "no such camera");
  // The events of the last seven days by hour, as the desktop's week chart counts them: one a
  // recording, at the time in its name.
  const std::time_t now = std::time(nullptr);
  std::vector<std::string> days;
  for (int back = 6; back >= 0; --back) days.push_back(DayOf(now - back * 86400));
  std::map<std::string, std::vector<int>> counts;
  for (const std::string& day : days) counts[day] = std::vector<int>(24, 0);
  for (const CatalogEntry& entry : *catalog_.Listing(camera)) {
    const auto found = counts.find(entry.day);
    if (found == counts.end()) continue;
    // The hour as the name says it: "YYYYMMDD_HH…".
    const int hour = std::atoi(entry.tail.substr(9, 2).c_str());
    if (hour >= 0 && hour < 24) ++found->second[static_cast<std::size_t>(hour)];
  }
  Json week = Json::array();
  for (const std::string& day : days) week.push_back({{"day", day}, {"hours", counts[day]}});
  SendJson(response, {{"camera", camera}, {"days", week}});
}

void WebServer::OneRecording(const httplib::Request& request, httplib::Response& response) {
  const auto recording = catalog_.Find(request.matches[1]);
  if (!recording) return SendError(response, 404, "no such recording");
  response.set_content(RecordingJson(*recording), "application/json");
}

void WebServer::DeleteRecording(const httplib::Request& request, httplib::Response& response) {
  const auto caller = CallerOf(request);
  if (!caller) return SendError(response, 401, "log in first");
  if (caller->role != Role::Admin) return SendError(response, 403, "only an admin may delete");
  const auto recording = catalog_.Find(request.matches[1]);
  if (!recording) return SendError(response, 404, "no such recording");
  std::string error;
  if (!catalog_.Delete(*recording, error)) return SendError(response, 500, "not deleted: " + error);
  say_("Web page: " + caller->user + " deleted " + recording->file.path);
  SendJson(response, {{"deleted", recording->id}});
}

void WebServer::Download(const httplib::Request& request, httplib::Response& response) {
  const auto recording = catalog_.Find(request.matches[1]);
  std::string error;
  UniqueFd fd = recording ? OpenRecordingForReading(recording->file.path, error) : UniqueFd();
  if (!fd) return SendError(response, 404, "no such recording");
  const off_t size = ::lseek(fd.Get(), 0, SEEK_END);
  response.set_header("Content-Disposition", "attachment; filename=\"" + recording->file.name + "\"");
  SendFileRange(response, fd.Release(), 0, size, "video/x-msvideo");
}

std::optional<std::pair<CatalogRecording, std::shared_ptr<const FrameIndex>>> WebServer::MjpegOf(
    const httplib::Request& request, httplib::Response& response) {
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

void WebServer::Frames(const httplib::Request& request, httplib::Response& response) {
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

void WebServer::Frame(const httplib::Request& request, httplib::Response& response) {
  const auto found = MjpegOf(request, response);
  if (!found) return;
  const auto& [recording, indexHeld] = *found;
  const FrameIndex& index = *indexHeld;
  std::string error;
  const std::size_t number = std::stoul(request.matches[2]);
  if (number >= index.offsets.size()) return SendError(response, 404, "no such frame");
  UniqueFd fd = OpenRecordingForReading(recording.file.path, error);
  if (!fd) return SendError(response, 404, "no such recording");
  // A finished recording never changes: the browser may keep its frames.
  response.set_header("Cache-Control", "private, max-age=86400, immutable");
  SendFileRange(response, fd.Release(), index.offsets[number], index.sizes[number], "image/jpeg");
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

void WebServer::ThumbnailOf(const httplib::Request& request, httplib::Response& response) {
  const auto recording = catalog_.Find(request.matches[1]);
  if (!recording) return SendError(response, 404, "no such recording");
  // The picture a second in, as the desktop's Recordings window shows it.
  const std::string jpeg = thumbnails_.Get(recording->file.path, recording->file.size, recording->file.modifiedMs,
                                           [&] { return EncodeJpeg(MakeThumbnail(recording->file.path, 1.0, 320, 240)); });
  if (jpeg.empty()) return SendError(response, 409, "no picture in this recording");
  response.set_header("Cache-Control", "private, max-age=3600");
  response.set_content(jpeg, "image/jpeg");
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
  std::vector<std::filesystem::directory_entry> files;
  std::int64_t total = 0;
  for (const auto& entry : std::filesystem::directory_iterator(settings_.cacheFolder, ignored)) {
    if (!entry.is_regular_file(ignored) || entry.path().extension() != ".mp4") continue;
    files.push_back(entry);
    total += static_cast<std::int64_t>(entry.file_size(ignored));
  }
  std::sort(files.begin(), files.end(),
            [](const auto& a, const auto& b) { return a.last_write_time() < b.last_write_time(); });
  for (const auto& file : files) {
    if (total <= settings_.cacheBytes || file.path() == mp4) break;
    total -= static_cast<std::int64_t>(file.file_size(ignored));
    std::filesystem::remove(file.path(), ignored);
  }
  return mp4;
}

void WebServer::VideoOf(const httplib::Request& request, httplib::Response& response) {
  const auto recording = catalog_.Find(request.matches[1]);
  if (!recording) return SendError(response, 404, "no such recording");
  std::string error;
  const std::string mp4 = Mp4Of(*recording, error);
  if (mp4.empty()) return SendError(response, 409, error);
  const int fd = ::open(mp4.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return SendError(response, 404, "the MP4 went away");
  const off_t size = ::lseek(fd, 0, SEEK_END);
  response.set_header("Cache-Control", "private, max-age=3600");
  SendFileRange(response, fd, 0, size, "video/mp4");
}

void WebServer::News(const httplib::Request& request, httplib::Response& response) {
  std::uint64_t after = board_.LatestNews();
  // A reconnecting EventSource names the last news it had; the page's first connection names the
  // news its first load already reflects.
  std::string last = request.get_header_value("Last-Event-ID");
  if (last.empty()) last = request.get_param_value("after");
  if (!last.empty() && last.size() < 20 && last.find_first_not_of("0123456789") == std::string::npos)
    after = std::min<std::uint64_t>(std::stoull(last), after);  // a number from the future would mute the stream
  response.set_header("Cache-Control", "no-store");
  response.set_chunked_content_provider("text/event-stream", [this, after](std::size_t, httplib::DataSink& sink) mutable {
    if (stopping_) return false;
    std::string text;
    for (const BoardNews& news : board_.NewsAfter(after, std::chrono::seconds(15))) {
      text += "id: " + std::to_string(news.number) + "\ndata: " + news.json + "\n\n";
      after = news.number;
    }
    if (text.empty()) text = ": still here\n\n";  // keeps proxies from closing a quiet stream
    return !stopping_ && sink.write(text.data(), text.size());
  });
}

}  // namespace zent
