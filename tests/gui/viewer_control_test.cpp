// The viewer control in a window, offscreen, against zent-camsim.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSignalSpy>
#include <QTest>

#include "tests/kit/avi_probe.h"
#include "gui_fixture.h"
#include "app/record/krl_activex.h"
#include "sim/camsim_process.h"

namespace zent::testing {
namespace {

using camsim::CamSimProcess;

class ViewerControlTest : public GuiTest {
 protected:
  // Creates the control and puts its properties in the order the recording window does.
  CKRLActiveX& Create(int port, const QString& password = "kwolt") {
    auto* viewer = new CKRLActiveX;
    viewer->Create(&window, QRect(0, 0, 320, 260), IDC_VIEWER);
    viewer->SetAddressProp("127.0.0.1");
    viewer->SetReal7(1.0f);
    viewer->SetText12("0");
    viewer->SetUserProp("admin");
    viewer->SetViewWidth(320);
    viewer->SetViewHeight(260);
    viewer->SetPortProp(port);
    viewer->SetBool4(false);
    viewer->SetPasswordProp(password);
    viewer->SetReal10(15.0f);
    viewer->SetBool5(false);
    viewer->SetBool6(false);
    return *viewer;
  }
  QWidget window;
};

TEST_F(ViewerControlTest, TakesTheCallsInOrderAndRecordsBetweenStartAndStop) {
  CamSimProcess camera({"--size", "320x240", "--fps", "10", "--user", "admin", "--password", "kwolt"});
  CKRLActiveX& viewer = Create(camera.VideoPort());
  QSignalSpy reports(&viewer, &ViewerControl::Reported);
  window.resize(325, 285);
  window.show();
  viewer.StartView();
  EXPECT_EQ(viewer.PlaceholderText(), QString("Connecting to 127.0.0.1:%1\u2026").arg(camera.VideoPort()));
  ASSERT_TRUE(WaitUntil([&] { return viewer.HasPicture(); }));
  EXPECT_EQ(viewer.geometry(), QRect(0, 0, 320, 260));

  const QString file = QString::fromStdString(home.file("event.avi"));
  viewer.Record(file, kRecordStart);
  QTest::qWait(1500);
  viewer.Record(file, kRecordStop);
  ASSERT_TRUE(WaitUntil([&] { return reports.count() >= 3; }));
  // The video's arrival first, for the cycle's observers; no status line is made of it.
  auto report = [&](int i) { return reports.at(i + 1).at(0).value<zent::VideoReport>(); };
  EXPECT_EQ(reports.at(0).at(0).value<zent::VideoReport>().kind, zent::VideoReport::Kind::Connected);
  EXPECT_EQ(report(0).text, "Recording to " + file.toStdString());
  EXPECT_EQ(zent::FileEffectOf(report(0)), zent::FileEffect::Started);
  EXPECT_TRUE(report(1).text.starts_with("Saved " + file.toStdString() + ": ")) << report(1).text;
  EXPECT_EQ(zent::FileEffectOf(report(1)), zent::FileEffect::Saved);
  EXPECT_EQ(report(1).path, file.toStdString());
  viewer.StopView();
  const AviProbe probe = ProbeAvi(file.toStdString());
  EXPECT_GE(probe.packets, 10);
  EXPECT_EQ(probe.width, 320);
}

TEST_F(ViewerControlTest, SaysWhyThereIsNoPicture) {
  // A port that nobody listens on any more.
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  CKRLActiveX& viewer = Create(ntohs(address.sin_port));
  window.show();
  viewer.StartView();
  ASSERT_TRUE(WaitUntil([&] { return viewer.PlaceholderText() == "No video: Connection refused"; }))
      << viewer.PlaceholderText().toStdString();
  EXPECT_FALSE(viewer.HasPicture());
  viewer.StopView();
}

TEST_F(ViewerControlTest, ARecordingThatCannotStartRaisesTheDispatchError) {
  CamSimProcess camera({"--size", "160x120"});
  CKRLActiveX& viewer = Create(camera.VideoPort());
  viewer.StartView();
  const QString file = QString::fromStdString(home.file("no/such/folder/event.avi"));
  try {
    viewer.Record(file, kRecordStart);
    FAIL() << "no error raised";
  } catch (const ViewerDispatchError& error) {
    EXPECT_EQ(std::string(error.what()), "Cannot record to " + file.toStdString() + ": No such file or directory");
  }
  viewer.Record(file, kRecordStop);  // a stop without a start is harmless
}

TEST_F(ViewerControlTest, ShowsPicturesOnlyWhileShownAndReportsASizeSwitch) {
  CamSimProcess camera({"--size", "160x120", "--fps", "15", "--user", "admin", "--password", "kwolt"});
  CKRLActiveX& viewer = Create(camera.VideoPort());
  QSignalSpy modeChanges(&viewer, &ViewerControl::VideoModeChanged);
  viewer.StartView();
  QTest::qWait(700);
  EXPECT_FALSE(viewer.HasPicture());  // its window is hidden
  window.show();
  ASSERT_TRUE(WaitUntil([&] { return viewer.HasPicture(); }));
  camera.Command("size 320x240");
  ASSERT_TRUE(WaitUntil([&] { return modeChanges.count() == 1; }));
  QTest::qWait(300);
  EXPECT_EQ(modeChanges.count(), 1);
  window.hide();
  EXPECT_FALSE(viewer.HasPicture());
}

}  // namespace
}  // namespace zent::testing
