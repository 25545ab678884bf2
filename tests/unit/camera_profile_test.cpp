#include "config/camera_profile.h"

#include <gtest/gtest.h>

namespace zent {
namespace {

CameraProfile DialogProfile() {
  CameraProfile p;
  p.savingEnabled = 1;
  p.savePath = "C:\\Docs\\zent.avi";
  p.saveFileName = "zent.avi";
  p.insertTime = 1;
  p.fileMinutes = 1;
  p.cameraAddress = "192.168.1.7";
  p.privatePort = 11000;
  p.videoPort = 8080;
  p.audioPort = 40008;
  p.spareReal = 15.0f;
  p.spareFlag = 1;
  p.logToFile = 0;
  p.logPeriod = 0;
  p.logPath = " ";
  p.logFileName = "zent_log.txt";
  return p;
}

TEST(RecordText, DialogProfileIsStoredAsTheKnown86Characters) {
  const std::string text = FormatProfile(DialogProfile());
  EXPECT_EQ(text, "1,C:\\Docs\\zent.avi,zent.avi,1,1,192.168.1.7,11000,8080,40008,15.,1,0,0, ,zent_log.txt;");
  EXPECT_EQ(text.size(), 86u);
}

TEST(RecordText, OneProfileReadsFieldByFieldAndFormatsBackUnchanged) {
  const std::string text = "1,C:\\v\\a.avi,a.avi,0,5,cam1,9000,9001,9002,15.,1,0,0, ,l.txt;";
  const ProfileList list = ParseProfiles(text);
  ASSERT_EQ(list.size(), 1u);
  const CameraProfile& p = list[0];
  EXPECT_EQ(p.savingEnabled, 1);
  EXPECT_EQ(p.savePath, "C:\\v\\a.avi");
  EXPECT_EQ(p.saveFileName, "a.avi");
  EXPECT_EQ(p.insertTime, 0);
  EXPECT_EQ(p.fileMinutes, 5);
  EXPECT_EQ(p.cameraAddress, "cam1");
  EXPECT_EQ(p.privatePort, 9000);
  EXPECT_EQ(p.videoPort, 9001);
  EXPECT_EQ(p.audioPort, 9002);
  EXPECT_FLOAT_EQ(p.spareReal, 15.0f);
  EXPECT_EQ(p.spareFlag, 1);
  EXPECT_EQ(p.logToFile, 0);
  EXPECT_EQ(p.logPeriod, 0);
  EXPECT_EQ(p.logPath, " ");
  EXPECT_EQ(p.logFileName, "l.txt");
  EXPECT_EQ(FormatProfile(p), text);
}

TEST(RecordText, EverySemicolonIsARecordAndTrailingBytesAreNone) {
  // Empty records (leading ';', two in a row) still take an index; a cut-off tail does not.
  const ProfileList list = ParseProfiles(";1,a,b;;0,x\r\n1,cut-off");
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0], CameraProfile{});
  EXPECT_EQ(list[1].savingEnabled, 1);
  EXPECT_EQ(list[1].savePath, "a");
  EXPECT_EQ(list[1].saveFileName, "b");
  EXPECT_EQ(list[1].fileMinutes, 0);  // fields without a token keep zero / empty
  EXPECT_EQ(list[2], CameraProfile{});
  EXPECT_TRUE(ParseProfiles("").empty());
  EXPECT_TRUE(ParseProfiles("no terminator at all").empty());
}

TEST(RecordText, FlagsMustBeExactlyOne) {
  const ProfileList list = ParseProfiles("true,p,f, 1,5;\n1,p,f,1,5;1 ,p,f,1,5;");
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].savingEnabled, 0);
  EXPECT_EQ(list[0].insertTime, 0);
  EXPECT_EQ(list[1].savingEnabled, 0);  // a record that begins with a line break
  EXPECT_EQ(list[1].insertTime, 1);
  EXPECT_EQ(list[2].savingEnabled, 0);
}

TEST(RecordText, EmptyTokensVanishAndShiftLaterFields) {
  const ProfileList list = ParseProfiles(",1,p,f,1,5,,11000,8080,40008,15.,1,0,0, ,l.txt,extra,tokens;");
  ASSERT_EQ(list.size(), 1u);
  const CameraProfile& p = list[0];
  EXPECT_EQ(p.savingEnabled, 1);
  EXPECT_EQ(p.cameraAddress, "11000");
  EXPECT_EQ(p.privatePort, 8080);
  EXPECT_EQ(p.videoPort, 40008);
  EXPECT_EQ(p.audioPort, 15);
  EXPECT_FLOAT_EQ(p.spareReal, 1.0f);
  EXPECT_EQ(p.logPath, "l.txt");
  EXPECT_EQ(p.logFileName, "extra");
}

TEST(RecordText, NumbersReadTheirLeadingDigits) {
  const ProfileList list = ParseProfiles("1,p,f,1, -7min,a,+9000x,abc,99999999999,2.5e1,1,1,3,lp,lf;");
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].fileMinutes, -7);
  EXPECT_EQ(list[0].privatePort, 9000);
  EXPECT_EQ(list[0].videoPort, 0);
  EXPECT_EQ(list[0].audioPort, 2147483647);  // saturates instead of overflowing
  EXPECT_FLOAT_EQ(list[0].spareReal, 25.0f);
  EXPECT_EQ(list[0].logToFile, 1);
  EXPECT_EQ(list[0].logPeriod, 3);
}

TEST(RecordText, OverlongTokensKeepWhatTheFieldHolds) {
  const std::string longPath(5000, 'p');
  const std::string longName(300, 'n');
  const std::string longAddress(150, 'a');
  const std::string text =
      "1," + longPath + "," + longName + ",1,1," + longAddress + ",1,1,1,1,1,1,1," + longPath + "," + longName + ";";
  const ProfileList list = ParseProfiles(text);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].savePath.size(), kPathCapacity - 1);
  EXPECT_EQ(list[0].saveFileName.size(), kFileNameCapacity - 1);
  EXPECT_EQ(list[0].cameraAddress.size(), kAddressCapacity - 1);
  EXPECT_EQ(list[0].logPath.size(), kPathCapacity - 1);
  EXPECT_EQ(list[0].logFileName.size(), kFileNameCapacity - 1);
  EXPECT_EQ(list[0].logPeriod, 1);  // a long record is parsed whole
}

TEST(RecordText, AZeroByteEndsTheText) {
  const std::string text(
      "1,a;\0"
      "1,b;",
      9);
  EXPECT_EQ(ParseProfiles(text).size(), 1u);
}

TEST(RecordText, RealsAreWrittenLikeGcvtAndReadBack) {
  EXPECT_EQ(FormatReal(15.0f), "15.");
  EXPECT_EQ(FormatReal(0.0f), "0.");
  EXPECT_EQ(FormatReal(-3.0f), "-3.");
  EXPECT_EQ(FormatReal(2.5f), "2.5");
  for (float v : {15.0f, 0.1f, -1234.5678f, 3.4e38f, 1.5e-20f}) {
    EXPECT_EQ(ParseReal(FormatReal(v)), v) << FormatReal(v);
  }
  EXPECT_FLOAT_EQ(ParseReal("  +1.5xyz"), 1.5f);
  EXPECT_EQ(ParseReal("abc"), 0.0f);
}

TEST(RecordText, ManyProfilesRoundTrip) {
  ProfileList list;
  for (int i = 0; i < 2000; ++i) {
    CameraProfile p = DialogProfile();
    p.cameraAddress = "cam" + std::to_string(i);
    p.privatePort = 8000 + i;
    list.push_back(p);
  }
  std::string text;
  for (const auto& p : list) text += FormatProfile(p);
  ASSERT_GT(text.size(), 64000u);
  EXPECT_EQ(ParseProfiles(text), list);
}

}  // namespace
}  // namespace zent
