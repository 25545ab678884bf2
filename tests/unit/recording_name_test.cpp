#include "record/recording_name.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "record/recording_catalog.h"
#include "tests/kit/temp_dir.h"

namespace zent {
namespace {

std::tm EventTime() {
  const std::time_t time = RecordingStamp{2007, 9, 18, 7, 4, 46}.Time();
  std::tm local{};
  ::localtime_r(&time, &local);
  return local;
}

TEST(RecordingFileName, TimeReplacesTheExtension) {
  EXPECT_EQ(RecordingFileName("/video/cam.avi", 1, EventTime()), "/video/cam_20070918_070446.avi");
  EXPECT_EQ(RecordingFileName("/video/cam.old.avi", 1, EventTime()), "/video/cam.old_20070918_070446.avi");
  EXPECT_EQ(RecordingFileName("/video/cam", 1, EventTime()), "/video/cam_20070918_070446.avi");
  EXPECT_EQ(RecordingFileName("cam.avi", 1, EventTime()), "cam_20070918_070446.avi");
  // MP4 recordings: the same name with their own extension, and the same rule reads them back.
  EXPECT_EQ(RecordingFileName("/video/cam.avi", 1, EventTime(), ".mp4"), "/video/cam_20070918_070446.mp4");
  EXPECT_TRUE(IsRecordingName("cam_20070918_070446-2.mp4", "cam"));
  EXPECT_FALSE(IsRecordingName("cam_20070918_070446.mkv", "cam"));
  EXPECT_EQ(RecordingStem("cam_20070918_070446.MP4"), "cam");
}

TEST(RecordingFileName, ADotInAFolderNameIsNoExtension) {
  EXPECT_EQ(RecordingFileName("/data/a.b/clip", 1, EventTime()), "/data/a.b/clip_20070918_070446.avi");
  EXPECT_EQ(RecordingFileName("/home/jane.doe/Videos/door.avi", 1, EventTime()),
            "/home/jane.doe/Videos/door_20070918_070446.avi");
}

TEST(RecordingFileName, WithoutTheTimeThePathIsUsedAsItIs) {
  for (int off : {0, 2, -1}) EXPECT_EQ(RecordingFileName("/video/cam", off, EventTime()), "/video/cam");
  EXPECT_EQ(RecordingFileName("/video/cam.avi", 0, EventTime()), "/video/cam.avi");
}

// Both front ends' week charts: each recording in the hour its name says, the 168 hours ending
// with this one, a day in the middle of a month's and a year's turn alike.
TEST(RecordingWeek, EachRecordingCountsInTheHourItsNameSays) {
  RecordingStamp stamp;
  ASSERT_TRUE(ReadStamp("cam_20270101_000000-2.avi", stamp));
  EXPECT_EQ(stamp.Day(), "2027-01-01");
  EXPECT_FALSE(ReadStamp("cam_2027011_000000.avi", stamp));
  const std::time_t now = RecordingStamp{2027, 1, 1, 12, 30, 0}.Time();
  std::vector<RecordingStamp> stamps;
  for (const char* name : {"c_20261225_125959.avi",  // one hour too old
                           "c_20261225_130000.avi",  // the first hour shown
                           "c_20261231_235959.avi", "c_20270101_000000.avi", "c_20270101_000000-1.avi",
                           "c_20270101_123000.avi",   // this hour
                           "c_20270101_130000.avi"})  // to come
    ASSERT_TRUE(ReadStamp(name, stamps.emplace_back()));
  const std::vector<int> hours = CountLastWeek(stamps, now);
  ASSERT_EQ(hours.size(), 168u);
  EXPECT_EQ(hours.front(), 1);
  EXPECT_EQ(hours[167 - 12 - 1], 1);  // 23:00 on New Year's Eve
  EXPECT_EQ(hours[167 - 12], 2);
  EXPECT_EQ(hours.back(), 1);
  int total = 0;
  for (const int count : hours) total += count;
  EXPECT_EQ(total, 5);
  const auto days = CountByHour(stamps, DayNumberOf(now) - 6, 7);
  EXPECT_EQ(days[6][0], 2);
  EXPECT_EQ(days[6][12], 1);
  EXPECT_EQ(days[6][13], 1);
  EXPECT_EQ(days[5][23], 1);
  EXPECT_EQ(days[0][13], 0);  // the 26th: the 25th is not in these seven days
}

// The page lists a folder again only when its time changes; a recording added within the same tick
// of the file system's clock (here made to look so) is listed all the same.
TEST(RecordingCatalog, ARecordingAddedWithinTheFoldersClockTickIsListed) {
  testing::TempDir dir;
  const RecordingsPlace place{dir.file("videos"), "door"};
  ASSERT_EQ(::mkdir(place.folder.c_str(), 0700), 0);
  std::ofstream(place.folder + "/door_20261207_010000.avi") << "RIFF";
  RecordingCatalog catalog;
  ASSERT_EQ(catalog.Listing(place)->size(), 1u);
  struct stat before {};
  ASSERT_EQ(::stat(place.folder.c_str(), &before), 0);
  std::ofstream(place.folder + "/door_20261207_020000.avi") << "RIFF";
  const timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, place.folder.c_str(), times, 0), 0);
  const CatalogListing listing = catalog.Listing(place);
  ASSERT_EQ(listing->size(), 2u);
  EXPECT_EQ(listing->front().tail, "20261207_020000");
}

}  // namespace
}  // namespace zent
