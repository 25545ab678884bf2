#include "config/camera_address.h"
#include "config/settings_validation.h"

#include <gtest/gtest.h>

namespace zent {
namespace {

SettingsTexts Good() { return {"11000", "8080", "40008", "10"}; }

std::optional<ValidationFailure> Check(const SettingsTexts& texts, SaveOperation op) {
  SettingsValues values;
  return ValidateSettings(texts, op, values);
}

const ValidationFailure kPrivateNotNumeric{"Please Enter a numeric value of ZENT private port", "Error!"};
const ValidationFailure kPrivateRange{"wrong range of ZENT private port, 8000 - 65535", "Port range Error!"};
const ValidationFailure kMinutesZero{"Saving time must be larger than 0", "Saving Time Error!"};

TEST(IsNumericText, DigitsDotsAndALeadingMinus) {
  for (const char* ok : {"", "0", "8080", "8080.9", "-8080", "5.", "-", "1.2.3"}) EXPECT_TRUE(IsNumericText(ok)) << ok;
  for (const char* bad : {".8080", "8-080", "8080a", " 8080", "8080 ", "+8080", "--1", "1,5"})
    EXPECT_FALSE(IsNumericText(bad)) << bad;
}

TEST(CameraAddress, AHostNameOrAWholeDottedAddressAndNothingElse) {
  for (const char* good : {"192.168.1.7", "0.0.0.0", "cam", "door-cam.local", "a1.b2"})
    EXPECT_TRUE(IsCameraAddress(good)) << good;
  for (const char* bad : {"", "192.168.1.7 @evil.example", "192.168.1.7@evil.example", "cam/x", "cam:8080", "user@cam",
                          "256.1.1.1", "1.2.3", "1.2.3.4.", "-cam", "cam-", "cam..local", "3com", "cam\n", "caméra"})
    EXPECT_FALSE(IsCameraAddress(bad)) << bad;
  EXPECT_TRUE(IsCameraAddress(std::string(63, 'a') + "." + std::string(36, 'b')));   // 100 bytes
  EXPECT_FALSE(IsCameraAddress(std::string(63, 'a') + "." + std::string(37, 'b')));  // 101
  EXPECT_FALSE(IsCameraAddress(std::string(64, 'a')));                               // a label over 63
}

TEST(ValidateSettings, PortRangeEdgesForEachPort) {
  struct Case {
    int field;
    const char* rangeMessage;
  } cases[] = {{0, "wrong range of ZENT private port, 8000 - 65535"},
               {1, "wrong range of Image Transfer port, 8000 - 65535"},
               {2, "wrong range of Audio Transfer port, 8000 - 65535"}};
  for (const auto& c : cases) {
    for (const char* text : {"8000", "65535", "8080.9"}) {
      SettingsTexts t = Good();
      (c.field == 0 ? t.privatePort : c.field == 1 ? t.videoPort : t.audioPort) = text;
      EXPECT_EQ(Check(t, SaveOperation::Modify), std::nullopt) << text;
    }
    for (const char* text : {"7999", "65536", "", "-8080", "4294975296", "99999999999999999999"}) {
      SettingsTexts t = Good();
      (c.field == 0 ? t.privatePort : c.field == 1 ? t.videoPort : t.audioPort) = text;
      auto failure = Check(t, SaveOperation::Add);
      ASSERT_TRUE(failure) << text;
      EXPECT_EQ(failure->message, c.rangeMessage) << text;
      EXPECT_EQ(failure->caption, "Port range Error!");
    }
  }
}

TEST(ValidateSettings, NotNumericMessagesNameTheBox) {
  SettingsTexts t = Good();
  t.videoPort = "80a";
  EXPECT_EQ(Check(t, SaveOperation::Add), (ValidationFailure{"Please Enter a numeric value of Image port", "Error!"}));
  t = Good();
  t.audioPort = ".1";
  EXPECT_EQ(Check(t, SaveOperation::Add), (ValidationFailure{"Please Enter a numeric value of Audio port", "Error!"}));
  t = Good();
  t.fileMinutes = "1x";
  EXPECT_EQ(Check(t, SaveOperation::Add),
            (ValidationFailure{"Please Enter a numeric value of avi saving time", "Error!"}));
}

TEST(ValidateSettings, TheFirstFailureWins) {
  SettingsTexts t{"80 80", "1", "1", "0"};
  EXPECT_EQ(Check(t, SaveOperation::Modify), kPrivateNotNumeric);
  t.privatePort = "100";
  EXPECT_EQ(Check(t, SaveOperation::Modify), kPrivateRange);
}

TEST(ValidateSettings, LengthRulesDifferBetweenAddAndModify) {
  for (const char* text : {"0", "", "-", "-5"}) {
    SettingsTexts t = Good();
    t.fileMinutes = text;
    EXPECT_EQ(Check(t, SaveOperation::Add), kMinutesZero) << text;
    EXPECT_EQ(Check(t, SaveOperation::Modify), kMinutesZero) << text;
  }
  SettingsTexts t = Good();
  t.fileMinutes = "61";
  EXPECT_EQ(Check(t, SaveOperation::Add), std::nullopt);
  EXPECT_EQ(Check(t, SaveOperation::Modify),
            (ValidationFailure{"Saving time must be 1 ~ 60 Minute.", "Saving Time Error!"}));
  t.fileMinutes = "100";
  EXPECT_EQ(Check(t, SaveOperation::Add), std::nullopt);
  EXPECT_EQ(Check(t, SaveOperation::Modify),
            (ValidationFailure{"Please Enter a numeric(1 ~ 60) value of avi saving time", "Error!"}));
  t.fileMinutes = "99999999999";
  EXPECT_EQ(Check(t, SaveOperation::Add), kMinutesZero);
  t.fileMinutes = "5.";
  SettingsValues values;
  EXPECT_EQ(ValidateSettings(t, SaveOperation::Modify, values), std::nullopt);
  EXPECT_EQ(values.fileMinutes, 5);
}

TEST(ValidateSettings, ValuesAreStoredAsTheirChecksPass) {
  SettingsValues values{1, 2, 3, 4};
  SettingsTexts t{"9000", "9001", "1", "7"};
  EXPECT_TRUE(ValidateSettings(t, SaveOperation::Add, values));
  EXPECT_EQ(values.privatePort, 9000);
  EXPECT_EQ(values.videoPort, 9001);
  EXPECT_EQ(values.audioPort, 3);    // failed: unchanged
  EXPECT_EQ(values.fileMinutes, 4);  // never reached

  // The length is stored before its range checks.
  t = {"9000", "9001", "9002", "61"};
  EXPECT_TRUE(ValidateSettings(t, SaveOperation::Modify, values));
  EXPECT_EQ(values.audioPort, 9002);
  EXPECT_EQ(values.fileMinutes, 61);
}

}  // namespace
}  // namespace zent
