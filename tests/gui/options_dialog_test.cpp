// The Options dialog's groups, and its test messages against a real broker and webhook receiver.

#include "app/options/options_dlg.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTest>

#include <QLabel>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>

#include "app/options/motion_zone_grid.h"
#include "gui_fixture.h"
#include "tests/kit/mqtt_broker.h"

namespace zent::testing {
namespace {

class OptionsDialog : public GuiTest {
 protected:
  template <typename T>
  T* Field(COptionsDlg& dialog, const char* name) {
    return dialog.findChild<T*>(name);
  }
  bool Answered(QLabel* label) {
    return WaitUntil([&] { return !label->text().isEmpty() && !label->text().startsWith("Sending"); }, 10000);
  }
};

TEST_F(OptionsDialog, GroupsItsSettingsAndSaysAtOnceWhetherATestMessageArrived) {
  MqttBroker broker(home.path(), {false, "zent", "pw-of-broker"});
  ASSERT_TRUE(broker.Running());
  MqttSubscriber watcher(broker, "house/#", "zent", "pw-of-broker");
  ASSERT_TRUE(watcher.Subscribed(std::chrono::seconds(5)));

  // The stored login of the broker named in the Options fills its boxes.
  Options options;
  options.mqttUrl = broker.Url();
  options.mqttPrefix = "house";
  KeyRing keyRing;
  keyRing.read = [](const QString& key, KeyRing::ReadDone done) {
    done(key.startsWith("mqtt://127.0.0.1:") ? std::optional<QString>("zent\npw-of-broker") : std::nullopt, {});
  };
  COptionsDlg dialog(options, "127.0.0.1", keyRing);
  QStringList tabs;
  for (int i = 0; i < dialog.m_tabs->count(); ++i) tabs << dialog.m_tabs->tabText(i);
  EXPECT_EQ(tabs, (QStringList{"Video", "Recording", "Motion", "Disk", "Notifications"}));
  EXPECT_EQ(Field<QLineEdit>(dialog, "mqttUser")->text(), "zent");

  Field<QPushButton>(dialog, "mqttTest")->click();
  ASSERT_TRUE(Answered(dialog.m_labelBrokerTest));
  EXPECT_EQ(dialog.m_labelBrokerTest->text(), "Arrived at " + QString::fromStdString(broker.Url()) + " (house/test)");
  EXPECT_TRUE(watcher.WaitFor([](const MqttMessage& m) { return m.topic == "house/test"; }, std::chrono::seconds(5)));

  Field<QLineEdit>(dialog, "mqttPassword")->setText("wrong");
  Field<QPushButton>(dialog, "mqttTest")->click();
  ASSERT_TRUE(Answered(dialog.m_labelBrokerTest));
  EXPECT_TRUE(
      dialog.m_labelBrokerTest->text().startsWith("Not sent: " + QString::fromStdString(broker.Url()) + " refused us"))
      << dialog.m_labelBrokerTest->text().toStdString();

  // Nothing listens at the webhook: said, not waited for.
  Field<QPlainTextEdit>(dialog, "webhookUrls")->setPlainText("http://127.0.0.1:9/hook?key=s3cret\n");
  Field<QPushButton>(dialog, "webhookTest")->click();
  ASSERT_TRUE(Answered(dialog.m_labelWebhookTest));
  EXPECT_TRUE(dialog.m_labelWebhookTest->text().startsWith("Not sent: http://127.0.0.1:9/hook: "))
      << dialog.m_labelWebhookTest->text().toStdString();

  // The camera's events: a source the program does not know keeps the dialog open.
  auto* events = Field<QComboBox>(dialog, "cameraEvents");
  EXPECT_EQ(events->currentText(), "camera");
  events->setCurrentText("onvif:port");
  dialog.accept();
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  ASSERT_FALSE(boxes.empty());
  EXPECT_EQ(boxes.back().text, "A camera's events are camera, onvif, onvif:PORT, external or motion.");
  events->setCurrentText("motion");

  // The motion zones: a click on the first cell stops watching it, and a drag paints the same on
  // the cells it reaches; the picture under the grid comes from off the GUI thread.
  auto* grid = Field<MotionZoneGrid>(dialog, "motionZones");
  dialog.m_tabs->setCurrentIndex(2);
  dialog.show();
  dialog.SetSnapshotSource([] {
    Thumbnail picture;
    picture.ok = true;
    picture.width = 32;
    picture.height = 18;
    picture.pixels.assign(32 * 18 * 4, 0x80);
    return picture;
  });
  QTest::mousePress(grid, Qt::LeftButton, {}, QPoint(5, 5));
  QMouseEvent drag(QEvent::MouseMove, QPointF(5 + 24 * 3, 5), grid->mapToGlobal(QPointF(5 + 24 * 3, 5)), Qt::NoButton,
                   Qt::LeftButton, {});
  QApplication::sendEvent(grid, &drag);
  QTest::mouseRelease(grid, Qt::LeftButton, {}, QPoint(5 + 24 * 3, 5));
  EXPECT_TRUE(WaitUntil([&] { return grid->HasPicture(); }, 5000));

  dialog.accept();
  EXPECT_EQ(dialog.Result().cameraEvents.at("127.0.0.1"), "motion");
  EXPECT_EQ(dialog.Result().cameraMotionZones.at("127.0.0.1"), "0110" + std::string(140, '1'));
  EXPECT_EQ(dialog.Result().webhookUrls, std::vector<std::string>{"http://127.0.0.1:9/hook?key=s3cret"});
  EXPECT_EQ(dialog.Result().mqttPrefix, "house");
  EXPECT_EQ(dialog.Login().password, "wrong");  // for the key ring, which the main window writes
}

}  // namespace
}  // namespace zent::testing
