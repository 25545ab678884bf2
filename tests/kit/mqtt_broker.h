#pragma once
// A real MQTT broker for tests, Debian's mosquitto on a free loopback port (with TLS and a
// password file when asked), and a subscriber to it built on libmosquitto.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/child_process.h"

struct mosquitto;

namespace zent::testing {

class MqttBroker {
 public:
  struct Setup {
    bool tls = false;  // a self-signed certificate for 127.0.0.1, its CA file beside it
    std::string user;  // with a password file when set
    std::string password;
  };
  // Files go into `folder`, which must exist.
  MqttBroker(const std::string& folder, Setup setup);
  ~MqttBroker();

  bool Running() const { return process_ != nullptr; }
  int Port() const { return port_; }
  std::string Url() const;
  const std::string& CaFile() const { return caFile_; }
  // Stops it; Start brings it back on the same port, with nothing retained.
  void Stop();
  bool Start();

 private:
  std::string folder_;
  Setup setup_;
  int port_ = 0;
  std::string config_;
  std::string caFile_;
  std::unique_ptr<camsim::ChildProcess> process_;
};

struct MqttMessage {
  std::string topic;
  std::string payload;
  bool retained = false;
  std::chrono::steady_clock::time_point at;  // when it arrived here
};

class MqttSubscriber {
 public:
  // Subscribes to `filter` ("zent/#") and collects what arrives.
  MqttSubscriber(const MqttBroker& broker, const std::string& filter, const std::string& user = {},
                 const std::string& password = {});
  ~MqttSubscriber();
  bool Subscribed(std::chrono::milliseconds timeout);
  // The first message from `from` on that `match` accepts.
  std::optional<MqttMessage> WaitFor(const std::function<bool(const MqttMessage&)>& match,
                                     std::chrono::milliseconds timeout, std::size_t from = 0);
  std::vector<MqttMessage> Messages();
  // Publishes as this client; false when the library refused it.
  bool Publish(const std::string& topic, const std::string& payload);

 private:
  mosquitto* client_ = nullptr;
  std::string filter_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<MqttMessage> messages_;
  bool subscribed_ = false;
};

}  // namespace zent::testing
