#include "onvif/onvif_session.h"

#include <string.h>

#include <algorithm>
#include <memory>
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

// A reply and its answer, read once: every question below asks the same parsed tree.
class Outcome {
 public:
  explicit Outcome(Reply reply) : reply_(std::move(reply)), answer_(reply_.Answered() ? reply_.body : std::string()) {
    if (reply_.Answered()) fault_ = answer_.Fault();
  }
  const Answer& Read() const { return answer_; }
  bool Answered() const { return reply_.Answered(); }
  bool Good() const { return reply_.Answered() && reply_.status == 200 && !fault_; }
  // The camera refused the user: a 401 after Digest was tried, or a fault saying so.
  bool Refused() const { return reply_.status == 401 || (fault_ && fault_->NotAuthorized()); }
  // The camera no longer knows the subscription: it restarted.
  bool Lost() const { return reply_.status == 404 || (fault_ && fault_->UnknownResource()); }
  std::string Why() const {
    if (!reply_.error.empty()) return reply_.error;
    if (fault_)
      return "fault " + (fault_->subcode.empty() ? fault_->code : fault_->subcode) +
             (fault_->reason.empty() ? "" : ": " + fault_->reason);
    return "HTTP " + std::to_string(reply_.status);
  }

 private:
  const Reply reply_;
  const Answer answer_;
  std::optional<SoapFault> fault_;
};

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
    return Drop("The camera's ONVIF service does not answer (" + Outcome(clock).Why() + ").");
  const std::int64_t offset = camera.Offset();
  if (std::llabs(offset) >= 5)
    Status("The camera's clock is " + std::to_string(std::llabs(offset)) + " s " +
           (offset > 0 ? "ahead of" : "behind") + " ours; its log-ins are stamped with its time.");

  Status("Checking user authentication...");
  const SessionEnding refused{SessionEnd::Final, "Error: User Authenticaion failed", {"User authentication failed."}};
  auto capabilities = std::make_unique<Outcome>(camera.Device(action::kGetCapabilities, GetCapabilities()));
  if (capabilities->Refused()) {
    // A clock that moved since it was read is the usual cause of a refusal that is not one.
    camera.ReadClock();
    capabilities = std::make_unique<Outcome>(camera.Device(action::kGetCapabilities, GetCapabilities()));
  }
  if (capabilities->Refused()) return refused;
  std::string events, media;
  if (capabilities->Good()) {
    events = capabilities->Read().ServiceAddress("Events", "events/wsdl");
    media = capabilities->Read().ServiceAddress("Media", "media/wsdl");
  }
  if (events.empty()) {
    const Outcome services(camera.Device(action::kGetServices, GetServices()));
    if (services.Refused()) return refused;
    if (!services.Answered()) return Drop("The camera's ONVIF service does not answer (" + services.Why() + ").");
    events = services.Read().ServiceAddress("Events", "events/wsdl");
    if (media.empty()) media = services.Read().ServiceAddress("Media", "media/wsdl");
  }
  eventsUrl = camera.OnHost(events, settings_.port);
  if (eventsUrl.empty()) return SessionEnding{SessionEnd::Final, "The camera names no ONVIF event service.", {}};
  Status("User authentication success.");
  if (settings_.askVideo) FindVideo(camera, camera.OnHost(media, settings_.port));
  return std::nullopt;
}

void OnvifSession::FindVideo(Camera& camera, const std::string& mediaUrl) {
  const Outcome profiles(mediaUrl.empty() ? Reply{} : camera.Call(mediaUrl, action::kGetProfiles, GetProfiles()));
  const std::vector<std::string> tokens =
      profiles.Good() ? profiles.Read().ProfileTokens() : std::vector<std::string>{};
  std::string stream;
  if (!tokens.empty()) {
    const Outcome uri(camera.Call(mediaUrl, action::kGetStreamUri, GetStreamUri(tokens.front())));
    if (uri.Good()) stream = camera.OnHost(uri.Read().StreamUri(), 554);
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
    const Outcome made(
        camera.Call(eventsUrl, action::kCreatePullPoint, CreatePullPointSubscription(s.terminationSeconds)));
    if (Stopping()) break;
    const auto madeSubscription = made.Good() ? made.Read().SubscriptionMade() : std::nullopt;
    if (!madeSubscription) return Drop("The camera made no event subscription (" + made.Why() + ").");
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
        const Outcome renew(
            camera.Call(subscription, action::kRenew, Renew(s.terminationSeconds), kRequestTimeout, true, true));
        if (Stopping()) break;
        const auto renewed = renew.Good() ? renew.Read().Renewed() : std::nullopt;
        if (renewed) {
          lifetime = Lifetime(renewed->currentTime, renewed->terminationTime, s.terminationSeconds);
          ends = Clock::now() + seconds(lifetime);
        } else if (!renew.Answered() || renew.Lost()) {
          return Drop("The camera's events stopped (" + renew.Why() + ").");
        } else {
          // Some cameras never renew: a new subscription before the old one ends loses nothing.
          Status("The camera did not renew its event subscription (" + renew.Why() + "); subscribing again.");
          camera.Call(subscription, action::kUnsubscribe, Unsubscribe(), kGoodbyeTimeout, true, true);
          again = true;
          continue;
        }
      }
      const Outcome pulled(camera.Call(subscription, action::kPullMessages, PullMessages(pull, kMessageLimit),
                                       seconds(pull) + kRequestTimeout, true, true));
      if (Stopping()) break;
      if (!pulled.Good()) return Drop("The camera's events stopped (" + pulled.Why() + ").");
      const Messages messages = pulled.Read().PulledMessages();
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
