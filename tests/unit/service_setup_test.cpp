// What the headless recorder records each camera with: the credentials file and the camera list.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "service/camera_list.h"
#include "service/credentials.h"
#include "tests/kit/temp_dir.h"

namespace {

using zent::testing::TempDir;

TEST(ServiceSetup, CredentialsComeOnlyFromAPrivateFileAndNeverShowTheirPasswords) {
  TempDir dir;
  const std::string path = dir.file("credentials");
  zent::testing::WriteFile(path, "# cameras\n\n127.0.0.2 door s3cret\r\n127.0.0.3  shop   other\n");
  ::chmod(path.c_str(), 0640);
  zent::CredentialsFile file = zent::ReadCredentials(path);
  EXPECT_NE(file.error.find("chmod 600"), std::string::npos) << file.error;
  EXPECT_TRUE(file.cameras.empty());

  ::chmod(path.c_str(), 0600);
  file = zent::ReadCredentials(path);
  ASSERT_EQ(file.error, "");
  EXPECT_EQ(file.cameras.at("127.0.0.2"), (zent::CameraCredentials{"door", "s3cret"}));
  EXPECT_EQ(file.cameras.at("127.0.0.3"), (zent::CameraCredentials{"shop", "other"}));

  for (const char* bad :
       {"127.0.0.2 door\n", "127.0.0.2 door longersecret1\n", "127.0.0.2 a s3cret\n127.0.0.2 b s3cret\n"}) {
    zent::testing::WriteFile(path, bad);
    file = zent::ReadCredentials(path);
    EXPECT_NE(file.error.find(" line "), std::string::npos) << bad;
    EXPECT_EQ(file.error.find("secret"), std::string::npos) << file.error;
    EXPECT_TRUE(file.cameras.empty());
  }

  // A FIFO in its place answers at once instead of holding the reader; a file of another user's
  // is refused, since that user could put their own camera passwords in it.
  const std::string fifo = dir.file("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(zent::ReadCredentials(fifo).error, "The credentials file " + fifo + " is not a regular file");
  if (::geteuid() == 0) {
    zent::testing::WriteFile(path, "127.0.0.2 door s3cret\n");
    ASSERT_EQ(::chown(path.c_str(), 4242, 4242), 0);
    EXPECT_EQ(zent::ReadCredentials(path).error,
              "The credentials file " + path + " belongs to another user (uid 4242); it must be this user's or root's");
  }
}

TEST(ServiceSetup, EveryCameraNeedsCredentialsAndAChosenCameraMustBeInTheList) {
  zent::CameraProfile door, shop, doorAgain;
  door.cameraAddress = doorAgain.cameraAddress = "127.0.0.2";
  shop.cameraAddress = "127.0.0.3";
  door.savePath = doorAgain.savePath = "/srv/rec/door.avi";
  shop.savePath = "/srv/rec/shop.avi";
  door.insertTime = shop.insertTime = doorAgain.insertTime = 1;
  doorAgain.fileMinutes = 7;
  zent::CredentialsFile credentials;
  credentials.cameras["127.0.0.2"] = {"door", "pw"};
  zent::Options options;
  options.cameraVideoUrlTemplates["127.0.0.2"] = "rtsp://{address}:{port}/door";

  zent::SetupResult result = zent::BuildSetups({door, shop}, credentials, options, {});
  EXPECT_NE(result.error.find("127.0.0.3"), std::string::npos);

  result = zent::BuildSetups({door, shop, doorAgain}, credentials, options, {"127.0.0.2"});
  ASSERT_EQ(result.error, "");
  ASSERT_EQ(result.cameras.size(), 1u);
  EXPECT_EQ(result.cameras[0].profile, door);  // the first profile of an address counts
  EXPECT_EQ(result.cameras[0].videoUrlTemplate, "rtsp://{address}:{port}/door");
  EXPECT_EQ(result.warnings.size(), 1u);

  result = zent::BuildSetups({door}, credentials, options, {"127.0.0.9"});
  EXPECT_NE(result.error.find("No camera at 127.0.0.9"), std::string::npos);

  // Two cameras whose recordings share a folder and a name would delete each other's as their own.
  credentials.cameras["127.0.0.3"] = {"shop", "pw"};
  shop.savePath = "/srv/rec/door.avi";
  result = zent::BuildSetups({door, shop}, credentials, options, {"127.0.0.2"});
  EXPECT_EQ(result.error.rfind("Cameras 127.0.0.2 and 127.0.0.3 both record to /srv/rec/door_", 0), 0u) << result.error;
  shop.insertTime = 0;  // one fixed name, never deleted
  EXPECT_EQ(zent::BuildSetups({door, shop}, credentials, options, {}).error, "");

  // Each camera's source of events; one the program does not know stops the start, naming the camera.
  options.cameraEvents = {{"127.0.0.2", "onvif:8000"}, {"127.0.0.3", "external"}};
  result = zent::BuildSetups({door, shop}, credentials, options, {});
  ASSERT_EQ(result.error, "");
  EXPECT_EQ(result.cameras[0].events, (zent::EventSourceChoice{zent::EventSourceChoice::Kind::Onvif, 8000}));
  EXPECT_EQ(result.cameras[1].events.kind, zent::EventSourceChoice::Kind::External);
  for (const char* wrong : {"onvif:0", "onvif:", "onvif:80x", "ONVIF", "Motion"}) {
    options.cameraEvents["127.0.0.3"] = wrong;
    result = zent::BuildSetups({door, shop}, credentials, options, {});
    EXPECT_EQ(result.error.rfind("The events of camera 127.0.0.3 are \"" + std::string(wrong) + "\"", 0), 0u)
        << result.error;
  }

  // Motion: a zone mask that is not the grid, or a sub-stream on another host (which would be
  // handed the camera's password), stops the start too.
  options.cameraEvents["127.0.0.3"] = "motion";
  options.cameraMotionUrlTemplates["127.0.0.3"] = "rtsp://{address}:8554/sub";
  options.cameraMotionZones["127.0.0.3"] = std::string(72, '0') + std::string(72, '1');
  result = zent::BuildSetups({door, shop}, credentials, options, {});
  ASSERT_EQ(result.error, "");
  EXPECT_FALSE(result.cameras[1].motion.zones[0]);
  EXPECT_EQ(zent::MotionSourceSettingsFor(result.cameras[1], nullptr).subStreamLabel, "rtsp://127.0.0.3:8554/sub");
  options.cameraMotionZones["127.0.0.3"] = "0101";
  EXPECT_EQ(zent::BuildSetups({door, shop}, credentials, options, {})
                .error.rfind("The motion zones of camera 127.0.0.3 are not", 0),
            0u);
  options.cameraMotionZones.clear();
  options.cameraMotionUrlTemplates["127.0.0.3"] = "rtsp://192.0.2.1:8554/sub";
  EXPECT_NE(zent::BuildSetups({door, shop}, credentials, options, {}).error.find("on another host (192.0.2.1)"),
            std::string::npos);
}

}  // namespace
