#include "notify/mqtt_publisher.h"

#include <mosquitto.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>

#include "notify/notices.h"

namespace zent {
namespace {

// Messages that wait for the broker, and messages handed to it that it has not acknowledged.
constexpr std::size_t kMaxPending = 1000;
constexpr std::int64_t kMaxUnacknowledged = 1000;
constexpr int kQos = 1;
constexpr int kKeepAliveSeconds = 30;

void InitLibrary() {
  static const int once = [] {
    mosquitto_lib_init();
    return 0;
  }();
  (void)once;
}

std::string DefaultClientId() {
  char host[64] = {};
  ::gethostname(host, sizeof host - 1);
  return "zent-" + std::string(host) + "-" + std::to_string(::getpid());
}

// A client set up with the settings' id, credentials and TLS, not connected; null with `error`.
mosquitto* NewClient(const MqttSettings& settings, const BrokerAddress& address, void* self, std::string& error) {
  InitLibrary();
  const std::string id = settings.clientId.empty() ? DefaultClientId() : settings.clientId;
  mosquitto* client = mosquitto_new(id.c_str(), true, self);
  if (!client) {
    error = "cannot make an MQTT client";
    return nullptr;
  }
  mosquitto_int_option(client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
  if (!settings.user.empty() &&
      mosquitto_username_pw_set(client, settings.user.c_str(), settings.password.c_str()) != MOSQ_ERR_SUCCESS)
    error = "the broker's user or password cannot be used";
  if (error.empty() && address.tls &&
      mosquitto_tls_set(client, settings.caFile.empty() ? nullptr : settings.caFile.c_str(),
                        settings.caFile.empty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr,
                        nullptr) != MOSQ_ERR_SUCCESS)
    error = "cannot use TLS with the CA file " + settings.caFile;
  if (!error.empty()) {
    mosquitto_destroy(client);
    return nullptr;
  }
  return client;
}

}  // namespace

MqttPublisher::MqttPublisher(MqttSettings settings, Say say, Trigger trigger)
    : settings_(std::move(settings)), say_(std::move(say)), trigger_(std::move(trigger)) {
  if (!ParseBrokerUrl(settings_.url, address_, error_)) {
    error_ = "MQTT broker " + ShownUrl(settings_.url) + ": " + error_;
    return;
  }
  client_ = NewClient(settings_, address_, this, error_);
  if (!client_) {
    error_ = "MQTT broker " + address_.Shown() + ": " + error_;
    return;
  }
  const std::string will = settings_.prefix + "/available";
  mosquitto_will_set(client_, will.c_str(), 7, "offline", kQos, true);
  mosquitto_connect_callback_set(client_, &MqttPublisher::OnConnect);
  mosquitto_disconnect_callback_set(client_, &MqttPublisher::OnDisconnect);
  mosquitto_publish_callback_set(client_, &MqttPublisher::OnPublish);
  if (trigger_) mosquitto_message_callback_set(client_, &MqttPublisher::OnMessage);
  mosquitto_reconnect_delay_set(client_, 1, 30, true);
  // A broker lost later is found again by the network thread; one that is not there now (its
  // port closed, its name unknown) is ours to try again.
  const int result = mosquitto_connect_async(client_, address_.host.c_str(), address_.port, kKeepAliveSeconds);
  if (result == MOSQ_ERR_SUCCESS) {
    mosquitto_loop_start(client_);
    return;
  }
  outageSaid_ = true;
  say_("MQTT broker " + address_.Shown() + " cannot be reached (" +
       (result == MOSQ_ERR_ERRNO ? std::string(std::strerror(errno)) : std::string(mosquitto_strerror(result))) +
       "); messages wait, trying again");
  connecting_ = std::thread([this] { ConnectUntilReached(); });
}

void MqttPublisher::ConnectUntilReached() {
  auto wait = std::chrono::seconds(1);
  std::unique_lock lock(mutex_);
  while (!stopWaiting_.wait_for(lock, wait, [this] { return stopping_; })) {
    lock.unlock();
    const bool reached =
        mosquitto_connect_async(client_, address_.host.c_str(), address_.port, kKeepAliveSeconds) == MOSQ_ERR_SUCCESS;
    if (reached) mosquitto_loop_start(client_);
    lock.lock();
    if (reached) return;
    wait = std::min(wait * 2, std::chrono::seconds(30));
  }
}

MqttPublisher::~MqttPublisher() {
  if (!client_) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  stopWaiting_.notify_all();
  if (connecting_.joinable()) connecting_.join();
  bool connected;
  {
    std::lock_guard lock(mutex_);
    connected = connected_;
  }
  // Queued before the disconnect, so it leaves first; a clean disconnect cancels the last will.
  if (connected) {
    const std::string topic = settings_.prefix + "/available";
    mosquitto_publish(client_, nullptr, topic.c_str(), 7, "offline", kQos, true);
  }
  mosquitto_disconnect(client_);
  mosquitto_loop_stop(client_, false);
  mosquitto_destroy(client_);
}

std::string MqttPublisher::Topic(const Notice& notice) const {
  return notice.absoluteTopic ? notice.topic : settings_.prefix + "/" + notice.topic;
}

void MqttPublisher::Publish(const Notice& notice) {
  int mid = 0;
  const std::string topic = Topic(notice);
  if (mosquitto_publish(client_, &mid, topic.c_str(), static_cast<int>(notice.payload.size()), notice.payload.data(),
                        kQos, notice.retained) == MOSQ_ERR_SUCCESS)
    ++unacknowledged_;
}

void MqttPublisher::Send(const Notice& notice) {
  if (!client_) return;
  std::lock_guard lock(mutex_);
  if (notice.retained) retained_[Topic(notice)] = notice;
  if (connected_ && unacknowledged_ < kMaxUnacknowledged) {
    Publish(notice);
    return;
  }
  if (notice.retained) return;  // published from retained_ at the next connection
  pending_.push_back(notice);
  if (pending_.size() > kMaxPending) {
    pending_.pop_front();
    ++dropped_;
  }
}

void MqttPublisher::OnConnect(mosquitto*, void* self, int rc) {
  auto* publisher = static_cast<MqttPublisher*>(self);
  if (rc != 0) {
    std::unique_lock lock(publisher->mutex_);
    if (publisher->outageSaid_) return;
    publisher->outageSaid_ = true;
    lock.unlock();
    publisher->say_("MQTT broker " + publisher->address_.Shown() + " refused us: " + mosquitto_connack_string(rc));
    return;
  }
  std::string line;
  {
    std::lock_guard lock(publisher->mutex_);
    publisher->connected_ = true;
    publisher->unacknowledged_ = 0;
    publisher->Publish({"available", "online", true, false, false});
    for (const auto& [topic, notice] : publisher->retained_) publisher->Publish(notice);
    for (const Notice& notice : publisher->pending_) publisher->Publish(notice);
    publisher->pending_.clear();
    line = "Connected to MQTT broker " + publisher->address_.Shown();
    if (publisher->outageSaid_ && publisher->dropped_ > 0)
      line += "; " + std::to_string(publisher->dropped_) + " messages were dropped while it was away";
    publisher->outageSaid_ = false;
    publisher->dropped_ = 0;
  }
  // Subscribed again at each connection: a clean session forgets it.
  if (publisher->trigger_) {
    const std::string triggers = publisher->settings_.prefix + "/+/trigger";
    mosquitto_subscribe(publisher->client_, nullptr, triggers.c_str(), kQos);
  }
  publisher->say_(line);
}

void MqttPublisher::OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
  auto* publisher = static_cast<MqttPublisher*>(self);
  const std::string topic = message->topic ? message->topic : "";
  const std::string head = publisher->settings_.prefix + "/";
  const std::string tail = "/trigger";
  if (topic.size() <= head.size() + tail.size() || topic.rfind(head, 0) != 0 ||
      topic.compare(topic.size() - tail.size(), tail.size(), tail) != 0)
    return;
  const std::string camera = topic.substr(head.size(), topic.size() - head.size() - tail.size());
  if (camera.find('/') != std::string::npos) return;
  std::string payload(static_cast<const char*>(message->payload),
                      std::min<std::size_t>(message->payloadlen > 0 ? message->payloadlen : 0, 200));
  for (char& c : payload)
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  publisher->trigger_(camera, payload);
}

void MqttPublisher::OnDisconnect(mosquitto*, void* self, int rc) {
  auto* publisher = static_cast<MqttPublisher*>(self);
  std::unique_lock lock(publisher->mutex_);
  publisher->connected_ = false;
  if (rc == 0 || publisher->outageSaid_) return;  // 0: we asked for it
  publisher->outageSaid_ = true;
  lock.unlock();
  publisher->say_("MQTT broker " + publisher->address_.Shown() + " lost (" + mosquitto_strerror(rc) +
                  "); messages wait, connecting again");
}

void MqttPublisher::OnPublish(mosquitto*, void* self, int) {
  auto* publisher = static_cast<MqttPublisher*>(self);
  std::lock_guard lock(publisher->mutex_);
  if (publisher->unacknowledged_ > 0) --publisher->unacknowledged_;
}

namespace {

struct TestState {
  std::mutex mutex;
  std::condition_variable changed;
  int connectResult = -1;
  bool published = false;
  bool disconnected = false;
};

}  // namespace

std::string MqttPublisher::SendTest(const MqttSettings& settings, std::chrono::milliseconds timeout) {
  BrokerAddress address;
  std::string error;
  if (!ParseBrokerUrl(settings.url, address, error)) return error;
  TestState state;
  MqttSettings test = settings;
  test.clientId = (settings.clientId.empty() ? DefaultClientId() : settings.clientId) + "-test";
  std::unique_ptr<mosquitto, void (*)(mosquitto*)> client(NewClient(test, address, &state, error),
                                                          [](mosquitto* c) { mosquitto_destroy(c); });
  if (!client) return error;
  mosquitto_connect_callback_set(client.get(), [](mosquitto*, void* self, int rc) {
    auto* s = static_cast<TestState*>(self);
    std::lock_guard lock(s->mutex);
    s->connectResult = rc;
    s->changed.notify_all();
  });
  mosquitto_publish_callback_set(client.get(), [](mosquitto*, void* self, int) {
    auto* s = static_cast<TestState*>(self);
    std::lock_guard lock(s->mutex);
    s->published = true;
    s->changed.notify_all();
  });
  mosquitto_disconnect_callback_set(client.get(), [](mosquitto*, void* self, int) {
    auto* s = static_cast<TestState*>(self);
    std::lock_guard lock(s->mutex);
    s->disconnected = true;
    s->changed.notify_all();
  });
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  if (mosquitto_connect_async(client.get(), address.host.c_str(), address.port, kKeepAliveSeconds) != MOSQ_ERR_SUCCESS)
    return "cannot reach " + address.Shown();
  mosquitto_loop_start(client.get());
  std::string result;
  {
    std::unique_lock lock(state.mutex);
    if (!state.changed.wait_until(lock, deadline, [&] { return state.connectResult >= 0 || state.disconnected; }))
      result = address.Shown() + " did not answer";
    else if (state.connectResult != 0)
      result = address.Shown() + " refused us: " +
               (state.connectResult > 0 ? mosquitto_connack_string(state.connectResult) : "connection closed");
  }
  if (result.empty()) {
    const Notice notice = TestNotice(std::chrono::system_clock::now());
    const std::string topic = settings.prefix + "/" + notice.topic;
    mosquitto_publish(client.get(), nullptr, topic.c_str(), static_cast<int>(notice.payload.size()),
                      notice.payload.data(), kQos, false);
    std::unique_lock lock(state.mutex);
    if (!state.changed.wait_until(lock, deadline, [&] { return state.published || state.disconnected; }) ||
        !state.published)
      result = address.Shown() + " did not confirm the message";
  }
  mosquitto_disconnect(client.get());
  mosquitto_loop_stop(client.get(), false);
  return result;
}

}  // namespace zent
