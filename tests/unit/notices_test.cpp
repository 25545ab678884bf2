// The messages other systems read: Home Assistant's discovery, topics, times and broker URLs.

#include "notify/notices.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <regex>
#include <set>

#include "notify/broker_address.h"

namespace zent {
namespace {

using Json = nlohmann::json;

TEST(Notices, DiscoveryGivesEachCameraADeviceWithWhatHomeAssistantRequires) {
  const std::vector<Notice> notices = DiscoveryNotices("zent", TopicName("cam+1/#.lan"), "cam+1/#.lan");
  ASSERT_EQ(notices.size(), 3u);
  EXPECT_EQ(notices[0].topic, "homeassistant/binary_sensor/zent_cam_1___lan/motion/config");
  EXPECT_EQ(notices[1].topic, "homeassistant/sensor/zent_cam_1___lan/recording/config");
  EXPECT_EQ(notices[2].topic, "homeassistant/button/zent_cam_1___lan/trigger/config");
  std::set<std::string> ids;
  for (const Notice& notice : notices) {
    EXPECT_TRUE(notice.retained && notice.absoluteTopic && !notice.forWebhooks);
    const Json config = Json::parse(notice.payload);
    ids.insert(config["unique_id"].get<std::string>());
    const std::string topic = config.value("state_topic", config.value("command_topic", ""));
    EXPECT_EQ(topic.rfind("zent/cam_1___lan/", 0), 0u);
    EXPECT_EQ(config["device"]["identifiers"][0], "zent_cam_1___lan");
    EXPECT_EQ(config["device"]["name"], "Camera cam+1/#.lan");
    EXPECT_EQ(config["availability"][0]["topic"], "zent/available");
    EXPECT_EQ(config["availability"][1]["topic"], "zent/cam_1___lan/status");
  }
  EXPECT_EQ(ids.size(), 3u);
  EXPECT_EQ(Json::parse(notices[0].payload)["device_class"], "motion");
  // The event's time as ISO 8601 with milliseconds and the zone.
  EXPECT_TRUE(std::regex_match(IsoTime(std::chrono::system_clock::now()),
                               std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)")));
}

TEST(Notices, BrokerAndWebhookUrlsNeverShowASecret) {
  BrokerAddress address;
  std::string error;
  ASSERT_TRUE(ParseBrokerUrl("mqtts://broker.lan", address, error)) << error;
  EXPECT_EQ(address.port, 8883);
  EXPECT_TRUE(address.tls);
  EXPECT_EQ(address.Key(), "mqtt://broker.lan:8883");
  EXPECT_FALSE(ParseBrokerUrl("mqtt://user:pw@broker.lan:1883", address, error));
  EXPECT_EQ(error.find("pw"), std::string::npos);
  EXPECT_FALSE(ParseBrokerUrl("http://broker.lan", address, error));
  EXPECT_FALSE(ParseBrokerUrl("mqtt://", address, error));
  EXPECT_EQ(ShownUrl("https://u:pw@hooks.lan:8443/a/b?token=abc#x"), "https://hooks.lan:8443/a/b");
}

// Where an event came from: motion with how much of the picture moved, once rounded.
TEST(Notices, AMotionEventSaysItsSourceAndArea) {
  EventOrigin origin{"motion"};
  origin.area = 12.345;
  const Json fields = Json::parse(EventNotice("door", std::chrono::system_clock::now(), 3, origin).payload);
  EXPECT_EQ(fields["source"], "motion");
  EXPECT_EQ(fields["area"], 12.3);
  EXPECT_FALSE(Json::parse(EventNotice("door", {}, 4, EventOrigin{}).payload).contains("area"));
}

}  // namespace
}  // namespace zent
