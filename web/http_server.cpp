#include "web/http_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netdb.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <cstring>
#include <cstdarg>
#include <map>
#include <mutex>
#include <optional>
#include <regex>
#include <set>
#include <thread>

#include "web/job_pool.h"

namespace zent {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kStreamBlock = 16 * 1024;
constexpr unsigned kListenBacklog = 64;
constexpr auto kDeadlineCheck = std::chrono::milliseconds(250);

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string Find(const std::vector<std::pair<std::string, std::string>>& list, std::string_view name, bool anyCase) {
  for (const auto& [key, value] : list)
    if (anyCase ? SameName(key, name) : key == name) return value;
  return {};
}

struct RouteEntry {
  std::string method;
  std::regex pattern;
  HttpServer::Handler handler;
  RouteWork work;
  std::size_t maxBody;
  HttpServer::Screen screen;
};

// One request from its head to its answer.
struct Exchange {
  HttpRequest request;
  const RouteEntry* route = nullptr;
  bool answered = false;
  bool bodyTooLarge = false;
  bool working = false;  // suspended while a worker makes the answer
  std::mutex mutex;
  std::optional<HttpResponse> made;  // the worker's answer
};

void DiscardLog(void*, const char*, va_list) {}

}  // namespace

// A streamed answer's side of the event loop: parked (suspended) while its stream has nothing,
// woken by the stream or the server's tick.
struct StreamState {
  std::shared_ptr<HttpStream> stream;
  MHD_Connection* connection = nullptr;
  const std::atomic<bool>* stopping = nullptr;
  std::string pending;
  std::size_t sent = 0;
  bool over = false;
  std::mutex mutex;  // for what follows
  bool suspended = false, ready = false, closed = false;

  void Wake() {
    std::lock_guard lock(mutex);
    ready = true;
    if (suspended && !closed) {
      suspended = false;
      MHD_resume_connection(connection);
    }
  }
};

struct HttpServer::State {
  State(HttpLimits limits, ErrorAnswer error) : limits(limits), error(std::move(error)) {}

  const HttpLimits limits;
  const ErrorAnswer error;
  std::vector<RouteEntry> routes;
  std::function<bool(const HttpRequest&, HttpResponse&)> guard;
  std::function<void(const HttpRequest&, HttpResponse&)> finish;
  MHD_Daemon* daemon = nullptr;
  std::unique_ptr<JobPool> pool, passwords;
  std::atomic<bool> stopping{false};

  // Each connection's socket, and since when it has been waiting for a request's head.
  struct Open {
    int fd = -1;
    std::optional<Clock::time_point> headSince;
  };
  std::mutex connectionsMutex;
  std::map<MHD_Connection*, Open> connections;

  std::mutex streamsMutex;
  std::set<std::shared_ptr<StreamState>> streams;

  std::mutex tickMutex;
  std::condition_variable tickWake;
  std::thread ticker;

  void Tick();
  MHD_Result Begin(MHD_Connection* connection, Exchange& exchange);
  MHD_Result Answer(MHD_Connection* connection, Exchange& exchange);
  MHD_Result Send(MHD_Connection* connection, Exchange& exchange, HttpResponse response);
  MHD_Result Refuse(MHD_Connection* connection, Exchange& exchange, int status, const std::string& reason) {
    HttpResponse response;
    error(response, status, reason);
    return Send(connection, exchange, std::move(response));
  }
  void HeadWaiting(MHD_Connection* connection, bool waiting) {
    std::lock_guard lock(connectionsMutex);
    const auto found = connections.find(connection);
    if (found == connections.end()) return;
    if (waiting) found->second.headSince = Clock::now();
    else found->second.headSince.reset();
  }

  static MHD_Result OnAccess(void* cls, MHD_Connection* connection, const char* url, const char* method,
                             const char* version, const char* upload, std::size_t* uploadSize, void** context);
  static void OnCompleted(void* cls, MHD_Connection* connection, void** context, MHD_RequestTerminationCode);
  static void OnConnection(void* cls, MHD_Connection* connection, void** socketContext,
                           MHD_ConnectionNotificationCode code);
  static ssize_t ReadStream(void* cls, std::uint64_t, char* buffer, std::size_t max);
  static void FreeStream(void* cls);
};

std::string HttpRequest::Header(std::string_view name) const { return Find(headers, name, true); }

bool HttpRequest::HasHeader(std::string_view name) const {
  return std::any_of(headers.begin(), headers.end(), [&](const auto& h) { return SameName(h.first, name); });
}

std::string HttpRequest::Param(std::string_view name) const { return Find(query, name, false); }

void HttpResponse::SetHeader(const std::string& name, const std::string& value) {
  for (auto& header : headers_) {
    if (SameName(header.first, name)) {
      header.second = value;
      return;
    }
  }
  headers_.emplace_back(name, value);
}

bool HttpResponse::HasHeader(std::string_view name) const {
  return std::any_of(headers_.begin(), headers_.end(), [&](const auto& h) { return SameName(h.first, name); });
}

std::string HttpResponse::Header(std::string_view name) const { return Find(headers_, name, true); }

void HttpResponse::SetContent(std::string body, const std::string& type) {
  body_ = std::move(body);
  file_.Reset();
  stream_.reset();
  SetHeader("Content-Type", type);
}

void HttpResponse::SetFile(UniqueFd fd, std::int64_t offset, std::int64_t length, const std::string& type) {
  body_.clear();
  file_ = std::move(fd);
  fileOffset_ = offset;
  fileLength_ = length;
  stream_.reset();
  SetHeader("Content-Type", type);
}

void HttpResponse::SetStream(std::shared_ptr<HttpStream> stream, const std::string& type) {
  body_.clear();
  file_.Reset();
  stream_ = std::move(stream);
  SetHeader("Content-Type", type);
}

void HttpResponse::Redirect(const std::string& location, int code) {
  status = code;
  SetHeader("Location", location);
}

ByteRange RangeOf(const std::string& header, std::int64_t size) {
  ByteRange whole;
  if (header.rfind("bytes=", 0) != 0) return whole;  // another unit: the whole answer, as the standard says
  const std::size_t comma = header.find(',');
  std::string asked = header.substr(6, comma == std::string::npos ? std::string::npos : comma - 6);
  asked.erase(std::remove_if(asked.begin(), asked.end(), [](char c) { return c == ' ' || c == '\t'; }), asked.end());
  const std::size_t dash = asked.find('-');
  if (dash == std::string::npos) return whole;
  const std::string from = asked.substr(0, dash), to = asked.substr(dash + 1);
  auto number = [](const std::string& text, std::int64_t& value) {
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    value = std::stoll(text);
    return true;
  };
  std::int64_t first = 0, last = 0;
  ByteRange range;
  if (from.empty()) {  // the last N bytes
    if (!number(to, last)) return whole;
    if (last == 0 || size == 0) return {ByteRange::Kind::Unsatisfiable, 0, 0};
    range.first = std::max<std::int64_t>(0, size - last);
  } else {
    if (!number(from, first) || (!to.empty() && (!number(to, last) || last < first))) return whole;
    if (first >= size) return {ByteRange::Kind::Unsatisfiable, 0, 0};
    range.first = first;
    if (!to.empty()) last = std::min(last, size - 1);
  }
  const std::int64_t end = from.empty() || to.empty() ? size - 1 : last;
  range.kind = ByteRange::Kind::Part;
  range.length = end - range.first + 1;
  return range;
}

unsigned WebConnectionLimit(std::uint64_t openFiles, std::size_t cameras) {
  // A camera holds its event and video sockets, its recording and what FFmpeg opens; the process
  // its libraries, logs and notifications.
  const std::uint64_t reserved = 64 + 16 * static_cast<std::uint64_t>(cameras);
  if (openFiles <= reserved + 32) return 16;
  return static_cast<unsigned>(std::min<std::uint64_t>(1000, (openFiles - reserved) / 2));
}

std::uint64_t RaiseOpenFileLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1024;
  if (limit.rlim_cur < limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  return limit.rlim_cur == RLIM_INFINITY ? 1u << 20 : limit.rlim_cur;
}

HttpServer::HttpServer(HttpLimits limits, ErrorAnswer error)
    : state_(std::make_unique<State>(limits, std::move(error))) {}

HttpServer::~HttpServer() { Stop(); }

void HttpServer::Route(const std::string& method, const std::string& pattern, Handler handler, RouteWork work,
                       std::size_t maxBody, Screen screen) {
  state_->routes.push_back({method, std::regex(pattern), std::move(handler), work, maxBody, std::move(screen)});
}

void HttpServer::Guard(std::function<bool(const HttpRequest&, HttpResponse&)> guard) {
  state_->guard = std::move(guard);
}

void HttpServer::Finish(std::function<void(const HttpRequest&, HttpResponse&)> finish) {
  state_->finish = std::move(finish);
}

bool HttpServer::Start(const std::string& host, int port, const std::string& certPem, const std::string& keyPem,
                       std::string& error) {
  State& s = *state_;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || !found) {
    error = "Cannot serve the web page on " + host + ":" + service + " (no such address)";
    return false;
  }
  sockaddr_storage address{};
  std::memcpy(&address, found->ai_addr, std::min<std::size_t>(found->ai_addrlen, sizeof address));
  const bool v6 = found->ai_family == AF_INET6;
  ::freeaddrinfo(found);

  unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ERROR_LOG;
  if (v6) flags |= MHD_USE_IPv6;
  const bool tls = !certPem.empty();
  if (tls) flags |= MHD_USE_TLS;
  std::vector<MHD_OptionItem> options{
      {MHD_OPTION_SOCK_ADDR, 0, &address},
      {MHD_OPTION_CONNECTION_LIMIT, static_cast<intptr_t>(s.limits.connections), nullptr},
      {MHD_OPTION_PER_IP_CONNECTION_LIMIT, static_cast<intptr_t>(s.limits.connectionsPerAddress), nullptr},
      {MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(s.limits.headBytes), nullptr},
      {MHD_OPTION_CONNECTION_TIMEOUT, static_cast<intptr_t>(s.limits.idleTimeout.count()), nullptr},
      {MHD_OPTION_LISTEN_BACKLOG_SIZE, kListenBacklog, nullptr},
      {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&State::OnCompleted), &s},
      {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&State::OnConnection), &s},
      // What strangers send wrong is theirs: nothing of it reaches the status lines.
      {MHD_OPTION_EXTERNAL_LOGGER, reinterpret_cast<intptr_t>(&DiscardLog), nullptr},
  };
  if (tls) {
    options.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(certPem.c_str())});
    options.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(keyPem.c_str())});
    options.push_back(
        {MHD_OPTION_HTTPS_PRIORITIES, 0, const_cast<char*>("NORMAL:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2")});
  }
  options.push_back({MHD_OPTION_END, 0, nullptr});

  s.pool = std::make_unique<JobPool>(s.limits.workers, s.limits.queuedJobs);
  s.passwords = std::make_unique<JobPool>(s.limits.passwordWorkers, s.limits.queuedPasswordJobs);
  s.daemon = MHD_start_daemon(flags, static_cast<std::uint16_t>(port), nullptr, nullptr, &State::OnAccess, &s,
                              MHD_OPTION_ARRAY, options.data(), MHD_OPTION_END);
  if (!s.daemon) {
    s.pool.reset();
    s.passwords.reset();
    error = "Cannot serve the web page on " + host + ":" + service +
            (tls ? " (the address is not this machine's, the port is taken, or the certificate and key do not fit)"
                 : " (the address is not this machine's, or the port is taken)");
    return false;
  }
  const MHD_DaemonInfo* info = MHD_get_daemon_info(s.daemon, MHD_DAEMON_INFO_BIND_PORT);
  port_ = info ? info->port : port;
  s.ticker = std::thread([&s] { s.Tick(); });
  return true;
}

void HttpServer::Stop() {
  State& s = *state_;
  if (!s.daemon) return;
  s.stopping = true;
  // Answers being made end first: each resumes its connection with what it made.
  s.pool->Stop();
  s.passwords->Stop();
  {
    std::lock_guard lock(s.tickMutex);
    s.tickWake.notify_all();
  }
  s.ticker.join();
  // Parked streams are woken to find the server stopping; none parks again.
  std::vector<std::shared_ptr<StreamState>> streams;
  {
    std::lock_guard lock(s.streamsMutex);
    streams.assign(s.streams.begin(), s.streams.end());
  }
  for (const auto& stream : streams) stream->Wake();
  MHD_stop_daemon(s.daemon);
  s.daemon = nullptr;
}

void HttpServer::State::Tick() {
  auto nextStreamTick = Clock::now() + limits.streamTick;
  std::unique_lock lock(tickMutex);
  while (!stopping) {
    tickWake.wait_for(lock, kDeadlineCheck);
    if (stopping) break;
    const auto now = Clock::now();
    {
      // A client that sends its head a byte at a time holds a connection no longer than the deadline.
      // The socket is shut, not closed: the event loop finds it ended and closes it itself.
      std::lock_guard connectionsLock(connectionsMutex);
      for (auto& [connection, open] : connections) {
        if (!open.headSince || now - *open.headSince < limits.headDeadline) continue;
        ::shutdown(open.fd, SHUT_RDWR);
        open.headSince.reset();
      }
    }
    if (now < nextStreamTick) continue;
    nextStreamTick = now + limits.streamTick;
    std::vector<std::shared_ptr<StreamState>> woken;
    {
      std::lock_guard streamsLock(streamsMutex);
      woken.assign(streams.begin(), streams.end());
    }
    for (const auto& stream : woken) stream->Wake();
  }
}

void HttpServer::State::OnConnection(void* cls, MHD_Connection* connection, void**,
                                     MHD_ConnectionNotificationCode code) {
  auto& s = *static_cast<State*>(cls);
  std::lock_guard lock(s.connectionsMutex);
  if (code == MHD_CONNECTION_NOTIFY_STARTED) {
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    s.connections[connection] = {info ? info->connect_fd : -1, Clock::now()};
  } else {
    // Called before the socket is closed: the tick never shuts a descriptor that is someone else's.
    s.connections.erase(connection);
  }
}

void HttpServer::State::OnCompleted(void* cls, MHD_Connection* connection, void** context, MHD_RequestTerminationCode) {
  auto& s = *static_cast<State*>(cls);
  delete static_cast<Exchange*>(*context);
  *context = nullptr;
  s.HeadWaiting(connection, true);  // the next request's head, on a connection kept alive
}

MHD_Result HttpServer::State::OnAccess(void* cls, MHD_Connection* connection, const char* url, const char* method,
                                       const char*, const char* upload, std::size_t* uploadSize, void** context) {
  auto& s = *static_cast<State*>(cls);
  auto* exchange = static_cast<Exchange*>(*context);
  if (!exchange) {
    exchange = new Exchange;
    *context = exchange;
    s.HeadWaiting(connection, false);
    HttpRequest& request = exchange->request;
    request.method = method;
    request.path = url;
    if (const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS)) {
      char text[INET6_ADDRSTRLEN] = {};
      const sockaddr* address = info->client_addr;
      if (address->sa_family == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
      else if (address->sa_family == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text, sizeof text);
      request.remoteAddress = text;
    }
    auto collect = [](void* list, MHD_ValueKind, const char* key, const char* value) {
      static_cast<std::vector<std::pair<std::string, std::string>>*>(list)->emplace_back(key ? key : "",
                                                                                         value ? value : "");
      return MHD_YES;
    };
    MHD_get_connection_values(connection, MHD_HEADER_KIND, collect, &request.headers);
    MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, collect, &request.query);
    return s.Begin(connection, *exchange);
  }
  if (exchange->answered) {
    *uploadSize = 0;
    return MHD_YES;
  }
  if (*uploadSize > 0) {
    const std::size_t room = exchange->route && exchange->route->maxBody > exchange->request.body.size()
                                 ? exchange->route->maxBody - exchange->request.body.size()
                                 : 0;
    if (*uploadSize > room) exchange->bodyTooLarge = true;
    else exchange->request.body.append(upload, *uploadSize);
    *uploadSize = 0;
    return MHD_YES;
  }
  return s.Answer(connection, *exchange);
}

// The head is in: whatever can be refused is refused now, before a body is read.
MHD_Result HttpServer::State::Begin(MHD_Connection* connection, Exchange& exchange) {
  HttpRequest& request = exchange.request;
  if (request.headers.size() > static_cast<std::size_t>(limits.headerLines))
    return Refuse(connection, exchange, 431, "too many header lines");
  if (stopping) return Refuse(connection, exchange, 503, "the server is stopping");
  if (guard) {
    HttpResponse response;
    if (guard(request, response)) return Send(connection, exchange, std::move(response));
  }
  const std::string method = request.method == "HEAD" ? "GET" : request.method;
  bool pathKnown = false;
  for (const RouteEntry& route : routes) {
    std::smatch match;
    if (!std::regex_match(request.path, match, route.pattern)) continue;
    pathKnown = true;
    if (route.method != method) continue;
    exchange.route = &route;
    for (const auto& group : match) request.matches.push_back(group.str());
    break;
  }
  if (!exchange.route)
    return Refuse(connection, exchange, pathKnown ? 405 : 404, pathKnown ? "method not allowed" : "not found");
  const std::size_t maxBody = exchange.route->maxBody;
  if (request.HasHeader("Transfer-Encoding"))
    return maxBody == 0 ? Refuse(connection, exchange, 413, "this request takes no body")
                        : Refuse(connection, exchange, 411, "send the body with a Content-Length");
  const std::string length = request.Header("Content-Length");
  if (!length.empty()) {
    if (length.size() > 18 || length.find_first_not_of("0123456789") != std::string::npos)
      return Refuse(connection, exchange, 400, "the Content-Length is not a number");
    const std::uint64_t bytes = std::stoull(length);
    if (bytes > 0 && maxBody == 0) return Refuse(connection, exchange, 413, "this request takes no body");
    if (bytes > maxBody)
      return Refuse(connection, exchange, 413, "the body is larger than " + std::to_string(maxBody) + " bytes");
  }
  return MHD_YES;
}

// The whole request is in (or a worker has made the answer).
MHD_Result HttpServer::State::Answer(MHD_Connection* connection, Exchange& exchange) {
  if (exchange.working) {
    std::optional<HttpResponse> made;
    {
      std::lock_guard lock(exchange.mutex);
      made = std::move(exchange.made);
    }
    exchange.working = false;
    if (!made) return Refuse(connection, exchange, 500, "no answer was made");
    return Send(connection, exchange, std::move(*made));
  }
  if (exchange.bodyTooLarge)
    return Refuse(connection, exchange, 413,
                  "the body is larger than " + std::to_string(exchange.route->maxBody) + " bytes");
  const RouteEntry& route = *exchange.route;
  if (route.screen) {
    HttpResponse response;
    if (route.screen(exchange.request, response)) return Send(connection, exchange, std::move(response));
  }
  if (route.work == RouteWork::Loop) {
    HttpResponse response;
    route.handler(exchange.request, response);
    return Send(connection, exchange, std::move(response));
  }
  // Parked until a worker has made the answer; a full queue is answered at once.
  exchange.working = true;
  MHD_suspend_connection(connection);
  Exchange* held = &exchange;
  const bool password = route.work == RouteWork::Password;
  auto job = [this, held, connection](bool cancelled) {
    HttpResponse response;
    if (cancelled) error(response, 503, "the server is stopping");
    else held->route->handler(held->request, response);
    {
      std::lock_guard lock(held->mutex);
      held->made = std::move(response);
    }
    MHD_resume_connection(connection);
  };
  if (!(password ? passwords : pool)->Post(job)) {
    HttpResponse busy;
    error(busy, 503, password ? "too many log-ins at once; try again in a moment" : "too busy; try again in a moment");
    busy.SetHeader("Retry-After", password ? "2" : "1");
    {
      std::lock_guard lock(exchange.mutex);
      exchange.made = std::move(busy);
    }
    MHD_resume_connection(connection);
  }
  return MHD_YES;
}

MHD_Result HttpServer::State::Send(MHD_Connection* connection, Exchange& exchange, HttpResponse response) {
  exchange.answered = true;
  const HttpRequest& request = exchange.request;
  // A Range is served from a whole answer of known length; several ranges get the first.
  const bool ranged = response.status == 200 && !response.stream_ && request.HasHeader("Range") &&
                      (request.method == "GET" || request.method == "HEAD");
  const std::int64_t size = response.file_ ? response.fileLength_ : static_cast<std::int64_t>(response.body_.size());
  if (ranged) {
    const ByteRange range = RangeOf(request.Header("Range"), size);
    if (range.kind == ByteRange::Kind::Unsatisfiable) {
      response = HttpResponse();
      error(response, 416, "the range asked for is outside the answer's " + std::to_string(size) + " bytes");
      response.SetHeader("Content-Range", "bytes */" + std::to_string(size));
    } else if (range.kind == ByteRange::Kind::Part) {
      response.status = 206;
      response.SetHeader("Content-Range", "bytes " + std::to_string(range.first) + "-" +
                                              std::to_string(range.first + range.length - 1) + "/" +
                                              std::to_string(size));
      if (response.file_) {
        response.fileOffset_ += range.first;
        response.fileLength_ = range.length;
      } else {
        response.body_ =
            response.body_.substr(static_cast<std::size_t>(range.first), static_cast<std::size_t>(range.length));
      }
    }
  }
  if (response.file_ && !response.HasHeader("Accept-Ranges")) response.SetHeader("Accept-Ranges", "bytes");
  if (finish) finish(request, response);

  MHD_Response* answer = nullptr;
  if (response.stream_) {
    auto state = std::make_shared<StreamState>();
    state->stream = response.stream_;
    state->connection = connection;
    state->stopping = &stopping;
    {
      std::lock_guard lock(streamsMutex);
      streams.insert(state);
    }
    std::weak_ptr<StreamState> weak = state;
    state->stream->OnReady([weak] {
      if (auto alive = weak.lock()) alive->Wake();
    });
    auto* holder = new std::pair<State*, std::shared_ptr<StreamState>>(this, state);
    answer = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, kStreamBlock, &State::ReadStream, holder,
                                               &State::FreeStream);
    if (!answer) FreeStream(holder);
  } else if (response.file_) {
    const int fd = response.file_.Release();
    answer = MHD_create_response_from_fd_at_offset64(static_cast<std::uint64_t>(response.fileLength_), fd,
                                                     static_cast<std::uint64_t>(response.fileOffset_));
    if (!answer) ::close(fd);
  } else {
    answer = MHD_create_response_from_buffer(response.body_.size(), response.body_.data(), MHD_RESPMEM_MUST_COPY);
  }
  if (!answer) return MHD_NO;
  for (const auto& [name, value] : response.headers_) MHD_add_response_header(answer, name.c_str(), value.c_str());
  const MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(response.status), answer);
  MHD_destroy_response(answer);
  return queued;
}

ssize_t HttpServer::State::ReadStream(void* cls, std::uint64_t, char* buffer, std::size_t max) {
  StreamState& s = *static_cast<std::pair<State*, std::shared_ptr<StreamState>>*>(cls)->second;
  if (s.sent == s.pending.size()) {
    s.pending.clear();
    s.sent = 0;
    if (s.over || *s.stopping) return MHD_CONTENT_READER_END_OF_STREAM;
    {
      std::lock_guard lock(s.mutex);
      s.ready = false;
    }
    if (!s.stream->Pull(s.pending)) s.over = true;
    if (s.pending.empty()) {
      if (s.over) return MHD_CONTENT_READER_END_OF_STREAM;
      // Nothing yet: parked until the stream or the tick wakes it. Woken while pulling: at once.
      std::lock_guard lock(s.mutex);
      if (*s.stopping) return MHD_CONTENT_READER_END_OF_STREAM;
      MHD_suspend_connection(s.connection);
      s.suspended = true;
      if (s.ready) {
        s.suspended = false;
        MHD_resume_connection(s.connection);
      }
      return 0;
    }
  }
  const std::size_t n = std::min(max, s.pending.size() - s.sent);
  std::memcpy(buffer, s.pending.data() + s.sent, n);  // NOLINT(bugprone-not-null-terminated-result): bytes, not text
  s.sent += n;
  return static_cast<ssize_t>(n);
}

void HttpServer::State::FreeStream(void* cls) {
  auto* holder = static_cast<std::pair<State*, std::shared_ptr<StreamState>>*>(cls);
  {
    std::lock_guard lock(holder->second->mutex);
    holder->second->closed = true;
  }
  {
    std::lock_guard lock(holder->first->streamsMutex);
    holder->first->streams.erase(holder->second);
  }
  delete holder;
}

}  // namespace zent
