#include "sim/onvif_device.h"

#include <arpa/inet.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <openssl/evp.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <vector>

#include "sim/sim_log.h"

namespace camsim {
namespace {

constexpr std::size_t kMaxRequest = 64 * 1024;
const char* const kRealm = "zent-camsim";

// --- reading requests, by the elements' local names ---

bool Named(const xmlNode* n, const char* local) {
  return n && n->type == XML_ELEMENT_NODE && std::strcmp(reinterpret_cast<const char*>(n->name), local) == 0;
}
xmlNode* Child(const xmlNode* parent, const char* local) {
  for (xmlNode* c = parent ? parent->children : nullptr; c; c = c->next)
    if (Named(c, local)) return c;
  return nullptr;
}
xmlNode* FirstElement(const xmlNode* parent) {
  for (xmlNode* c = parent ? parent->children : nullptr; c; c = c->next)
    if (c->type == XML_ELEMENT_NODE) return c;
  return nullptr;
}
std::string Text(const xmlNode* n) {
  std::string text;
  for (const xmlNode* c = n ? n->children : nullptr; c; c = c->next)
    if (c->type == XML_TEXT_NODE && c->content) text += reinterpret_cast<const char*>(c->content);
  const auto a = text.find_first_not_of(" \t\r\n");
  return a == std::string::npos ? std::string() : text.substr(a, text.find_last_not_of(" \t\r\n") - a + 1);
}

std::string Base64(const unsigned char* data, std::size_t size) {
  std::vector<unsigned char> out(4 * ((size + 2) / 3) + 1);
  const int n = EVP_EncodeBlock(out.data(), data, static_cast<int>(size));
  return std::string(reinterpret_cast<char*>(out.data()), static_cast<std::size_t>(n));
}
std::string Unbase64(const std::string& text) {
  std::vector<unsigned char> out(text.size() + 4);
  const int n =
      EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
  if (n < 0) return {};
  std::size_t size = static_cast<std::size_t>(n);
  for (std::size_t i = text.size(); i > 0 && text[i - 1] == '='; --i) --size;  // padding decodes as zeros
  return std::string(reinterpret_cast<char*>(out.data()), size);
}

std::string Iso(std::int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm utc{};
  gmtime_r(&t, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}
std::int64_t ParseIso(const std::string& text) {
  std::tm t{};
  if (!strptime(text.c_str(), "%Y-%m-%dT%H:%M:%S", &t)) return 0;
  return static_cast<std::int64_t>(timegm(&t));
}
// PTnS, PTnM, PTnH; 0 for anything else.
int Seconds(const std::string& duration) {
  int value = 0;
  char unit = 0;
  if (std::sscanf(duration.c_str(), "PT%d%c", &value, &unit) != 2) return 0;
  return unit == 'S' ? value : unit == 'M' ? value * 60 : unit == 'H' ? value * 3600 : 0;
}

std::string Envelope(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
         "<env:Envelope xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\" "
         "xmlns:tt=\"http://www.onvif.org/ver10/schema\" xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\" "
         "xmlns:tev=\"http://www.onvif.org/ver10/events/wsdl\" xmlns:trt=\"http://www.onvif.org/ver10/media/wsdl\" "
         "xmlns:wsnt=\"http://docs.oasis-open.org/wsn/b-2\" xmlns:wsa5=\"http://www.w3.org/2005/08/addressing\" "
         "xmlns:tns1=\"http://www.onvif.org/ver10/topics\" xmlns:ter=\"http://www.onvif.org/ver10/error\">"
         "<env:Body>" +
         body + "</env:Body></env:Envelope>";
}
std::string Fault(const char* subcode, const char* reason) {
  return Envelope(std::string("<env:Fault><env:Code><env:Value>env:Sender</env:Value><env:Subcode><env:Value>") +
                  subcode + "</env:Value></env:Subcode></env:Code><env:Reason><env:Text xml:lang=\"en\">" + reason +
                  "</env:Text></env:Reason></env:Fault>");
}

struct Gathered {
  std::string body;
  bool tooLong = false;
};

MHD_Result Handle(void* self, MHD_Connection* connection, const char* url, const char* method, const char*,
                  const char* upload, size_t* uploadSize, void** state) {
  auto* device = static_cast<OnvifDevice*>(self);
  if (!*state) {
    *state = new Gathered;
    return MHD_YES;
  }
  auto* gathered = static_cast<Gathered*>(*state);
  if (*uploadSize) {
    if (gathered->body.size() + *uploadSize > kMaxRequest) gathered->tooLong = true;
    else gathered->body.append(upload, *uploadSize);
    *uploadSize = 0;
    return MHD_YES;
  }
  bool digestPassed = false;
  // The device's time is for anyone: a client needs it before it can log in.
  const bool open = gathered->body.find("GetSystemDateAndTime") != std::string::npos;
  if (device->DigestOnly() && device->Options().user && !open) {
    char* user = MHD_digest_auth_get_username(connection);
    const bool named = user && *device->Options().user == user;
    if (user) MHD_free(user);
    digestPassed = named && MHD_digest_auth_check2(connection, kRealm, device->Options().user->c_str(),
                                                   device->Options().password.value_or("").c_str(), 300,
                                                   MHD_DIGEST_ALG_MD5) == MHD_YES;
    if (!digestPassed) {
      Log("onvif digest asked");
      MHD_Response* response = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
      const MHD_Result queued =
          MHD_queue_auth_fail_response2(connection, kRealm, "camsim", response, MHD_NO, MHD_DIGEST_ALG_MD5);
      MHD_destroy_response(response);
      return queued;
    }
  }
  auto [status, body] = std::strcmp(method, "POST") != 0 || gathered->tooLong
                            ? std::pair<int, std::string>{400, Fault("ter:InvalidArgVal", "POST a SOAP envelope")}
                            : device->Serve(url, gathered->body, digestPassed);
  MHD_Response* response = MHD_create_response_from_buffer(body.size(), body.data(), MHD_RESPMEM_MUST_COPY);
  MHD_add_response_header(response, "Content-Type", "application/soap+xml; charset=utf-8");
  const MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(status), response);
  MHD_destroy_response(response);
  return queued;
}

void Completed(void*, MHD_Connection*, void** state, MHD_RequestTerminationCode) {
  delete static_cast<Gathered*>(*state);
  *state = nullptr;
}

}  // namespace

OnvifDevice::OnvifDevice(OnvifOptions options) : options_(std::move(options)) {}

OnvifDevice::~OnvifDevice() {
  if (daemon_) MHD_stop_daemon(daemon_);
}

bool OnvifDevice::Start() {
  if (options_.port < 0) return true;
  xmlInitParser();
  sockaddr_in bind{};
  bind.sin_family = AF_INET;
  bind.sin_port = htons(static_cast<std::uint16_t>(options_.port));
  bind.sin_addr.s_addr = htonl(options_.address);
  static unsigned char seed[32] = "zent-camsim digest nonce seed";
  daemon_ =
      MHD_start_daemon(MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD, 0, nullptr, nullptr, &Handle,
                       this, MHD_OPTION_SOCK_ADDR, &bind, MHD_OPTION_NOTIFY_COMPLETED, &Completed, nullptr,
                       MHD_OPTION_DIGEST_AUTH_RANDOM, sizeof seed, seed, MHD_OPTION_NONCE_NC_SIZE, 300, MHD_OPTION_END);
  if (!daemon_) return false;
  port_ = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT)->port;
  Log("onvif port %d", port_);
  return true;
}

std::int64_t OnvifDevice::DeviceNow() const {
  return static_cast<std::int64_t>(std::time(nullptr)) + options_.clockOffsetSeconds;
}

std::string OnvifDevice::Base() const { return "http://192.0.2.1:" + std::to_string(port_); }

bool OnvifDevice::Authorized(void* envelope) const {
  if (!options_.user) return true;
  const xmlNode* token = Child(Child(Child(static_cast<xmlNode*>(envelope), "Header"), "Security"), "UsernameToken");
  if (!token) return false;
  const std::string user = Text(Child(token, "Username"));
  const std::string digest = Text(Child(token, "Password"));
  const std::string nonce = Unbase64(Text(Child(token, "Nonce")));
  const std::string created = Text(Child(token, "Created"));
  if (user != *options_.user || nonce.empty()) return false;
  // The device's own clock decides whether the stamp is fresh: five minutes either way.
  if (std::llabs(ParseIso(created) - DeviceNow()) > 300) return false;
  const std::string input = nonce + created + options_.password.value_or("");
  unsigned char sha[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(input.data(), input.size(), sha, &length, EVP_sha1(), nullptr);
  return Base64(sha, length) == digest;
}

std::pair<int, std::string> OnvifDevice::Serve(const std::string& url, const std::string& body, bool digestPassed) {
  xmlDoc* doc = xmlReadMemory(body.data(), static_cast<int>(body.size()), nullptr, nullptr,
                              XML_PARSE_NONET | XML_PARSE_NOBLANKS | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  xmlNode* envelope = doc ? xmlDocGetRootElement(doc) : nullptr;
  const xmlNode* request = FirstElement(Child(envelope, "Body"));
  const std::string action = request ? reinterpret_cast<const char*>(request->name) : "";
  std::pair<int, std::string> answer{400, Fault("ter:InvalidArgVal", "not a request this device knows")};
  const bool open = action == "GetSystemDateAndTime";
  if (!request) {
  } else if (!open && !digestPassed && !(options_.digestOnly ? !options_.user : Authorized(envelope))) {
    Log("onvif %s refused", action.c_str());
    answer = {400, Fault("ter:NotAuthorized", "Sender not Authorized")};
  } else if (action == "GetSystemDateAndTime") {
    std::tm utc{};
    const std::time_t now = static_cast<std::time_t>(DeviceNow());
    gmtime_r(&now, &utc);
    char fields[256];
    std::snprintf(fields, sizeof fields,
                  "<tt:Time><tt:Hour>%d</tt:Hour><tt:Minute>%d</tt:Minute><tt:Second>%d</tt:Second></tt:Time>"
                  "<tt:Date><tt:Year>%d</tt:Year><tt:Month>%d</tt:Month><tt:Day>%d</tt:Day></tt:Date>",
                  utc.tm_hour, utc.tm_min, utc.tm_sec, utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday);
    answer = {200, Envelope("<tds:GetSystemDateAndTimeResponse><tds:SystemDateAndTime><tt:DateTimeType>NTP"
                            "</tt:DateTimeType><tt:DaylightSavings>false</tt:DaylightSavings><tt:UTCDateTime>" +
                            std::string(fields) +
                            "</tt:UTCDateTime></tds:SystemDateAndTime></tds:GetSystemDateAndTimeResponse>")};
  } else if (action == "GetCapabilities") {
    Log("onvif %s accepted", action.c_str());
    answer = {200, Envelope("<tds:GetCapabilitiesResponse><tds:Capabilities><tt:Device><tt:XAddr>" + Base() +
                            "/onvif/device_service</tt:XAddr></tt:Device><tt:Events><tt:XAddr>" + Base() +
                            "/onvif/event_service</tt:XAddr><tt:WSSubscriptionPolicySupport>false"
                            "</tt:WSSubscriptionPolicySupport><tt:WSPullPointSupport>true</tt:WSPullPointSupport>"
                            "</tt:Events><tt:Media><tt:XAddr>" +
                            Base() +
                            "/onvif/media_service</tt:XAddr></tt:Media></tds:Capabilities>"
                            "</tds:GetCapabilitiesResponse>")};
  } else if (action == "GetServices") {
    std::string services;
    for (const auto& [space, path] : {std::pair<const char*, const char*>{"device", "device_service"},
                                      {"media", "media_service"},
                                      {"events", "event_service"}})
      services += std::string("<tds:Service><tds:Namespace>http://www.onvif.org/ver10/") + space +
                  "/wsdl</tds:Namespace><tds:XAddr>" + Base() + "/onvif/" + path +
                  "</tds:XAddr><tds:Version><tt:Major>2</tt:Major><tt:Minor>60</tt:Minor></tds:Version>"
                  "</tds:Service>";
    answer = {200, Envelope("<tds:GetServicesResponse>" + services + "</tds:GetServicesResponse>")};
  } else if (action == "GetVideoSources") {
    answer = {200, Envelope("<trt:GetVideoSourcesResponse><trt:VideoSources token=\"source\"><tt:Framerate>15"
                            "</tt:Framerate><tt:Resolution><tt:Width>640</tt:Width><tt:Height>480</tt:Height>"
                            "</tt:Resolution></trt:VideoSources></trt:GetVideoSourcesResponse>")};
  } else if (action == "GetProfiles") {
    answer = {200, Envelope("<trt:GetProfilesResponse><trt:Profiles token=\"main\" fixed=\"true\"><tt:Name>main"
                            "</tt:Name><tt:VideoSourceConfiguration token=\"vsc\"><tt:Name>vsc</tt:Name><tt:UseCount>1"
                            "</tt:UseCount><tt:SourceToken>source</tt:SourceToken><tt:Bounds x=\"0\" y=\"0\" "
                            "width=\"640\" height=\"480\"/></tt:VideoSourceConfiguration>"
                            "<tt:VideoEncoderConfiguration token=\"vec\"><tt:Name>vec</tt:Name><tt:UseCount>1"
                            "</tt:UseCount><tt:Encoding>H264</tt:Encoding><tt:Resolution><tt:Width>640</tt:Width>"
                            "<tt:Height>480</tt:Height></tt:Resolution><tt:Quality>5</tt:Quality><tt:RateControl>"
                            "<tt:FrameRateLimit>15</tt:FrameRateLimit><tt:EncodingInterval>1</tt:EncodingInterval>"
                            "<tt:BitrateLimit>1000</tt:BitrateLimit></tt:RateControl></tt:VideoEncoderConfiguration>"
                            "</trt:Profiles></trt:GetProfilesResponse>")};
  } else if (action == "GetStreamUri") {
    answer = {200, Envelope("<trt:GetStreamUriResponse><trt:MediaUri><tt:Uri>" + options_.streamUri +
                            "</tt:Uri><tt:InvalidAfterConnect>false</tt:InvalidAfterConnect><tt:InvalidAfterReboot>"
                            "false</tt:InvalidAfterReboot><tt:Timeout>PT0S</tt:Timeout></trt:MediaUri>"
                            "</trt:GetStreamUriResponse>")};
  } else if (action == "CreatePullPointSubscription") {
    int asked = Seconds(Text(Child(request, "InitialTerminationTime")));
    if (asked <= 0 || asked > options_.maxTerminationSeconds) asked = options_.maxTerminationSeconds;
    std::lock_guard lock(mutex_);
    const int id = nextId_++;
    Subscription& subscription = subscriptions_[id];
    subscription.termination = DeviceNow() + asked;
    // The state at subscription comes first, marked as such.
    subscription.queue.push_back(
        {"tns1:RuleEngine/CellMotionDetector/Motion",
         "<tt:SimpleItem Name=\"VideoSourceConfigurationToken\" Value=\"1\"/>",
         std::string("<tt:SimpleItem Name=\"IsMotion\" Value=\"") + (motion_ ? "true" : "false") + "\"/>",
         "Initialized"});
    Log("onvif subscribed %d for %d s", id, asked);
    answer = {200, Envelope("<tev:CreatePullPointSubscriptionResponse><tev:SubscriptionReference><wsa5:Address>" +
                            Base() + "/onvif/subscription/" + std::to_string(id) +
                            "</wsa5:Address></tev:SubscriptionReference><wsnt:CurrentTime>" + Iso(DeviceNow()) +
                            "</wsnt:CurrentTime><wsnt:TerminationTime>" + Iso(subscription.termination) +
                            "</wsnt:TerminationTime></tev:CreatePullPointSubscriptionResponse>")};
  } else if (action == "PullMessages" || action == "Renew" || action == "Unsubscribe") {
    const auto slash = url.rfind('/');
    const int id = url.rfind("/onvif/subscription/", 0) == 0 ? std::atoi(url.c_str() + slash + 1) : 0;
    bool unknown = false;
    if (action == "PullMessages") {
      const int timeout = std::min(Seconds(Text(Child(request, "Timeout"))), 60);
      const int limit = std::atoi(Text(Child(request, "MessageLimit")).c_str());
      const std::string messages = Pull(id, timeout, limit > 0 ? limit : 1, unknown);
      if (!unknown) answer = {200, messages};
    } else {
      std::lock_guard lock(mutex_);
      Expire();
      auto found = subscriptions_.find(id);
      unknown = found == subscriptions_.end();
      if (!unknown && action == "Unsubscribe") {
        subscriptions_.erase(found);
        Log("onvif unsubscribed %d", id);
        answer = {200, Envelope("<wsnt:UnsubscribeResponse/>")};
      } else if (!unknown && options_.refuseRenew) {
        Log("onvif renew refused %d", id);
        answer = {400, Fault("wsnt:UnacceptableTerminationTimeFault", "Renew is not supported")};
      } else if (!unknown) {
        int asked = Seconds(Text(Child(request, "TerminationTime")));
        if (asked <= 0 || asked > options_.maxTerminationSeconds) asked = options_.maxTerminationSeconds;
        found->second.termination = DeviceNow() + asked;
        Log("onvif renewed %d", id);
        answer = {200, Envelope("<wsnt:RenewResponse><wsnt:TerminationTime>" + Iso(found->second.termination) +
                                "</wsnt:TerminationTime><wsnt:CurrentTime>" + Iso(DeviceNow()) +
                                "</wsnt:CurrentTime></wsnt:RenewResponse>")};
      }
    }
    if (unknown) {
      Log("onvif unknown subscription %d", id);
      answer = {400, Fault("wsrf-rw:ResourceUnknownFault", "No such subscription")};
    }
  }
  if (doc) xmlFreeDoc(doc);
  return answer;
}

void OnvifDevice::Expire() {
  const std::int64_t now = DeviceNow();
  std::erase_if(subscriptions_, [&](const auto& entry) {
    if (entry.second.termination >= now) return false;
    Log("onvif subscription %d ended", entry.first);
    return true;
  });
}

std::string OnvifDevice::Pull(int id, int timeoutSeconds, int limit, bool& unknown) {
  std::unique_lock lock(mutex_);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  for (;;) {
    Expire();
    auto found = subscriptions_.find(id);
    if (found == subscriptions_.end()) {
      unknown = true;
      return {};
    }
    if (!found->second.queue.empty() || std::chrono::steady_clock::now() >= deadline) break;
    news_.wait_until(lock, std::min(deadline, std::chrono::steady_clock::now() + std::chrono::seconds(1)));
  }
  Subscription& subscription = subscriptions_[id];
  std::string messages;
  int count = 0;
  while (!subscription.queue.empty() && count < limit) {
    const Message& m = subscription.queue.front();
    messages +=
        "<wsnt:NotificationMessage><wsnt:Topic Dialect=\"http://www.onvif.org/ver10/tev/topicExpression/"
        "ConcreteSet\">" +
        m.topic + "</wsnt:Topic><wsnt:Message><tt:Message UtcTime=\"" + Iso(DeviceNow()) + "\" PropertyOperation=\"" +
        m.operation + "\"><tt:Source>" + m.source + "</tt:Source><tt:Data>" + m.data +
        "</tt:Data></tt:Message></wsnt:Message></wsnt:NotificationMessage>";
    subscription.queue.pop_front();
    ++count;
  }
  if (count) Log("onvif pulled %d from %d", count, id);
  return Envelope("<tev:PullMessagesResponse><tev:CurrentTime>" + Iso(DeviceNow()) +
                  "</tev:CurrentTime><tev:TerminationTime>" + Iso(subscription.termination) + "</tev:TerminationTime>" +
                  messages + "</tev:PullMessagesResponse>");
}

void OnvifDevice::Publish(const std::string& topic, const std::string& name, bool value) {
  const std::string source = topic.find("DigitalInput") != std::string::npos
                                 ? "<tt:SimpleItem Name=\"InputToken\" Value=\"1\"/>"
                                 : "<tt:SimpleItem Name=\"VideoSourceConfigurationToken\" Value=\"1\"/>";
  const std::string data = "<tt:SimpleItem Name=\"" + name + "\" Value=\"" + (value ? "true" : "false") + "\"/>";
  std::lock_guard lock(mutex_);
  for (auto& [id, subscription] : subscriptions_)
    if (subscription.queue.size() < 1000) subscription.queue.push_back({topic, source, data, "Changed"});
  news_.notify_all();
}

bool OnvifDevice::Command(const std::string& word, const std::string& argument) {
  if (word == "onvif-motion") {
    {
      std::lock_guard lock(mutex_);
      motion_ = argument == "on";
    }
    Publish("tns1:RuleEngine/CellMotionDetector/Motion", "IsMotion", argument == "on");
    Log("onvif motion %s", argument.c_str());
    return true;
  }
  if (word == "onvif-input") {
    {
      std::lock_guard lock(mutex_);
      input_ = argument == "on";
    }
    Publish("tns1:Device/Trigger/DigitalInput", "LogicalState", argument == "on");
    Log("onvif input %s", argument.c_str());
    return true;
  }
  if (word == "reboot") {
    std::lock_guard lock(mutex_);
    subscriptions_.clear();
    motion_ = input_ = false;
    news_.notify_all();
    Log("onvif rebooted");
    return true;
  }
  return false;
}

}  // namespace camsim
