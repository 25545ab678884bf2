#pragma once
// Posts SOAP requests to one camera over HTTP with libcurl. Every request goes to the configured
// address, whatever host the camera named: only the path and the port of its addresses are taken,
// so the credentials never reach another host. HTTP Digest is used once the camera asks for it.

#include <chrono>
#include <functional>
#include <string>

namespace zent::onvif {

// `url` moved onto `host`: its scheme, port and path (with the query) stay; any user and password
// in it go. A URL without a port takes `defaultPort`; one that cannot be read gives empty.
std::string OnConfiguredHost(const std::string& url, const std::string& host, int defaultPort);

struct Reply {
  long status = 0;    // HTTP status; 0 when no answer came
  std::string body;   // at most kMaxAnswerBytes
  std::string error;  // why no whole answer came: a time-out, a refused connection, too long
  bool Answered() const { return status != 0 && error.empty(); }
};

class SoapClient {
 public:
  // `stopping` is asked while a request waits: true ends it at once.
  SoapClient(std::string host, std::string user, std::string password, std::function<bool()> stopping);
  ~SoapClient();
  SoapClient(const SoapClient&) = delete;
  SoapClient& operator=(const SoapClient&) = delete;

  Reply Post(const std::string& url, const char* action, const std::string& envelope, std::chrono::seconds timeout,
             bool interruptible = true);
  const std::string& Host() const { return host_; }
  bool UsesDigest() const { return digest_; }

 private:
  Reply Once(const std::string& url, const char* action, const std::string& envelope, std::chrono::seconds timeout,
             bool interruptible, bool& digestAsked);

  const std::string host_;
  const std::string user_;
  std::string password_;
  const std::function<bool()> stopping_;
  void* curl_ = nullptr;  // CURL, kept for its connection
  bool digest_ = false;
};

}  // namespace zent::onvif
