#pragma once
// A stand-in ONVIF device (Core and Event services, Profile S's media calls) on loopback, written
// from the public specifications: the device's clock, WS-Security UsernameToken digests or HTTP
// Digest, pull-point subscriptions that end unless renewed, and events typed on standard input.
// The addresses it hands out name another host (192.0.2.1) on purpose: a client must take only
// their path and port.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>

struct MHD_Daemon;

namespace camsim {

struct OnvifOptions {
  std::uint32_t address = 0x7F000001;  // host order
  int port = -1;                       // -1: no ONVIF device; 0: any free port
  std::optional<std::string> user, password;
  long clockOffsetSeconds = 0;  // the device's clock minus the true time
  bool digestOnly = false;      // HTTP Digest, no WS-Security
  bool refuseRenew = false;
  int maxTerminationSeconds = 60;
  std::string streamUri = "rtsp://192.0.2.1:554/stream1";
};

class OnvifDevice {
 public:
  explicit OnvifDevice(OnvifOptions options);
  ~OnvifDevice();
  bool Start();  // logs "onvif port N"
  // onvif-motion on|off, onvif-input on|off, onvif-crossed, reboot; false when not one of these.
  bool Command(const std::string& word, const std::string& argument);

  // One whole request: the answer's status and body.
  std::pair<int, std::string> Serve(const std::string& url, const std::string& body, bool digestPassed);
  bool DigestOnly() const { return options_.digestOnly; }
  const OnvifOptions& Options() const { return options_; }

 private:
  struct Message {
    std::string topic, source, data;  // the topic and its SimpleItems, as XML
    std::string operation;
  };
  struct Subscription {
    std::int64_t termination = 0;  // device time
    std::deque<Message> queue;
  };

  bool Authorized(void* envelope) const;
  std::string Pull(int id, int timeoutSeconds, int limit, bool& unknown);
  std::int64_t DeviceNow() const;
  std::string Base() const;
  void Publish(const std::string& topic, const std::string& name, bool value);
  void Expire();  // with mutex_ held

  OnvifOptions options_;
  MHD_Daemon* daemon_ = nullptr;
  int port_ = 0;
  std::mutex mutex_;
  std::condition_variable news_;
  std::map<int, Subscription> subscriptions_;
  int nextId_ = 1;
  bool motion_ = false, input_ = false;
};

}  // namespace camsim
