// The Recordings window over a folder of real recordings, offscreen.

#include <QDir>
#include <QPushButton>
#include <QTreeWidget>
#include <sys/stat.h>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "tests/kit/avi_probe.h"
#include "app/recordings/recordings_dlg.h"
#include "app/recordings/thumbnail_loader.h"
#include "gui_fixture.h"
#include "record/kept_mark.h"

namespace zent::testing {
namespace {

class RecordingsWindow : public GuiTest {
 protected:
  RecordingsWindow() {
    folder = home.path() + "/Videos";
    std::filesystem::create_directories(folder);
    services.confirmDelete = [this](QWidget*, const QString& text) {
      asked << text;
      return true;
    };
  }

  std::string File(const std::string& name) const { return folder + "/" + name; }
  std::unique_ptr<CRecordingsDlg> Open() {
    return std::make_unique<CRecordingsDlg>(QString::fromStdString(File("door.avi")), 0.2, QString(), services);
  }
  // The rows under each day, as "day: time time …".
  static QStringList Rows(const CRecordingsDlg& dlg) {
    QStringList rows;
    for (int d = 0; d < dlg.List()->topLevelItemCount(); ++d) {
      const QTreeWidgetItem* day = dlg.List()->topLevelItem(d);
      QString line = QString::number(day->childCount()) + ":";
      for (int r = 0; r < day->childCount(); ++r) line += " " + day->child(r)->text(1);
      rows << line;
    }
    return rows;
  }

  std::string folder;
  QStringList asked;
  DesktopServices services = DesktopServices::Real();
};

TEST_F(RecordingsWindow, ListsOnlyOurRecordingsNewestFirstByDayAndMakesEachPictureOnce) {
  for (const char* name : {"door_20261206_235959.avi", "door_20261207_031502.avi", "door_20261207_031502-1.avi"})
    ASSERT_TRUE(WriteTestAvi(File(name), 10));
  for (const char* other : {"door.avi", "gate_20261207_010101.avi", "door_20261207_0315.avi", "notes.txt"})
    ASSERT_TRUE(WriteTestAvi(File(other), 2));
  std::ofstream(File("door_20261207_040000.avi")) << "RIFF, but cut short";
  // Named like ours but planted: a link out of the folder, and a FIFO that would block a reader.
  ASSERT_TRUE(WriteTestAvi(home.path() + "/elsewhere.avi", 2));
  std::filesystem::create_symlink(home.path() + "/elsewhere.avi", File("door_20261207_050000.avi"));
  ASSERT_EQ(::mkfifo(File("door_20261207_060000.avi").c_str(), 0600), 0);

  auto dlg = Open();
  EXPECT_EQ(Rows(*dlg), (QStringList{"3: 04:00:00 03:15:02 03:15:02", "1: 23:59:59"}));
  EXPECT_TRUE(dlg->List()->topLevelItem(0)->child(1)->data(0, Qt::UserRole).toString().endsWith("-1.avi"));
  ASSERT_TRUE(WaitUntil([&] { return dlg->ThumbnailsDone() == 4; }, 10000));
  EXPECT_EQ(dlg->ThumbnailsFromCache(), 0);
  const QTreeWidgetItem* damaged = dlg->List()->topLevelItem(0)->child(0);
  EXPECT_TRUE(damaged->toolTip(0).contains("No picture: ")) << damaged->toolTip(0).toStdString();
  EXPECT_EQ(dlg->List()->topLevelItem(1)->child(0)->text(2), "0:01");  // ten frames at ten a second

  dlg = Open();  // a second opening decodes nothing
  ASSERT_TRUE(WaitUntil([&] { return dlg->ThumbnailsDone() == 4; }, 10000));
  EXPECT_EQ(dlg->ThumbnailsFromCache(), 4);

  // The cache keeps the newest pictures only.
  const QString cache = ThumbnailLoader::CacheFolder();
  // Pictures made within one tick of the file system's clock share a time: a minute apart instead.
  auto age = std::filesystem::file_time_type::clock::now();
  for (const QString& name : QDir(cache).entryList({"*.png"}, QDir::Files, QDir::Name))
    std::filesystem::last_write_time((cache + "/" + name).toStdString(), age -= std::chrono::minutes(1));
  const QStringList before = QDir(cache).entryList({"*.png"}, QDir::Files, QDir::Time);
  ASSERT_EQ(before.size(), 4);
  ThumbnailLoader::TrimCache(cache, 3);
  EXPECT_EQ(QDir(cache).entryList({"*.png"}, QDir::Files, QDir::Time), before.mid(0, 3));
}

TEST_F(RecordingsWindow, DeleteGoesToTheTrashAndARecordingAppearsAsTheRecorderReportsIt) {
  ASSERT_TRUE(WriteTestAvi(File("door_20261207_031502.avi"), 5));
  auto dlg = Open();
  dlg->List()->setCurrentItem(dlg->List()->topLevelItem(0)->child(0));
  // Kept: the button shows it, and a person's delete takes the mark along.
  auto* keep = dlg->findChild<QPushButton*>("keep");
  keep->click();
  EXPECT_TRUE(keep->isChecked());
  EXPECT_TRUE(IsKept(File("door_20261207_031502.avi")));
  dlg->DeleteSelected();
  EXPECT_EQ(asked.size(), 1);
  EXPECT_FALSE(std::filesystem::exists(File("door_20261207_031502.avi")));
  EXPECT_FALSE(std::filesystem::exists(File("door_20261207_031502.avi.keep")));
  bool inTrash = false;  // the user's trash, or the trash of the file system the file was on
  for (const auto& entry : std::filesystem::recursive_directory_iterator(home.path()))
    inTrash |= entry.path().filename() == "door_20261207_031502.avi" &&
               entry.path().string().find("Trash") != std::string::npos;
  EXPECT_TRUE(inTrash);
  EXPECT_EQ(dlg->List()->topLevelItemCount(), 0);

  // A recording starts: shown at once, without a picture, and it cannot be deleted.
  const std::string now = File("door_20261207_090000.avi");
  std::ofstream(now) << "";
  dlg->RecordingStarted(QString::fromStdString(now));
  ASSERT_EQ(Rows(*dlg), (QStringList{"1: 09:00:00"}));
  QTreeWidgetItem* row = dlg->List()->topLevelItem(0)->child(0);
  EXPECT_EQ(row->text(2), "Recording\u2026");
  dlg->List()->setCurrentItem(row);
  dlg->DeleteSelected();
  EXPECT_EQ(asked.size(), 1);
  EXPECT_TRUE(std::filesystem::exists(now));

  ASSERT_TRUE(WriteTestAvi(now, 20));
  dlg->RecordingSaved(QString::fromStdString(now));
  ASSERT_TRUE(WaitUntil([&] { return dlg->ThumbnailsDone() == 1; }, 10000));
  EXPECT_EQ(row->text(2), "0:02");
}

}  // namespace
// A clip of two recordings is saved off the window's thread into a new file, and only a new one.
TEST_F(RecordingsWindow, SavesAClipOfTwoRecordingsIntoANewFileAndSaysSo) {
  for (const char* name : {"door_20261207_100000.avi", "door_20261207_100015.avi"})
    ASSERT_EQ(std::system(
                  ("ffmpeg -v error -f lavfi -i testsrc=size=160x120:rate=10 -t 10 -c:v mjpeg " + File(name)).c_str()),
              0);
  auto dlg = Open();
  const QString clip = QString::fromStdString(File("clip.mp4"));
  const QDate day(2026, 12, 7);
  dlg->SaveClip(QDateTime(day, QTime(10, 0, 5)), QDateTime(day, QTime(10, 0, 20)), clip);
  ASSERT_TRUE(WaitUntil([&] { return dlg->ClipStatus().startsWith("Saved"); }, 10000))
      << dlg->ClipStatus().toStdString();
  EXPECT_TRUE(dlg->ClipStatus().endsWith("from 2 recordings")) << dlg->ClipStatus().toStdString();
  // Files without their own start begin 0.2 s (the seconds before the event) before their names:
  // 10:00:05.0 to 10:00:09.8 of the first, a gap, 10:00:14.8 to 10:00:19.9 of the second.
  EXPECT_NEAR(ProbeAvi(clip.toStdString()).packets, 48 + 52, 1);
  EXPECT_EQ(DecodeErrors(clip.toStdString()), "");
  const auto size = std::filesystem::file_size(clip.toStdString());
  dlg->SaveClip(QDateTime(day, QTime(10, 0, 5)), QDateTime(day, QTime(10, 0, 6)), clip);
  ASSERT_TRUE(WaitUntil([&] { return dlg->ClipStatus().contains("not saved"); }, 10000));
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_TRUE(boxes[0].text.contains("File exists")) << boxes[0].text.toStdString();
  EXPECT_EQ(std::filesystem::file_size(clip.toStdString()), size);
}

}  // namespace zent::testing
