#include "tests/kit/mqtt_broker.h"

#include <arpa/inet.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>

namespace zent::testing {
namespace {

int FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  ::close(fd);
  return port;
}

int Run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

}  // namespace

MqttBroker::MqttBroker(const std::string& folder, Setup setup)
    : folder_(folder), setup_(std::move(setup)), port_(FreeLoopbackPort()), config_(folder + "/mosquitto.conf") {
  std::ofstream config(config_);
  config << "user root\npersistence false\nlog_dest stderr\nlog_type all\n"
         << "listener " << port_ << " 127.0.0.1\n";
  if (setup_.tls) {
    caFile_ = folder_ + "/broker.crt";
    Run("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 "
        "-keyout " +
        folder_ + "/broker.key -out " + caFile_);
    config << "certfile " << caFile_ << "\nkeyfile " << folder_ << "/broker.key\n";
  }
  if (!setup_.user.empty()) {
    const std::string passwords = folder_ + "/passwords";
    Run("mosquitto_passwd -c -b " + passwords + " '" + setup_.user + "' '" + setup_.password + "'");
    config << "password_file " << passwords << "\nallow_anonymous false\n";
  } else {
    config << "allow_anonymous true\n";
  }
  config.close();
  Start();
}

MqttBroker::~MqttBroker() { Stop(); }

std::string MqttBroker::Url() const {
  return std::string(setup_.tls ? "mqtts" : "mqtt") + "://127.0.0.1:" + std::to_string(port_);
}

void MqttBroker::Stop() {
  // Killed, not asked: mosquitto takes a SIGTERM that comes right after its start as nothing.
  if (process_) process_->Signal(SIGKILL);
  process_.reset();
}

bool MqttBroker::Start() {
  process_ = std::make_unique<camsim::ChildProcess>("/usr/sbin/mosquitto", std::vector<std::string>{"-c", config_});
  if (process_->WaitForLine("running", std::chrono::seconds(10))) return true;
  process_.reset();
  return false;
}

bool MqttSubscriber::Publish(const std::string& topic, const std::string& payload) {
  return mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1,
                           false) == MOSQ_ERR_SUCCESS;
}

MqttSubscriber::MqttSubscriber(const MqttBroker& broker, const std::string& filter, const std::string& user,
                               const std::string& password)
    : filter_(filter) {
  mosquitto_lib_init();
  client_ = mosquitto_new(nullptr, true, this);
  if (!user.empty()) mosquitto_username_pw_set(client_, user.c_str(), password.c_str());
  if (!broker.CaFile().empty()) mosquitto_tls_set(client_, broker.CaFile().c_str(), nullptr, nullptr, nullptr, nullptr);
  mosquitto_connect_callback_set(client_, [](mosquitto* client, void* self, int rc) {
    if (rc == 0) mosquitto_subscribe(client, nullptr, static_cast<MqttSubscriber*>(self)->filter_.c_str(), 1);
  });
  mosquitto_subscribe_callback_set(client_, [](mosquitto*, void* self, int, int, const int*) {
    auto* subscriber = static_cast<MqttSubscriber*>(self);
    std::lock_guard lock(subscriber->mutex_);
    subscriber->subscribed_ = true;
    subscriber->changed_.notify_all();
  });
  mosquitto_message_callback_set(client_, [](mosquitto*, void* self, const mosquitto_message* message) {
    auto* subscriber = static_cast<MqttSubscriber*>(self);
    std::lock_guard lock(subscriber->mutex_);
    subscriber->messages_.push_back(
        {message->topic,
         std::string(static_cast<const char*>(message->payload), static_cast<std::size_t>(message->payloadlen)),
         message->retain, std::chrono::steady_clock::now()});
    subscriber->changed_.notify_all();
  });
  mosquitto_connect_async(client_, "127.0.0.1", broker.Port(), 30);
  mosquitto_loop_start(client_);
}

MqttSubscriber::~MqttSubscriber() {
  mosquitto_disconnect(client_);
  mosquitto_loop_stop(client_, false);
  mosquitto_destroy(client_);
}

bool MqttSubscriber::Subscribed(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [this] { return subscribed_; });
}

std::optional<MqttMessage> MqttSubscriber::WaitFor(const std::function<bool(const MqttMessage&)>& match,
                                                   std::chrono::milliseconds timeout, std::size_t from) {
  std::unique_lock lock(mutex_);
  std::optional<MqttMessage> found;
  changed_.wait_for(lock, timeout, [&] {
    for (std::size_t i = from; i < messages_.size(); ++i)
      if (match(messages_[i])) {
        found = messages_[i];
        return true;
      }
    return false;
  });
  return found;
}

std::vector<MqttMessage> MqttSubscriber::Messages() {
  std::lock_guard lock(mutex_);
  return messages_;
}

}  // namespace zent::testing
