#include "onvif/soap_client.h"

#include <curl/curl.h>
#include <string.h>

#include <cctype>

#include "onvif/onvif_answers.h"

namespace zent::onvif {
namespace {

struct Transfer {
  std::string body;
  bool tooLong = false;
  bool digestAsked = false;
  bool interruptible = true;
  const std::function<bool()>* stopping = nullptr;
};

size_t OnBody(char* data, size_t size, size_t count, void* self) {
  auto* transfer = static_cast<Transfer*>(self);
  const size_t bytes = size * count;
  if (transfer->body.size() + bytes > kMaxAnswerBytes) {
    transfer->tooLong = true;
    return 0;  // ends the transfer
  }
  transfer->body.append(data, bytes);
  return bytes;
}

size_t OnHeader(char* data, size_t size, size_t count, void* self) {
  auto* transfer = static_cast<Transfer*>(self);
  std::string line(data, size * count);
  for (char& c : line) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (line.rfind("www-authenticate:", 0) == 0 && line.find("digest") != std::string::npos) transfer->digestAsked = true;
  return size * count;
}

int OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto* transfer = static_cast<Transfer*>(self);
  return transfer->interruptible && (*transfer->stopping)() ? 1 : 0;
}

}  // namespace

std::string OnConfiguredHost(const std::string& url, const std::string& host, int defaultPort) {
  const auto schemeEnd = url.find("://");
  if (schemeEnd == std::string::npos || schemeEnd == 0) return {};
  const std::string scheme = url.substr(0, schemeEnd);
  for (char c : scheme)
    if (!std::isalpha(static_cast<unsigned char>(c))) return {};
  const auto authorityStart = schemeEnd + 3;
  auto pathStart = url.find_first_of("/?#", authorityStart);
  if (pathStart == std::string::npos) pathStart = url.size();
  std::string authority = url.substr(authorityStart, pathStart - authorityStart);
  if (const auto at = authority.rfind('@'); at != std::string::npos) authority.erase(0, at + 1);
  int port = defaultPort;
  const auto bracket = authority.rfind(']');
  const auto colon = authority.rfind(':');
  if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) {
    const std::string digits = authority.substr(colon + 1);
    if (!digits.empty()) {
      if (digits.size() > 5) return {};
      for (char c : digits)
        if (!std::isdigit(static_cast<unsigned char>(c))) return {};
      port = std::stoi(digits);
      if (port < 1 || port > 65535) return {};
    }
  }
  std::string path = url.substr(pathStart);
  if (const auto hash = path.find('#'); hash != std::string::npos) path.erase(hash);
  if (path.empty() || path[0] != '/') path = "/" + path;
  return scheme + "://" + host + ":" + std::to_string(port) + path;
}

SoapClient::SoapClient(std::string host, std::string user, std::string password, std::function<bool()> stopping)
    : host_(std::move(host)), user_(std::move(user)), password_(std::move(password)), stopping_(std::move(stopping)) {
  // Once, before any handle: curl_easy_init would otherwise do it itself, on whichever thread.
  static const CURLcode initialized = curl_global_init(CURL_GLOBAL_DEFAULT);
  if (initialized == CURLE_OK) curl_ = curl_easy_init();
}

SoapClient::~SoapClient() {
  if (curl_) curl_easy_cleanup(static_cast<CURL*>(curl_));
  if (!password_.empty()) explicit_bzero(password_.data(), password_.size());
}

Reply SoapClient::Post(const std::string& url, const char* action, const std::string& envelope,
                       std::chrono::seconds timeout, bool interruptible) {
  bool digestAsked = false;
  Reply reply = Once(url, action, envelope, timeout, interruptible, digestAsked);
  // A camera that wants HTTP Digest says so with its 401; from then on every request uses it.
  if (reply.status == 401 && digestAsked && !digest_ && !user_.empty()) {
    digest_ = true;
    reply = Once(url, action, envelope, timeout, interruptible, digestAsked);
  }
  return reply;
}

Reply SoapClient::Once(const std::string& url, const char* action, const std::string& envelope,
                       std::chrono::seconds timeout, bool interruptible, bool& digestAsked) {
  Reply reply;
  CURL* curl = static_cast<CURL*>(curl_);
  if (!curl) {
    reply.error = "no HTTP client";
    return reply;
  }
  curl_easy_reset(curl);
  Transfer transfer;
  transfer.interruptible = interruptible;
  transfer.stopping = &stopping_;
  const std::string contentType =
      std::string("Content-Type: application/soap+xml; charset=utf-8; action=\"") + action + "\"";
  curl_slist* headers = curl_slist_append(nullptr, contentType.c_str());
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, envelope.c_str());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(envelope.size()));
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 5L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, static_cast<long>(timeout.count()));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, OnProgress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
  if (digest_) {
    curl_easy_setopt(curl, CURLOPT_HTTPAUTH, CURLAUTH_DIGEST);
    curl_easy_setopt(curl, CURLOPT_USERNAME, user_.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, password_.c_str());
  }
  const CURLcode result = curl_easy_perform(curl);
  curl_slist_free_all(headers);
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
  digestAsked = transfer.digestAsked;
  if (transfer.tooLong) reply.error = "an answer over 1 MiB";
  else if (result != CURLE_OK) reply.error = curl_easy_strerror(result);
  if (reply.error.empty()) reply.body = std::move(transfer.body);
  return reply;
}

}  // namespace zent::onvif
