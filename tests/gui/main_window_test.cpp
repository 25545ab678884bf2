#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <thread>

#include "app/about_dlg.h"
#include "config/profile_file.h"
#include "gui_fixture.h"
#include "res/strings.h"

namespace zent::testing {
namespace {

const std::string kProfiles[] = {
    "1,/v/a.avi,a.avi,1,5,cam-one,11000,8080,40008,15.,1,0,0, ,l.txt;",
    "0,/v/b.avi,b.avi,0,6,cam-two,11001,8081,40009,2.5,1,1,2,/var/log/z,l2.txt;",
    "1,/v/c.avi,c.avi,1,7,cam-three,11002,8082,40010,3.5,0,1,1,/tmp/logs/x,third.txt;",
};

class MainWindow : public GuiTest {
 protected:
  void WriteThreeProfiles() { WriteFile(configPath(), kProfiles[0] + kProfiles[1] + kProfiles[2]); }
  QPushButton* Button(CMainDlg& dlg, int id) { return static_cast<QPushButton*>(dlg.GetDlgItem(id)); }
};

TEST_F(MainWindow, StartsLoggedOutAndCollapsedWithoutAConfigurationFile) {
  CMainDlg dlg;
  EXPECT_EQ(dlg.windowTitle(), "Jpeg ZENT");
  EXPECT_EQ(dlg.m_comboCamera->count(), 0);
  EXPECT_EQ(dlg.m_editID->text(), "admin");
  EXPECT_EQ(dlg.m_editPassword->text(), "kwolt");
  EXPECT_EQ(dlg.m_editPassword->echoMode(), QLineEdit::Password);
  EXPECT_TRUE(Button(dlg, IDC_LOGIN)->isEnabled());
  EXPECT_FALSE(Button(dlg, IDC_DISCONNECT)->isEnabled());
  EXPECT_TRUE(Button(dlg, IDC_CONFIGURATION)->isEnabled());
  EXPECT_EQ(dlg.m_listStatus->count(), 0);
  EXPECT_EQ(Button(dlg, IDC_EXPAND)->text(), ">>");
  EXPECT_EQ(dlg.m_bCollapsed, 1);
  EXPECT_EQ(dlg.m_bArmed + dlg.m_bRecorderReady + dlg.m_bRecording + dlg.m_bModeChanged + dlg.m_bModeChangeBusy, 0);
  EXPECT_EQ(dlg.m_currentProfile, CameraProfile{});
  EXPECT_TRUE(boxes.empty());
  for (int id :
       {IDC_LOGIN, IDC_ID, IDC_PASSWORD, IDC_CONFIGURATION, IDC_DISCONNECT, IDC_STATUS, IDC_CAMERA, IDC_EXPAND})
    EXPECT_TRUE(dlg.GetDlgItem(id)->objectName().startsWith("IDC_")) << id;
}

TEST_F(MainWindow, ListsEveryProfileInFileOrderAndFollowsTheSelection) {
  WriteThreeProfiles();
  CMainDlg dlg;
  ASSERT_EQ(dlg.m_comboCamera->count(), 3);
  EXPECT_EQ(dlg.m_comboCamera->itemText(0), "cam-one");
  EXPECT_EQ(dlg.m_comboCamera->itemText(2), "cam-three");
  EXPECT_EQ(dlg.m_comboCamera->currentIndex(), 0);
  EXPECT_EQ(dlg.m_strCamera, "cam-one");
  const ProfileList profiles = ParseProfiles(kProfiles[0] + kProfiles[1] + kProfiles[2]);
  EXPECT_EQ(dlg.m_currentProfile, profiles[0]);

  dlg.m_comboCamera->setCurrentIndex(2);
  emit dlg.m_comboCamera->activated(2);
  EXPECT_EQ(dlg.m_currentProfile, profiles[2]);  // every field, the log settings too
  EXPECT_EQ(dlg.m_dlgConfig.m_cameraAddress, "cam-three");
  EXPECT_EQ(dlg.m_dlgConfig.m_privatePort, 11002);
  EXPECT_EQ(dlg.m_dlgConfig.m_logFileName, "third.txt");
  EXPECT_EQ(dlg.m_dlgConfig.m_privatePortText, "11000");  // the number texts are not touched

  // The file deleted by hand: the camera in force stays, the dialog gets the defaults.
  std::filesystem::remove(configPath());
  dlg.m_comboCamera->setCurrentIndex(1);
  emit dlg.m_comboCamera->activated(1);
  EXPECT_EQ(dlg.m_currentProfile, profiles[2]);
  EXPECT_EQ(dlg.m_dlgConfig.m_cameraAddress, "192.168.1.");
  EXPECT_EQ(dlg.m_dlgConfig.m_savePath, documents() + "/zent.avi");
  EXPECT_EQ(dlg.m_dlgConfig.m_fileMinutes, 10);
  EXPECT_FLOAT_EQ(dlg.m_dlgConfig.m_spareReal, 15.0f);
}

TEST_F(MainWindow, CameraTextGoesBackByPrefixWithoutChangingTheProfile) {
  WriteThreeProfiles();
  CMainDlg dlg;
  dlg.m_strCamera = "CAM-T";
  dlg.UpdateData(false);
  EXPECT_EQ(dlg.m_comboCamera->currentIndex(), 1);  // first entry that begins with it, any case
  EXPECT_EQ(dlg.m_currentProfile.cameraAddress, "cam-one");
  dlg.m_strCamera = "elsewhere";
  dlg.UpdateData(false);
  EXPECT_EQ(dlg.m_comboCamera->currentText(), "elsewhere");
}

TEST_F(MainWindow, IdAndPasswordBoxesCapTheirLength) {
  CMainDlg dlg;
  dlg.m_editID->clear();
  QTest::keyClicks(dlg.m_editID, "abcdefghijklmnopqrst");
  EXPECT_EQ(dlg.m_editID->text(), "abcdefghijklmno");
  dlg.m_editPassword->clear();
  QTest::keyClicks(dlg.m_editPassword, "0123456789xyz");
  EXPECT_EQ(dlg.m_editPassword->text(), "0123456789");
  ASSERT_TRUE(dlg.UpdateData(true));
  EXPECT_EQ(dlg.m_strID, "abcdefghijklmno");
  EXPECT_EQ(dlg.m_strPassword, "0123456789");

  // The limit counts the bytes the camera's packet takes: "é" is two of them.
  dlg.m_editPassword->clear();
  QTest::keyClicks(dlg.m_editPassword, "passw");
  dlg.m_editPassword->insert(QString::fromUtf8("ö"));  // as typed: the box's own checks apply
  QTest::keyClicks(dlg.m_editPassword, "rd12");
  EXPECT_EQ(dlg.m_editPassword->text(), QString::fromUtf8("passwörd1"));
}

TEST_F(MainWindow, ExpandAndCollapseKeepTheCornerAndCutBelowTheConfigurationRow) {
  CMainDlg dlg;
  dlg.move(40, 30);
  const QRect camera = dlg.m_comboCamera->geometry();
  const QRect configuration = dlg.GetDlgItem(IDC_CONFIGURATION)->geometry();
  const QRect status = dlg.m_listStatus->geometry();
  auto checkCollapsed = [&] {
    EXPECT_EQ(Button(dlg, IDC_EXPAND)->text(), ">>");
    EXPECT_EQ(dlg.width(), camera.width() + 30);
    EXPECT_GT(dlg.height(), configuration.bottom());  // the Configuration row stays whole
    EXPECT_LE(dlg.height(), status.top() + 1);        // the status window is out of sight
  };
  checkCollapsed();
  Button(dlg, IDC_EXPAND)->click();
  EXPECT_EQ(dlg.m_bCollapsed, 0);
  EXPECT_EQ(Button(dlg, IDC_EXPAND)->text(), "<<");
  EXPECT_GT(dlg.height(), status.bottom());
  EXPECT_EQ(dlg.pos(), QPoint(40, 30));
  dlg.move(100, 80);
  Button(dlg, IDC_EXPAND)->click();
  EXPECT_EQ(dlg.m_bCollapsed, 1);
  checkCollapsed();
  EXPECT_EQ(dlg.pos(), QPoint(100, 80));
}

TEST_F(MainWindow, TheMenuOffersAboutUnlessItsTextIsEmpty) {
  const std::string aboutText = LoadStringResource(IDS_ABOUTBOX);
  for (bool empty : {false, true}) {
    SetStringResource(IDS_ABOUTBOX, empty ? "" : aboutText);
    CMainDlg dlg;
    QMenu menu;
    dlg.FillSystemMenu(menu);
    const auto actions = menu.actions();
    const bool hasAbout = std::any_of(actions.begin(), actions.end(), [](QAction* a) {
      return a->text() == "&About ZENT Client..." && a->data().toInt() == IDM_ABOUTBOX;
    });
    const bool hasSeparator = std::any_of(actions.begin(), actions.end(), [](QAction* a) { return a->isSeparator(); });
    EXPECT_EQ(hasAbout, !empty);
    EXPECT_EQ(hasSeparator, !empty);
  }
  SetStringResource(IDS_ABOUTBOX, aboutText);
}

TEST_F(MainWindow, AboutBoxClosesWithEnterAndLeavesTheWindowAsItWas) {
  CMainDlg dlg;
  dlg.show();
  bool sawAbout = false;
  QTimer::singleShot(50, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    sawAbout = qobject_cast<CAboutDlg*>(modal) != nullptr;
    if (modal) QTest::keyClick(modal, Qt::Key_Return);
  });
  dlg.OnAboutBox();
  EXPECT_TRUE(sawAbout);
  EXPECT_TRUE(dlg.isVisible());
  EXPECT_EQ(dlg.m_editID->text(), "admin");
}

TEST_F(MainWindow, ListBoxesAreWhiteOnTealAndOtherControlsKeepTheirColours) {
  CMainDlg dlg;
  EXPECT_EQ(dlg.m_listStatus->palette().color(QPalette::Base), QColor(54, 143, 159));
  EXPECT_EQ(dlg.m_listStatus->palette().color(QPalette::Text), QColor(Qt::white));
  EXPECT_NE(dlg.m_editID->palette().color(QPalette::Base), QColor(54, 143, 159));
  EXPECT_FALSE(dlg.windowIcon().isNull());
}

TEST_F(MainWindow, TypingWorksOnlyInTheIdAndPasswordBoxes) {
  WriteThreeProfiles();
  CMainDlg dlg;
  dlg.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
  QLineEdit* cameraText = dlg.m_comboCamera->lineEdit();
  QTest::keyClicks(cameraText, "x7");
  QTest::keyClick(cameraText, Qt::Key_Backspace);
  QTest::keyClick(cameraText, Qt::Key_F5);
  EXPECT_EQ(cameraText->text(), "cam-one");
  QTest::keyClick(cameraText, Qt::Key_Minus);  // punctuation is not filtered
  EXPECT_TRUE(cameraText->text().contains('-'));

  dlg.m_editID->clear();
  QTest::keyClicks(dlg.m_editID, "user42");
  QTest::keyClick(dlg.m_editID, Qt::Key_Backspace);
  EXPECT_EQ(dlg.m_editID->text(), "user4");

  // Enter and Escape never act on the window; Alt mnemonics still press buttons.
  QSignalSpy logIn(Button(dlg, IDC_LOGIN), &QPushButton::clicked);
  QTest::keyClick(dlg.m_editPassword, Qt::Key_Return);
  QTest::keyClick(dlg.m_editPassword, Qt::Key_Escape);
  EXPECT_TRUE(dlg.isVisible());
  EXPECT_EQ(dlg.result(), 0);
  EXPECT_EQ(logIn.count(), 0);
  QTest::keyClick(&dlg, Qt::Key_L, Qt::AltModifier);
  EXPECT_TRUE(logIn.wait(1000));  // a mnemonic clicks with a short animation
}

TEST_F(MainWindow, EnterStillPressesOkInAMessageBox) {
  CMainDlg dlg;
  dlg.show();
  QMessageBox box(QMessageBox::NoIcon, "caption", "text", QMessageBox::Ok, &dlg);
  QTimer::singleShot(50, [&] { QTest::keyClick(&box, Qt::Key_Return); });
  EXPECT_EQ(box.exec(), QMessageBox::Ok);
}

TEST_F(MainWindow, StatusLinesFromAnotherThreadKeepTheirOrderInWindowAndLog) {
  profile.logToFile = 1;
  profile.logPeriod = 0;
  profile.logPath = home.file("status.log");
  CMainDlg dlg;
  dlg.m_currentProfile = profile;
  dlg.SetStatusClock([] {
    std::tm t{};
    t.tm_hour = 8;
    t.tm_min = 9;
    t.tm_sec = 10;
    return t;
  });
  constexpr int kLines = 300;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    for (int i = 0; i < kLines; ++i) dlg.AddStatusLine("worker " + std::to_string(i));
    done = true;
  });
  int gui = 0;
  while (!done) {
    if (gui < kLines) dlg.AddStatusLine("gui " + std::to_string(gui++));
    QCoreApplication::processEvents();
  }
  worker.join();
  dlg.LogWriter().Flush();

  ASSERT_EQ(dlg.m_listStatus->count(), kLines + gui);
  EXPECT_EQ(dlg.m_listStatus->currentRow(), dlg.m_listStatus->count() - 1);
  std::string expectedLog;
  int nextWorker = 0, nextGui = 0;
  for (int row = 0; row < dlg.m_listStatus->count(); ++row) {
    const QString line = dlg.m_listStatus->item(row)->text();
    if (line.startsWith("08:09:10 : worker ")) EXPECT_EQ(line, QString("08:09:10 : worker %1").arg(nextWorker++));
    else EXPECT_EQ(line, QString("08:09:10 : gui %1").arg(nextGui++));
    expectedLog += line.toStdString() + "\r\n";
  }
  EXPECT_EQ(nextWorker, kLines);
  EXPECT_EQ(ReadFile(profile.logPath), expectedLog);
}

TEST_F(MainWindow, StatusWindowKeepsTheNewestHundredThousandLines) {
  CMainDlg dlg;
  for (int i = 0; i < kMaxStatusLines + 5; ++i) dlg.AddStatusLine(std::to_string(i));
  ASSERT_EQ(dlg.m_listStatus->count(), kMaxStatusLines);
  EXPECT_TRUE(dlg.m_listStatus->item(0)->text().endsWith(" : 5"));
  EXPECT_TRUE(
      dlg.m_listStatus->item(kMaxStatusLines - 1)->text().endsWith(" : " + QString::number(kMaxStatusLines + 4)));
  EXPECT_EQ(dlg.m_listStatus->currentRow(), kMaxStatusLines - 1);
}

}  // namespace
}  // namespace zent::testing
