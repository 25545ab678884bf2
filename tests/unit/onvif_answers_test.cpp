// What the program reads from a camera's ONVIF answers, and what it refuses to read.

#include "onvif/onvif_answers.h"

#include <gtest/gtest.h>

#include "onvif/onvif_session.h"
#include "onvif/soap_client.h"

namespace zent::onvif {
namespace {

std::string Envelope(const std::string& body, const std::string& prologue = "") {
  return prologue +
         "<e:Envelope xmlns:e=\"http://www.w3.org/2003/05/soap-envelope\" "
         "xmlns:t=\"http://www.onvif.org/ver10/schema\"><e:Body>" +
         body + "</e:Body></e:Envelope>";
}

TEST(OnvifAnswers, NotificationsAreReadWhateverThePrefixesAndStateIsNoEvent) {
  const Answer answer(Envelope(
      "<x:PullMessagesResponse xmlns:x=\"urn:a\"><x:CurrentTime>2026-12-09T03:40:00Z</x:CurrentTime>"
      "<x:TerminationTime>2026-12-09T05:41:00+02:00</x:TerminationTime>"
      "<n:NotificationMessage xmlns:n=\"urn:b\"><n:Topic>tns1:RuleEngine/CellMotionDetector/Motion</n:Topic>"
      "<n:Message><t:Message PropertyOperation=\"Initialized\"><t:Source><t:SimpleItem Name=\"Token\" Value=\"1\"/>"
      "</t:Source><t:Data><t:SimpleItem Name=\"IsMotion\" Value=\"true\"/></t:Data></t:Message></n:Message>"
      "</n:NotificationMessage>"
      "<n:NotificationMessage xmlns:n=\"urn:b\"><n:Topic>tns1:RuleEngine/CellMotionDetector/Motion</n:Topic>"
      "<n:Message><t:Message PropertyOperation=\"Changed\"><t:Source><t:SimpleItem Name=\"Token\" Value=\"1\"/>"
      "</t:Source><t:Data><t:SimpleItem Name=\"IsMotion\" Value=\"false\"/></t:Data></t:Message></n:Message>"
      "</n:NotificationMessage></x:PullMessagesResponse>"));
  ASSERT_TRUE(answer.Valid());
  const Messages messages = answer.PulledMessages();
  ASSERT_EQ(messages.notifications.size(), 2u);
  EXPECT_EQ(*messages.terminationTime - *messages.currentTime, 60);  // +02:00 is two hours ahead of UTC
  EXPECT_FALSE(ParseDateTime("2026-12-09T03:40:1e300Z"));            // once found by the fuzz target
  EXPECT_FALSE(ParseDateTime("2026-12-09T03:40:nanZ"));
  EXPECT_EQ(messages.notifications[0].operation, "Initialized");
  EXPECT_EQ(messages.notifications[1].data, (Items{{"IsMotion", "false"}}));

  EdgeDetector edges({});
  EXPECT_FALSE(edges.Feed(messages.notifications[0]));  // true at subscription: a state
  EXPECT_FALSE(edges.Feed(messages.notifications[1]));
  Notification rise = messages.notifications[1];
  rise.data = {{"IsMotion", "true"}};
  EXPECT_EQ(edges.Feed(rise)->item, "IsMotion=true");
  EXPECT_FALSE(edges.Feed(rise));  // true again
  rise.topic = "tns1:Monitoring/ProcessorUsage";
  EXPECT_FALSE(edges.Feed(rise));  // not a watched topic
}

TEST(OnvifAnswers, EntitiesDocumentTypesAndOversizedAnswersAreRefused) {
  const std::string bomb =
      "<?xml version=\"1.0\"?><!DOCTYPE e:Envelope [<!ENTITY a \"aaaaaaaaaa\">"
      "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
      "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\"><!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">]>";
  EXPECT_FALSE(Answer(Envelope("<t:Uri>&e;</t:Uri>", bomb)).Valid());
  const std::string external =
      "<?xml version=\"1.0\"?><!DOCTYPE e:Envelope [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>";
  const Answer leak(Envelope("<t:MediaUri><t:Uri>&x;</t:Uri></t:MediaUri>", external));
  EXPECT_FALSE(leak.Valid());
  EXPECT_EQ(leak.StreamUri(), "");
  EXPECT_FALSE(Answer(Envelope("<t:Uri>" + std::string(kMaxAnswerBytes, 'x') + "</t:Uri>")).Valid());
  EXPECT_FALSE(Answer("<Envelope><Body/></Envelope").Valid());
  EXPECT_EQ(Answer(Envelope("<t:MediaUri><t:Uri>rtsp://c/1</t:Uri></t:MediaUri>")).StreamUri(), "rtsp://c/1");
}

// A camera's addresses name hosts of their own; only their path and port are taken, on ours.
TEST(OnvifAnswers, AddressesTheCameraGivesKeepOnlyTheirPathAndPort) {
  EXPECT_EQ(OnConfiguredHost("rtsp://user:pw@192.0.2.1:8554/s?x=1#top", "cam.lan", 554), "rtsp://cam.lan:8554/s?x=1");
  EXPECT_EQ(OnConfiguredHost("http://evil.example/onvif/events", "10.0.0.7", 8000),
            "http://10.0.0.7:8000/onvif/events");
  EXPECT_EQ(OnConfiguredHost("http://[fe80::1]:81", "10.0.0.7", 80), "http://10.0.0.7:81/");
  for (const char* wrong : {"", "/onvif/events", "http://h:99999/", "http://h:8o/", "1ttp://h/"})
    EXPECT_EQ(OnConfiguredHost(wrong, "10.0.0.7", 80), "") << wrong;
}

}  // namespace
}  // namespace zent::onvif
