#pragma once
// The web page's HTTP server: libmicrohttpd's event loop on one thread that never waits for a
// client, answers made on a small pool of threads, streamed answers parked until they have more.
// A stranger is bounded before it costs anything: connections in all and per address, the bytes
// and lines of a request's head and the time to send it, bodies only where a route takes one.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "record/file_io.h"

namespace zent {

struct HttpRequest {
  std::string method;  // as sent; a HEAD is routed as a GET and answered without a body
  std::string path;
  std::string remoteAddress;
  std::vector<std::pair<std::string, std::string>> headers;
  std::vector<std::pair<std::string, std::string>> query;
  std::vector<std::string> matches;  // the route pattern's groups; [0] the whole path
  std::string body;

  // Empty when the request has none; names are compared without case.
  std::string Header(std::string_view name) const;
  bool HasHeader(std::string_view name) const;
  std::string Param(std::string_view name) const;
};

// An answer that goes on as long as it has something to say (live video, news).
class HttpStream {
 public:
  virtual ~HttpStream() = default;
  // Appends whatever is ready to `out`, never waiting; false once the stream is over (what was
  // appended still goes out).
  virtual bool Pull(std::string& out) = 0;
  // `wake` is to be called, from any thread and under no lock of the stream's, whenever Pull may
  // have more. Set once, before the first Pull.
  virtual void OnReady(std::function<void()> wake) = 0;
};

class HttpResponse {
 public:
  int status = 200;

  void SetHeader(const std::string& name, const std::string& value);
  bool HasHeader(std::string_view name) const;
  std::string Header(std::string_view name) const;
  void SetContent(std::string body, const std::string& type);
  // `length` bytes of `fd` from `offset`; a Range asked for is served from them.
  void SetFile(UniqueFd fd, std::int64_t offset, std::int64_t length, const std::string& type);
  void SetStream(std::shared_ptr<HttpStream> stream, const std::string& type);
  void Redirect(const std::string& location, int status);

 private:
  friend class HttpServer;
  std::vector<std::pair<std::string, std::string>> headers_;
  std::string body_;
  UniqueFd file_;
  std::int64_t fileOffset_ = 0, fileLength_ = 0;
  std::shared_ptr<HttpStream> stream_;
};

struct HttpLimits {
  unsigned connections = 256;  // open at once; more wait in the kernel's short queue
  unsigned connectionsPerAddress = 64;
  // A connection's memory: the request's head must fit. Above 32 KiB the library maps it on its
  // own, so it goes back to the system when the connection ends.
  std::size_t headBytes = 40 * 1024;
  int headerLines = 100;
  std::chrono::milliseconds headDeadline{10000};  // a request's whole head, from the connection or the last answer
  std::chrono::seconds idleTimeout{60};           // a connection that neither reads nor writes
  int workers = 6;
  std::size_t queuedJobs = 64;  // answers waiting for a worker; beyond it: 503
  int passwordWorkers = 2;      // password checks at once
  std::size_t queuedPasswordJobs = 4;
  std::chrono::seconds streamTick{1};  // how often a quiet stream is asked again
};

// Which threads make a route's answers: the event loop itself (only what is in memory and quick),
// the pool, or the password checks' own two.
enum class RouteWork { Loop, Pool, Password };

class HttpServer {
 public:
  using Handler = std::function<void(const HttpRequest&, HttpResponse&)>;
  // Answers the server gives itself (no such route, a body refused, too busy): status and reason.
  using ErrorAnswer = std::function<void(HttpResponse&, int status, const std::string& reason)>;

  HttpServer(HttpLimits limits, ErrorAnswer error);
  ~HttpServer();  // Stop
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Answers on the event loop when it returns true; else the route's handler goes on.
  using Screen = std::function<bool(const HttpRequest&, HttpResponse&)>;

  // Before Start. `pattern` is a regular expression the whole path must match; `maxBody` > 0: the
  // route takes a body of at most that many bytes, sent with a Content-Length. `screen` sees the
  // whole request first, on the loop: what it turns away never waits for a worker.
  void Route(const std::string& method, const std::string& pattern, Handler handler, RouteWork work = RouteWork::Pool,
             std::size_t maxBody = 0, Screen screen = nullptr);
  // Runs first on every request, on the event loop: true when it answered.
  void Guard(std::function<bool(const HttpRequest&, HttpResponse&)> guard);
  // Runs last on every answer the server sends, its own errors included.
  void Finish(std::function<void(const HttpRequest&, HttpResponse&)> finish);

  // Binds and serves; TLS when `certPem` is set. False with the reason.
  bool Start(const std::string& host, int port, const std::string& certPem, const std::string& keyPem,
             std::string& error);
  // Ends every stream, waits for the answers being made, closes every connection.
  void Stop();
  int Port() const { return port_; }

  struct State;

 private:
  std::unique_ptr<State> state_;
  int port_ = 0;
};

// The descriptors a web page may use when the process has `openFiles` and `cameras` need theirs:
// two a connection (its socket, and a file it serves).
unsigned WebConnectionLimit(std::uint64_t openFiles, std::size_t cameras);

// Raises this process's limit of open files to the most it may have; the limit now.
std::uint64_t RaiseOpenFileLimit();

// The byte range of a `size`-byte answer a Range header asks for: the first range only.
struct ByteRange {
  enum class Kind { Whole, Part, Unsatisfiable } kind = Kind::Whole;
  std::int64_t first = 0, length = 0;
};
ByteRange RangeOf(const std::string& header, std::int64_t size);

}  // namespace zent
