#pragma once
// Publishes notices to an MQTT broker through libmosquitto, on the library's network thread:
// the caller never waits for the broker. It connects by itself and again after a loss; what is
// sent meanwhile waits in a bounded queue (the oldest give way, counted, and said once an outage).
// The last will marks the program offline; retained state is published again at each connection.

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <string>

#include "notify/broker_address.h"
#include "notify/notice.h"

struct mosquitto;
struct mosquitto_message;

namespace zent {

struct MqttSettings {
  std::string url;              // mqtt://host:1883 or mqtts://host:8883
  std::string prefix = "zent";  // every topic below it
  std::string clientId;         // empty: one made from the host's name and the process id
  std::string user, password;   // the broker's; never from the Options file
  std::string caFile;           // mqtts: the broker's CA, else the system's
  bool operator==(const MqttSettings&) const = default;
};

class MqttPublisher : public NoticeSink {
 public:
  using Say = std::function<void(const std::string&)>;  // from any thread
  // A message on PREFIX/CAMERA/trigger: the camera's topic name and the payload (at most 200
  // bytes, one line), on the client's thread.
  using Trigger = std::function<void(const std::string& camera, const std::string& payload)>;
  // Checks the URL; Error() says why nothing will be sent. With `trigger`, listens for triggers.
  MqttPublisher(MqttSettings settings, Say say, Trigger trigger = nullptr);
  ~MqttPublisher() override;  // says "offline" and disconnects
  MqttPublisher(const MqttPublisher&) = delete;
  MqttPublisher& operator=(const MqttPublisher&) = delete;

  const std::string& Error() const { return error_; }
  void Send(const Notice& notice) override;

  // Connects, publishes one test message and waits for the broker to take it; empty when it did,
  // else why not. Blocks up to `timeout`: not for a GUI thread.
  static std::string SendTest(const MqttSettings& settings, std::chrono::milliseconds timeout);

 private:
  static void OnConnect(mosquitto*, void* self, int rc);
  static void OnDisconnect(mosquitto*, void* self, int rc);
  static void OnPublish(mosquitto*, void* self, int mid);
  static void OnMessage(mosquitto*, void* self, const ::mosquitto_message* message);
  void Publish(const Notice& notice);  // with mutex_ held, connected
  std::string Topic(const Notice& notice) const;

  const MqttSettings settings_;
  const Say say_;
  const Trigger trigger_;
  BrokerAddress address_;
  std::string error_;
  mosquitto* client_ = nullptr;

  std::mutex mutex_;
  bool connected_ = false;
  bool outageSaid_ = false;
  std::deque<Notice> pending_;
  std::map<std::string, Notice> retained_;  // the last of each retained topic, for a new connection
  std::uint64_t dropped_ = 0;
  std::int64_t unacknowledged_ = 0;

  // A broker that cannot be reached at start is tried again here until it answers; from then on
  // the client's own thread keeps the connection.
  void ConnectUntilReached();
  std::condition_variable stopWaiting_;
  bool stopping_ = false;
  std::thread connecting_;
};

}  // namespace zent
