#include "record/recording_name.h"

#include <gtest/gtest.h>

namespace zent {
namespace {

std::tm EventTime() {
  std::tm t{};
  t.tm_year = 2007 - 1900;
  t.tm_mon = 8;
  t.tm_mday = 18;
  t.tm_hour = 7;
  t.tm_min = 4;
  t.tm_sec = 46;
  return t;
}

TEST(RecordingFileName, TimeReplacesTheExtension) {
  EXPECT_EQ(RecordingFileName("/video/cam.avi", 1, EventTime()), "/video/cam_20070918_070446.avi");
  EXPECT_EQ(RecordingFileName("/video/cam.old.avi", 1, EventTime()), "/video/cam.old_20070918_070446.avi");
  EXPECT_EQ(RecordingFileName("/video/cam", 1, EventTime()), "/video/cam_20070918_070446.avi");
  EXPECT_EQ(RecordingFileName("cam.avi", 1, EventTime()), "cam_20070918_070446.avi");
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

}  // namespace
}  // namespace zent
