// The configuration dialog and applying its outcome, offscreen.

#include <sys/resource.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <csignal>

#include "config/profile_file.h"
#include "gui_fixture.h"

namespace zent::testing {
namespace {

const std::string kThree =
    "1,/v/a.avi,a.avi,1,5,cam-one,11000,8080,40008,15.,1,0,0, ,l.txt;"
    "0,/v/b.avi,b.avi,0,6,cam-two,11001,8081,40009,2.5,1,1,2,/var/log/z,l2.txt;"
    "1,/v/c.avi,c.avi,1,7,cam-three,11002,8082,40010,3.5,0,1,1,/tmp/logs/x,third.txt;";

class ConfigDialog : public GuiTest {
 protected:
  void Select(int index) {
    dlg->m_comboCamera->setCurrentIndex(index);
    dlg->OnSelchangeCamera();
  }
  // Runs the Configuration button with `actions` done inside the open dialog; a dialog still
  // open afterwards is closed with Close.
  void Configure(const std::function<void(CConfigDlg&)>& actions) {
    QTimer::singleShot(0, [&] {
      actions(dlg->m_dlgConfig);
      if (dlg->m_dlgConfig.isVisible()) Click(IDC_CLOSE);
    });
    static_cast<QPushButton*>(dlg->GetDlgItem(IDC_CONFIGURATION))->click();
  }
  void Click(int id) { static_cast<QPushButton*>(dlg->m_dlgConfig.GetDlgItem(id))->click(); }
  QLineEdit* Box(int id) { return static_cast<QLineEdit*>(dlg->m_dlgConfig.GetDlgItem(id)); }
  QStringList Cameras() {
    QStringList list;
    for (int i = 0; i < dlg->m_comboCamera->count(); ++i) list << dlg->m_comboCamera->itemText(i);
    return list;
  }
  std::vector<std::string> Addresses() {
    std::vector<std::string> list;
    for (const auto& p : ReadProfiles(configPath(), false).profiles) list.push_back(p.cameraAddress);
    return list;
  }
  bool Applied() { return HasStatus(*dlg->m_listStatus, "Configuration applied."); }

  void Start(const std::string& file) {
    if (!file.empty()) WriteFile(configPath(), file);
    dlg = std::make_unique<CMainDlg>();
  }
  std::unique_ptr<CMainDlg> dlg;
};

TEST_F(ConfigDialog, OpensOnTheSelectedCameraWithItsNumbers) {
  Start(kThree);
  Select(1);
  const CameraProfile before = dlg->m_currentProfile;
  Configure([&](CConfigDlg& config) {
    EXPECT_EQ(config.windowTitle(), "Jpeg ZENT Client Configuration");
    EXPECT_EQ(Box(IDC_CAMERA_ADDRESS)->text(), "cam-two");
    EXPECT_EQ(Box(IDC_PRIVATE_PORT)->text(), "11001");
    EXPECT_EQ(Box(IDC_VIDEO_PORT)->text(), "8081");
    EXPECT_EQ(Box(IDC_FILE_MINUTES)->text(), "6");
    EXPECT_EQ(Box(IDC_AUDIO_PORT)->text(), "40009");
    EXPECT_EQ(Box(IDC_SAVE_PATH)->text(), "/v/b.avi");
    for (int id : {IDC_FILE_MINUTES, IDC_CAMERA_ADDRESS, IDC_PRIVATE_PORT, IDC_VIDEO_PORT, IDC_AUDIO_PORT})
      EXPECT_FALSE(config.GetDlgItem(id)->isEnabled()) << id;
    EXPECT_FALSE(config.GetDlgItem(IDC_BROWSE_PATH)->isEnabled());  // saving is off for this camera
    EXPECT_FALSE(config.GetDlgItem(IDC_AUDIO_PORT)->isVisible());
    EXPECT_FALSE(config.GetDlgItem(IDC_ENABLE_SAVING)->isVisible());
    EXPECT_EQ(config.m_selection, 1);
    Click(IDC_SAVE);  // neither Add nor Modify chosen yet: nothing happens
    EXPECT_TRUE(config.isVisible());
  });
  EXPECT_EQ(dlg->m_currentProfile, before);
  EXPECT_FALSE(Applied());
  EXPECT_EQ(ReadFile(configPath()), kThree);
}

TEST_F(ConfigDialog, AddWithTheDefaultsAppendsSelectsAndApplies) {
  Start(kThree);
  Configure([&](CConfigDlg& config) {
    Click(IDC_ADD);
    EXPECT_TRUE(Box(IDC_CAMERA_ADDRESS)->isEnabled());
    // The address is to be completed; anything but a host name or an IPv4 address could send the
    // video URL, with the password, elsewhere.
    for (const char* address : {"192.168.1.", "10.0.0.7 @evil.xx"}) {
      Box(IDC_CAMERA_ADDRESS)->setText(address);
      Click(IDC_SAVE);
      EXPECT_TRUE(config.isVisible());
    }
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text,
              "Address of Network Camera must be a host name (such as door-cam.local) or an IPv4 "
              "address (such as 192.168.1.7), and nothing else.");
    Box(IDC_CAMERA_ADDRESS)->setText("192.168.1.7");
    Click(IDC_SAVE);
  });
  EXPECT_EQ(Cameras(), (QStringList{"cam-one", "cam-two", "cam-three", "192.168.1.7"}));
  EXPECT_EQ(dlg->m_comboCamera->currentIndex(), 3);
  const ProfileList profiles = ReadProfiles(configPath(), false).profiles;
  ASSERT_EQ(profiles.size(), 4u);
  EXPECT_EQ(profiles[3].cameraAddress, "192.168.1.7");
  EXPECT_EQ(profiles[3].privatePort, 11000);
  EXPECT_EQ(profiles[3].videoPort, 8080);
  EXPECT_EQ(profiles[3].audioPort, 40008);
  EXPECT_EQ(profiles[3].fileMinutes, 1);
  EXPECT_EQ(profiles[3].logPath, " ");
  EXPECT_EQ(dlg->m_currentProfile.cameraAddress, "192.168.1.7");
  EXPECT_TRUE(Applied());
}

TEST_F(ConfigDialog, ModifyReplacesTheSelectedCameraOnly) {
  Start(kThree);
  Select(2);
  dlg->m_currentProfile.logPath = "/kept/log";
  Configure([&](CConfigDlg&) {
    Click(IDC_MODIFY);
    Box(IDC_CAMERA_ADDRESS)->setText("new-cam");
    Click(IDC_SAVE);
  });
  EXPECT_EQ(Cameras(), (QStringList{"cam-one", "cam-two", "new-cam"}));
  EXPECT_EQ(dlg->m_comboCamera->currentIndex(), 2);
  EXPECT_EQ(Addresses(), (std::vector<std::string>{"cam-one", "cam-two", "new-cam"}));
  EXPECT_EQ(dlg->m_currentProfile.cameraAddress, "new-cam");
  EXPECT_EQ(dlg->m_currentProfile.logToFile, 0);
  EXPECT_EQ(dlg->m_currentProfile.logPeriod, 0);
  EXPECT_EQ(dlg->m_currentProfile.logPath, "/kept/log");
  EXPECT_TRUE(Applied());
}

TEST_F(ConfigDialog, LengthSixtyOneIsRefusedOnModifyAndStoredOnAdd) {
  Start(kThree);
  Configure([&](CConfigDlg& config) {
    Click(IDC_MODIFY);
    Box(IDC_FILE_MINUTES)->setText("61");
    Click(IDC_SAVE);
    EXPECT_TRUE(config.isVisible());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Saving time must be 1 ~ 60 Minute.");
    EXPECT_EQ(boxes[0].caption, "Saving Time Error!");
    EXPECT_EQ(config.m_mode, 2);
    Click(IDC_ADD);
    Box(IDC_CAMERA_ADDRESS)->setText("192.168.1.9");
    Box(IDC_FILE_MINUTES)->setText("61");
    Click(IDC_SAVE);
  });
  EXPECT_EQ(ReadProfiles(configPath(), false).profiles.back().fileMinutes, 61);
}

TEST_F(ConfigDialog, DeletingTheFirstOfThreeLeavesNothingSelected) {
  Start(kThree);
  Select(0);
  const CameraProfile before = dlg->m_currentProfile;
  Configure([&](CConfigDlg&) { Click(IDC_DELETE); });
  EXPECT_EQ(Cameras(), (QStringList{"cam-two", "cam-three"}));
  EXPECT_EQ(dlg->m_comboCamera->currentIndex(), -1);
  EXPECT_EQ(dlg->m_dlgConfig.m_selection, -1);
  EXPECT_EQ(Addresses(), (std::vector<std::string>{"cam-two", "cam-three"}));
  EXPECT_EQ(dlg->m_currentProfile, before);  // nothing selected: nothing to apply
  EXPECT_FALSE(Applied());
}

TEST_F(ConfigDialog, DeletingTheOnlyCameraDeletesTheFileAndRestoresTheDefaults) {
  Start("1,/v/a.avi,a.avi,1,5,cam-one,11000,8080,40008,15.,1,1,1,/logs/x,l.txt;");
  Configure([&](CConfigDlg&) { Click(IDC_DELETE); });
  EXPECT_FALSE(std::filesystem::exists(configPath()));
  EXPECT_EQ(dlg->m_currentProfile.cameraAddress, "192.168.1.");
  EXPECT_EQ(dlg->m_currentProfile.privatePort, 11000);
  EXPECT_EQ(dlg->m_currentProfile.fileMinutes, 10);
  EXPECT_EQ(dlg->m_currentProfile.savePath, documents() + "/zent.avi");
  EXPECT_EQ(dlg->m_currentProfile.logToFile, 0);
  EXPECT_EQ(dlg->m_currentProfile.logPath, "tmpPath");
  EXPECT_EQ(dlg->m_currentProfile.logFileName, "zent_log.txt");
  EXPECT_FALSE(Applied());
}

TEST_F(ConfigDialog, BrowsingSetsThePathAndPutsEveryBoxBack) {
  Start(kThree);
  QString askedFolder;
  dlg->m_dlgConfig.SetSaveFileChooser([&](QWidget*, const QString& folder) -> std::optional<QString> {
    askedFolder = folder;
    return QString("/videos/door.avi");
  });
  Configure([&](CConfigDlg& config) {
    Click(IDC_MODIFY);
    Box(IDC_CAMERA_ADDRESS)->setText("typed but not saved");
    Click(IDC_BROWSE_PATH);
    EXPECT_EQ(Box(IDC_SAVE_PATH)->text(), "/videos/door.avi");
    EXPECT_EQ(Box(IDC_CAMERA_ADDRESS)->text(), "cam-one");
    EXPECT_EQ(config.m_saveFileName, "door.avi");
  });
  EXPECT_EQ(askedFolder, "/v");
}

TEST_F(ConfigDialog, ThePathIsChosenNotTypedAndEnterOrEscapeDoNothing) {
  Start(kThree);
  Configure([&](CConfigDlg& config) {
    QLineEdit* path = Box(IDC_SAVE_PATH);
    path->setFocus();
    path->setCursorPosition(path->text().size());
    QTest::keyClicks(path, "x9");
    QTest::keyClick(path, Qt::Key_Backspace);
    EXPECT_EQ(path->text(), "/v/a.avi");
    QTest::keyClick(path, Qt::Key_Minus);
    QTest::keyClick(path, Qt::Key_Space);
    EXPECT_EQ(path->text(), "/v/a.avi- ");
    QTest::keyClick(path, Qt::Key_Return);
    QTest::keyClick(&config, Qt::Key_Escape);
    EXPECT_TRUE(config.isVisible());
  });
  EXPECT_FALSE(Applied());
}

TEST_F(ConfigDialog, TextsThatWouldBreakTheFileAreRefused) {
  Start(kThree);
  for (const char* address : {"", "cam,one", "cam;two"}) {
    boxes.clear();
    Configure([&](CConfigDlg& config) {
      Click(IDC_MODIFY);
      Box(IDC_CAMERA_ADDRESS)->setText(address);
      Click(IDC_SAVE);
      EXPECT_TRUE(config.isVisible());
    });
    ASSERT_EQ(boxes.size(), 1u) << address;
    EXPECT_EQ(boxes[0].text, "Address of Network Camera must not be empty and must not contain \",\" or \";\".");
    EXPECT_EQ(boxes[0].caption, "Error!");
  }
  EXPECT_EQ(ReadFile(configPath()), kThree);
}

TEST_F(ConfigDialog, AFileThatCannotBeWrittenIsReportedAndTheListKept) {
  Start(kThree);
  // The disk "fills" part-way through the rewrite.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  small.rlim_cur = 100;
  ::setrlimit(RLIMIT_FSIZE, &small);
  Configure([&](CConfigDlg& config) {
    Click(IDC_ADD);
    Box(IDC_CAMERA_ADDRESS)->setText("192.168.1.9");
    Click(IDC_SAVE);
    EXPECT_TRUE(config.isVisible());
  });
  ::setrlimit(RLIMIT_FSIZE, &saved);
  // The new camera took the selected one's saving path: the two would delete each other's files.
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].caption, "Warning");
  EXPECT_TRUE(boxes[0].text.startsWith("Camera cam-one also records to /v/a_\u2026.avi."))
      << boxes[0].text.toStdString();
  EXPECT_TRUE(boxes[1].text.startsWith("The camera list could not be saved: Cannot write "))
      << boxes[1].text.toStdString();
  EXPECT_TRUE(boxes[1].text.endsWith("File too large"));
  EXPECT_EQ(Cameras(), (QStringList{"cam-one", "cam-two", "cam-three"}));
  EXPECT_EQ(ReadFile(configPath()), kThree);
  EXPECT_FALSE(Applied());
}

TEST_F(ConfigDialog, AddIntoAFolderInPlaceOfTheFileFailsWithoutChangingTheList) {
  Start("");
  std::filesystem::create_directory(configPath());
  Configure([&](CConfigDlg&) {
    Click(IDC_ADD);
    Box(IDC_CAMERA_ADDRESS)->setText("192.168.1.9");
    Click(IDC_SAVE);
  });
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_TRUE(boxes[0].text.endsWith("Is a directory")) << boxes[0].text.toStdString();
  EXPECT_EQ(dlg->m_comboCamera->count(), 0);
  EXPECT_FALSE(Applied());
}

TEST_F(ConfigDialog, AddingTheFirstCameraCreatesTheFileAndTheDocumentsFolder) {
  std::filesystem::remove_all(documents());
  Start("");
  Configure([&](CConfigDlg&) {
    Click(IDC_ADD);
    Box(IDC_CAMERA_ADDRESS)->setText("10.1.2.3");
    Click(IDC_SAVE);
  });
  EXPECT_EQ(Addresses(), (std::vector<std::string>{"10.1.2.3"}));
  EXPECT_EQ(Cameras(), (QStringList{"10.1.2.3"}));
  EXPECT_EQ(dlg->m_currentProfile.cameraAddress, "10.1.2.3");
  EXPECT_TRUE(Applied());
}

TEST_F(ConfigDialog, OpeningNeverCutsAValueAndSaveRefusesOneOverItsLimit) {
  const std::string longHost = "camera-23-characters.lan";  // 24 bytes, over the box's 20
  const std::string file = "1,/v/a.avi,a.avi,1,100," + longHost + ",11000,8080,40008,15.,1,0,0, ,l.txt;";
  Start(file);
  Configure([&](CConfigDlg& config) {
    EXPECT_EQ(Box(IDC_CAMERA_ADDRESS)->text().toStdString(), longHost);
    EXPECT_EQ(Box(IDC_FILE_MINUTES)->text(), "100");
    Click(IDC_MODIFY);
    QLineEdit* address = Box(IDC_CAMERA_ADDRESS);
    address->setFocus();
    address->setCursorPosition(address->text().size());
    QTest::keyClicks(address, "x");  // typing cannot make it longer
    EXPECT_EQ(address->text().toStdString(), longHost);
    Click(IDC_SAVE);
    EXPECT_TRUE(config.isVisible());
  });
  ASSERT_FALSE(boxes.empty());
  EXPECT_EQ(boxes[0].text, "Please enter no more than 20 characters.");
  EXPECT_EQ(ReadFile(configPath()), file);
  EXPECT_FALSE(Applied());
}

TEST_F(ConfigDialog, ModifyOrDeleteOnAFileThatCannotBeWrittenSaysSoAndChangesNothing) {
  Start(kThree);
  Select(1);
  const CameraProfile before = dlg->m_currentProfile;
  // Something the program cannot write where the file was (as root, permissions would not stop it).
  std::filesystem::remove(configPath());
  std::filesystem::create_directory(configPath());
  for (int button : {IDC_MODIFY, IDC_DELETE}) {
    boxes.clear();
    Configure([&](CConfigDlg& config) {
      if (button == IDC_MODIFY) {
        Click(IDC_MODIFY);
        Box(IDC_CAMERA_ADDRESS)->setText("192.168.1.9");
        Click(IDC_SAVE);
      } else {
        Click(IDC_DELETE);
      }
      EXPECT_TRUE(config.isVisible());
    });
    ASSERT_EQ(boxes.size(), 1u) << button;
    EXPECT_EQ(boxes[0].caption, "Error!");
    EXPECT_EQ(boxes[0].text.toStdString(),
              "The camera list could not be saved: Cannot write " + configPath() + ": Is a directory");
  }
  EXPECT_EQ(Cameras(), (QStringList{"cam-one", "cam-two", "cam-three"}));
  EXPECT_EQ(dlg->m_currentProfile, before);
  EXPECT_FALSE(Applied());
}

TEST_F(ConfigDialog, SaveAfterOpeningAgainDoesNotRepeatTheLastAdd) {
  Start(kThree);
  Configure([&](CConfigDlg&) {
    Click(IDC_ADD);
    Box(IDC_CAMERA_ADDRESS)->setText("192.168.1.9");
    Click(IDC_SAVE);
  });
  Configure([&](CConfigDlg&) { Click(IDC_SAVE); });
  EXPECT_EQ(Addresses().size(), 4u);
}

}  // namespace
}  // namespace zent::testing
