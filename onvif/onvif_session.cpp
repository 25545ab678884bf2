#include "onvif/onvif_session.h"

#include <string.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>

#include "onvif/soap_client.h"
#include "onvif/soap_requests.h"

namespace zent::onvif {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::seconds;

constexpr int kMessageLimit = 32;
constexpr std::size_t kMaxStates = 1024;
constexpr seconds kRequestTimeout{10};
constexpr seconds kGoodbyeTimeout{2};

std::int64_t UtcNow() { return static_cast<std::int64_t>(std::time(nullptr)); }

bool IsBoolean(const std::string& v) { return v == "true" || v == "false" || v == "1" || v == "0"; }
bool IsTrue(const std::string& v) { return v == "true" || v == "1"; }

std::string Why(const Reply& reply) {
  if (!reply.error.empty()) return reply.error;
  Answer answer(reply.body);
  if (const auto fault = answer.Fault())
    return "fault " + (fault->subcode.empty() ? fault->code : fault->subcode) +
           (fault->reason.empty() ? "" : ": " + fault->reason);
  return "HTTP " + std::to_string(reply.status);
}

// The camera refused the user: a 401 after Digest was tried, or a fault saying so.
bool Refused(const Reply& reply) {
  if (reply.status == 401) return true;
  if (!reply.Answered()) return false;
  const auto fault = Answer(reply.body).Fault();
  return fault && fault->NotAuthorized();
}

// The camera no longer knows the subscription: it restarted.
bool Lost(const Reply& reply) {
  if (!reply.Answered()) return false;
  const auto fault = Answer(reply.body).Fault();
  return fault && fault->UnknownResource();
}

bool Good(const Reply& reply) { return reply.Answered() && reply.status == 200 && !Answer(reply.body).Fault(); }

// Seconds a subscription lives: by the camera's own clock in its answer, else what was asked.
int Lifetime(std::optional<std::int64_t> current, std::optional<std::int64_t> termination, int asked) {
  if (!current || !termination) return asked;
  return static_cast<int>(std::clamp<std::int64_t>(*termination - *current, 1, 3600));
}

}  // namespace

const std::vector<std::string>& DefaultTopics() {
  static const std::vector<std::string> topics = {
      "RuleEngine/CellMotionDetector/Motion",   "VideoSource/MotionAlarm",         "Device/Trigger/DigitalInput",
      "RuleEngine/FieldDetector/ObjectsInside", "RuleEngine/LineDetector/Crossed",
  };
  return topics;
}

EdgeDetector::EdgeDetector(std::vector<std::string> topics) : topics_(std::move(topics)) {
  if (topics_.empty()) topics_ = DefaultTopics();
}

std::optional<EventOrigin> EdgeDetector::Feed(const Notification& n) {
  if (std::none_of(topics_.begin(), topics_.end(),
                   [&](const std::string& part) { return n.topic.find(part) != std::string::npos; }))
    return std::nullopt;
  std::string key = n.topic;
  for (const auto& [name, value] : n.source) key.append("|").append(name).append("=").append(value);
  key += "|";
  const bool state = n.operation == "Initialized";
  if (n.operation == "Deleted") {
    std::erase_if(state_, [&](const auto& entry) { return entry.first.rfind(key, 0) == 0; });
    return std::nullopt;
  }
  if (state_.size() > kMaxStates) state_.clear();  // a camera inventing sources without end
  std::optional<EventOrigin> origin;
  bool anyBoolean = false;
  for (const auto& [name, value] : n.data) {
    if (!IsBoolean(value)) continue;
    anyBoolean = true;
    bool& was = state_[key + name];
    const bool rose = IsTrue(value) && !was;
    was = IsTrue(value);
    if (rose && !state && !origin)
      origin = EventOrigin{"onvif", n.topic, std::string(name).append("=").append(value), ""};
  }
  if (!anyBoolean && !state) {
    std::string item;
    if (!n.data.empty()) item.append(n.data.front().first).append("=").append(n.data.front().second);
    origin = EventOrigin{"onvif", n.topic, std::move(item), ""};
  }
  return origin;
}

std::shared_ptr<OnvifSession> OnvifSession::Start(OnvifSettings settings, std::shared_ptr<SessionHost> host) {
  std::shared_ptr<OnvifSession> session(new OnvifSession(std::move(settings), std::move(host)));
  return StartThread(session) ? session : nullptr;
}

OnvifSession::OnvifSession(OnvifSettings settings, std::shared_ptr<SessionHost> host)
    : settings_(std::move(settings)), host_(std::move(host)) {}

OnvifSession::~OnvifSession() {
  if (!settings_.password.empty()) explicit_bzero(settings_.password.data(), settings_.password.size());
}

void OnvifSession::Status(const std::string& text) {
  if (!Stopping()) host_->AddStatusLine(text);
}

void OnvifSession::Body() {
  const SessionEnding ending = Run();
  if (!Stopping()) host_->SessionEnded(ending);
}

// One camera's ONVIF services as this session talks to them: the HTTP client, the device service's
// address and the camera's clock.
class OnvifSession::Camera {
 public:
  Camera(const OnvifSettings& settings, std::function<bool()> stopping)
      : settings_(settings),
        client_(settings.address, settings.user, settings.password, std::move(stopping)),
        device_("http://" + settings.address + ":" + std::to_string(settings.port) + "/onvif/device_service") {}

  // Reads the camera's clock, which needs no log-in.
  Reply ReadClock() {
    Reply reply =
        client_.Post(device_, action::kGetSystemDateAndTime, Envelope("", GetSystemDateAndTime()), kRequestTimeout);
    if (reply.Answered())
      if (const auto cameraTime = Answer(reply.body).SystemTime()) offset_ = *cameraTime - UtcNow();
    return reply;
  }
  std::int64_t Offset() const { return offset_; }
  // A request with the log-in stamped by the camera's clock; `addressed` for a subscription's.
  Reply Call(const std::string& url, const char* act, const std::string& body, seconds timeout = kRequestTimeout,
             bool interruptible = true, bool addressed = false) {
    std::string header =
        client_.UsesDigest() ? std::string() : SecurityHeader(settings_.user, settings_.password, UtcNow() + offset_);
    if (addressed) header += AddressingHeader(act, url);
    return client_.Post(url, act, Envelope(header, body), timeout, interruptible);
  }
  Reply Device(const char* act, const std::string& body) { return Call(device_, act, body); }
  std::string OnHost(const std::string& url, int defaultPort) const {
    return OnConfiguredHost(url, settings_.address, defaultPort);
  }

 private:
  const OnvifSettings& settings_;
  SoapClient client_;
  const std::string device_;
  std::int64_t offset_ = 0;  // the camera's clock minus ours
};

SessionEnding OnvifSession::Drop(const std::string& why) {
  Status(why);
  return {SessionEnd::Dropped, "Disconnected Network.", {"Disconnected Network."}};
}

std::optional<SessionEnding> OnvifSession::LogIn(Camera& camera, std::string& eventsUrl) {
  Status("Connecting to the camera's ONVIF service...");
  if (const Reply clock = camera.ReadClock(); !clock.Answered())
    return Drop("The camera's ONVIF service does not answer (" + Why(clock) + ").");
  const std::int64_t offset = camera.Offset();
  if (std::llabs(offset) >= 5)
    Status("The camera's clock is " + std::to_string(std::llabs(offset)) + " s " +
           (offset > 0 ? "ahead of" : "behind") + " ours; its log-ins are stamped with its time.");

  Status("Checking user authentication...");
  const SessionEnding refused{SessionEnd::Final, "Error: User Authenticaion failed", {"User authentication failed."}};
  Reply capabilities = camera.Device(action::kGetCapabilities, GetCapabilities());
  if (Refused(capabilities)) {
    // A clock that moved since it was read is the usual cause of a refusal that is not one.
    camera.ReadClock();
    capabilities = camera.Device(action::kGetCapabilities, GetCapabilities());
  }
  if (Refused(capabilities)) return refused;
  std::string events, media;
  if (Good(capabilities)) {
    const Answer answer(capabilities.body);
    events = answer.ServiceAddress("Events", "events/wsdl");
    media = answer.ServiceAddress("Media", "media/wsdl");
  }
  if (events.empty()) {
    const Reply services = camera.Device(action::kGetServices, GetServices());
    if (Refused(services)) return refused;
    if (!services.Answered()) return Drop("The camera's ONVIF service does not answer (" + Why(services) + ").");
    const Answer answer(services.body);
    events = answer.ServiceAddress("Events", "events/wsdl");
    if (media.empty()) media = answer.ServiceAddress("Media", "media/wsdl");
  }
  eventsUrl = camera.OnHost(events, settings_.port);
  if (eventsUrl.empty()) return SessionEnding{SessionEnd::Final, "The camera names no ONVIF event service.", {}};
  Status("User authentication success.");
  if (settings_.askVideo) FindVideo(camera, camera.OnHost(media, settings_.port));
  return std::nullopt;
}

void OnvifSession::FindVideo(Camera& camera, const std::string& mediaUrl) {
  const Reply profiles = mediaUrl.empty() ? Reply{} : camera.Call(mediaUrl, action::kGetProfiles, GetProfiles());
  const std::vector<std::string> tokens =
      Good(profiles) ? Answer(profiles.body).ProfileTokens() : std::vector<std::string>{};
  std::string stream;
  if (!tokens.empty()) {
    const Reply uri = camera.Call(mediaUrl, action::kGetStreamUri, GetStreamUri(tokens.front()));
    if (Good(uri)) stream = camera.OnHost(Answer(uri.body).StreamUri(), 554);
  }
  if (stream.empty()) {
    Status("The camera did not say where its video is; its video port is used.");
    return;
  }
  Status("Video from the camera's profile " + tokens.front() + ": " + stream);
  if (!Stopping()) host_->VideoFound(stream);
}

SessionEnding OnvifSession::Listen(Camera& camera, const std::string& eventsUrl) {
  const OnvifSettings& s = settings_;
  EdgeDetector edges(s.topics);
  std::string subscription;
  while (!Stopping()) {
    const Reply made =
        camera.Call(eventsUrl, action::kCreatePullPoint, CreatePullPointSubscription(s.terminationSeconds));
    if (Stopping()) break;
    const auto madeSubscription = Good(made) ? Answer(made.body).SubscriptionMade() : std::nullopt;
    if (!madeSubscription) return Drop("The camera made no event subscription (" + Why(made) + ").");
    subscription = camera.OnHost(madeSubscription->address, s.port);
    if (subscription.empty()) return Drop("The camera's event subscription has no usable address.");
    int lifetime = Lifetime(madeSubscription->currentTime, madeSubscription->terminationTime, s.terminationSeconds);
    auto ends = Clock::now() + seconds(lifetime);
    Status("Subscribed to the camera's events.");
    bool again = false;
    while (!Stopping() && !again) {
      // Renewed well before its end: a long-poll and a quarter of its life.
      const int pull = std::clamp(lifetime / 3, 1, s.pullSeconds);
      if (Clock::now() + seconds(pull + std::max(1, lifetime / 4)) >= ends) {
        const Reply renew =
            camera.Call(subscription, action::kRenew, Renew(s.terminationSeconds), kRequestTimeout, true, true);
        if (Stopping()) break;
        const auto renewed = Good(renew) ? Answer(renew.body).Renewed() : std::nullopt;
        if (renewed) {
          lifetime = Lifetime(renewed->currentTime, renewed->terminationTime, s.terminationSeconds);
          ends = Clock::now() + seconds(lifetime);
        } else if (!renew.Answered() || Lost(renew) || renew.status == 404) {
          return Drop("The camera's events stopped (" + Why(renew) + ").");
        } else {
          // Some cameras never renew: a new subscription before the old one ends loses nothing.
          Status("The camera did not renew its event subscription (" + Why(renew) + "); subscribing again.");
          camera.Call(subscription, action::kUnsubscribe, Unsubscribe(), kGoodbyeTimeout, true, true);
          again = true;
          continue;
        }
      }
      const Reply pulled = camera.Call(subscription, action::kPullMessages, PullMessages(pull, kMessageLimit),
                                       seconds(pull) + kRequestTimeout, true, true);
      if (Stopping()) break;
      if (!Good(pulled)) return Drop("The camera's events stopped (" + Why(pulled) + ").");
      const Messages messages = Answer(pulled.body).PulledMessages();
      if (messages.terminationTime && messages.currentTime)
        ends = Clock::now() + seconds(Lifetime(messages.currentTime, messages.terminationTime, lifetime));
      for (const Notification& n : messages.notifications) Tell(edges.Feed(n));
    }
  }
  // Stopped: the camera may keep a subscription nobody pulls until it ends; ask it to forget it.
  if (!subscription.empty())
    camera.Call(subscription, action::kUnsubscribe, Unsubscribe(), kGoodbyeTimeout, false, true);
  return {};
}

void OnvifSession::Tell(const std::optional<EventOrigin>& origin) {
  if (!origin || Stopping()) return;
  Status(">>> Event message arrived: " + origin->topic + (origin->item.empty() ? "" : " " + origin->item));
  if (!Stopping()) host_->CameraEvent(*origin);
}

SessionEnding OnvifSession::Run() {
  Camera camera(settings_, [this] { return Stopping(); });
  std::string eventsUrl;
  if (std::optional<SessionEnding> ended = LogIn(camera, eventsUrl)) return std::move(*ended);
  if (!Stopping()) host_->LoginAccepted();
  return Listen(camera, eventsUrl);
}

}  // namespace zent::onvif
