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

SessionEnding OnvifSession::Run() {
  const OnvifSettings& s = settings_;
  SoapClient client(s.address, s.user, s.password, [this] { return Stopping(); });
  const std::string device = "http://" + s.address + ":" + std::to_string(s.port) + "/onvif/device_service";
  std::int64_t offset = 0;  // the camera's clock minus ours
  const auto drop = [this](const std::string& why) {
    Status(why);
    return SessionEnding{SessionEnd::Dropped, "Disconnected Network.", {"Disconnected Network."}};
  };
  const auto readClock = [&]() -> Reply {
    Reply reply =
        client.Post(device, action::kGetSystemDateAndTime, Envelope("", GetSystemDateAndTime()), kRequestTimeout);
    if (reply.Answered())
      if (const auto cameraTime = Answer(reply.body).SystemTime()) offset = *cameraTime - UtcNow();
    return reply;
  };
  const auto call = [&](const std::string& url, const char* act, const std::string& body, seconds timeout,
                        bool interruptible = true, bool addressed = false) {
    std::string header = client.UsesDigest() ? std::string() : SecurityHeader(s.user, s.password, UtcNow() + offset);
    if (addressed) header += AddressingHeader(act, url);
    return client.Post(url, act, Envelope(header, body), timeout, interruptible);
  };

  Status("Connecting to the camera's ONVIF service...");
  if (const Reply clock = readClock(); !clock.Answered())
    return drop("The camera's ONVIF service does not answer (" + Why(clock) + ").");
  if (std::llabs(offset) >= 5)
    Status("The camera's clock is " + std::to_string(std::llabs(offset)) + " s " +
           (offset > 0 ? "ahead of" : "behind") + " ours; its log-ins are stamped with its time.");

  Status("Checking user authentication...");
  Reply capabilities = call(device, action::kGetCapabilities, GetCapabilities(), kRequestTimeout);
  if (Refused(capabilities)) {
    // A clock that moved since it was read is the usual cause of a refusal that is not one.
    readClock();
    capabilities = call(device, action::kGetCapabilities, GetCapabilities(), kRequestTimeout);
  }
  if (Refused(capabilities))
    return {SessionEnd::Final, "Error: User Authenticaion failed", {"User authentication failed."}};
  std::string events, media;
  if (Good(capabilities)) {
    const Answer answer(capabilities.body);
    events = answer.ServiceAddress("Events", "events/wsdl");
    media = answer.ServiceAddress("Media", "media/wsdl");
  }
  if (events.empty()) {
    const Reply services = call(device, action::kGetServices, GetServices(), kRequestTimeout);
    if (Refused(services))
      return {SessionEnd::Final, "Error: User Authenticaion failed", {"User authentication failed."}};
    if (!services.Answered()) return drop("The camera's ONVIF service does not answer (" + Why(services) + ").");
    const Answer answer(services.body);
    events = answer.ServiceAddress("Events", "events/wsdl");
    if (media.empty()) media = answer.ServiceAddress("Media", "media/wsdl");
  }
  const std::string eventsUrl = OnConfiguredHost(events, s.address, s.port);
  if (eventsUrl.empty()) return {SessionEnd::Final, "The camera names no ONVIF event service.", {}};
  Status("User authentication success.");

  if (s.askVideo) {
    const std::string mediaUrl = OnConfiguredHost(media, s.address, s.port);
    const Reply profiles =
        mediaUrl.empty() ? Reply{} : call(mediaUrl, action::kGetProfiles, GetProfiles(), kRequestTimeout);
    const std::vector<std::string> tokens =
        Good(profiles) ? Answer(profiles.body).ProfileTokens() : std::vector<std::string>{};
    std::string stream;
    if (!tokens.empty()) {
      const Reply uri = call(mediaUrl, action::kGetStreamUri, GetStreamUri(tokens.front()), kRequestTimeout);
      if (Good(uri)) stream = OnConfiguredHost(Answer(uri.body).StreamUri(), s.address, 554);
    }
    if (!stream.empty()) {
      Status("Video from the camera's profile " + tokens.front() + ": " + stream);
      if (!Stopping()) host_->VideoFound(stream);
    } else {
      Status("The camera did not say where its video is; its video port is used.");
    }
  }
  if (!Stopping()) host_->LoginAccepted();

  EdgeDetector edges(s.topics);
  std::string subscription;
  while (!Stopping()) {
    const Reply made =
        call(eventsUrl, action::kCreatePullPoint, CreatePullPointSubscription(s.terminationSeconds), kRequestTimeout);
    if (Stopping()) break;
    const auto madeSubscription = Good(made) ? Answer(made.body).SubscriptionMade() : std::nullopt;
    if (!madeSubscription) return drop("The camera made no event subscription (" + Why(made) + ").");
    subscription = OnConfiguredHost(madeSubscription->address, s.address, s.port);
    if (subscription.empty()) return drop("The camera's event subscription has no usable address.");
    int lifetime = Lifetime(madeSubscription->currentTime, madeSubscription->terminationTime, s.terminationSeconds);
    auto ends = Clock::now() + seconds(lifetime);
    Status("Subscribed to the camera's events.");
    bool again = false;
    while (!Stopping() && !again) {
      // Renewed well before its end: a long-poll and a quarter of its life.
      const int pull = std::clamp(lifetime / 3, 1, s.pullSeconds);
      if (Clock::now() + seconds(pull + std::max(1, lifetime / 4)) >= ends) {
        const Reply renew =
            call(subscription, action::kRenew, Renew(s.terminationSeconds), kRequestTimeout, true, true);
        if (Stopping()) break;
        const auto renewed = Good(renew) ? Answer(renew.body).Renewed() : std::nullopt;
        if (renewed) {
          lifetime = Lifetime(renewed->currentTime, renewed->terminationTime, s.terminationSeconds);
          ends = Clock::now() + seconds(lifetime);
        } else if (!renew.Answered()) {
          return drop("The camera's events stopped (" + Why(renew) + ").");
        } else {
          // Some cameras never renew: a new subscription before the old one ends loses nothing.
          Status("The camera did not renew its event subscription (" + Why(renew) + "); subscribing again.");
          call(subscription, action::kUnsubscribe, Unsubscribe(), kGoodbyeTimeout, true, true);
          again = true;
          continue;
        }
      }
      const Reply pulled = call(subscription, action::kPullMessages, PullMessages(pull, kMessageLimit),
                                seconds(pull) + kRequestTimeout, true, true);
      if (Stopping()) break;
      if (!Good(pulled)) return drop("The camera's events stopped (" + Why(pulled) + ").");
      const Messages messages = Answer(pulled.body).PulledMessages();
      if (messages.terminationTime && messages.currentTime)
        ends = Clock::now() + seconds(Lifetime(messages.currentTime, messages.terminationTime, lifetime));
      for (const Notification& n : messages.notifications) {
        const auto origin = edges.Feed(n);
        if (!origin || Stopping()) continue;
        Status(">>> Event message arrived: " + origin->topic + (origin->item.empty() ? "" : " " + origin->item));
        if (!Stopping()) host_->CameraEvent(*origin);
      }
    }
  }
  // Stopped: the camera may keep a subscription nobody pulls until it ends; ask it to forget it.
  if (!subscription.empty()) call(subscription, action::kUnsubscribe, Unsubscribe(), kGoodbyeTimeout, false, true);
  return {};
}

}  // namespace zent::onvif
