#include "config/settings_validation.h"

#include <limits>

#include "config/camera_profile.h"

namespace zent {
namespace {

constexpr std::int64_t kPortMin = 8000;
constexpr std::int64_t kPortMax = 65535;
constexpr std::int64_t kMinutesMaxOnModify = 60;
constexpr std::size_t kMinutesMaxChars = 2;

constexpr const char* kCaptionError = "Error!";
constexpr const char* kCaptionPortRange = "Port range Error!";
constexpr const char* kCaptionSavingTime = "Saving Time Error!";

struct PortCheck {
  const std::string& text;
  std::int32_t& value;
  const char* notNumeric;
  const char* outOfRange;
};

std::optional<ValidationFailure> CheckPort(const PortCheck& check) {
  if (!IsNumericText(check.text)) return ValidationFailure{check.notNumeric, kCaptionError};
  const std::int64_t v = ParseLeadingInteger(check.text);
  if (v < kPortMin || v > kPortMax) return ValidationFailure{check.outOfRange, kCaptionPortRange};
  check.value = static_cast<std::int32_t>(v);
  return std::nullopt;
}

bool FitsInt32(std::int64_t v) {
  return v >= std::numeric_limits<std::int32_t>::min() && v <= std::numeric_limits<std::int32_t>::max();
}

}  // namespace

bool IsNumericText(std::string_view text) {
  if (!text.empty() && text[0] == '.') return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool ok = (c >= '0' && c <= '9') || c == '.' || (c == '-' && i == 0);
    if (!ok) return false;
  }
  return true;
}

std::optional<ValidationFailure> ValidateSettings(const SettingsTexts& texts, SaveOperation operation,
                                                  SettingsValues& values) {
  const PortCheck ports[] = {
      {texts.privatePort, values.privatePort, "Please Enter a numeric value of ZENT private port",
       "wrong range of ZENT private port, 8000 - 65535"},
      {texts.videoPort, values.videoPort, "Please Enter a numeric value of Image port",
       "wrong range of Image Transfer port, 8000 - 65535"},
      {texts.audioPort, values.audioPort, "Please Enter a numeric value of Audio port",
       "wrong range of Audio Transfer port, 8000 - 65535"},
  };
  for (const auto& port : ports) {
    if (auto failure = CheckPort(port)) return failure;
  }

  const bool modify = operation == SaveOperation::Modify;
  if (!IsNumericText(texts.fileMinutes))
    return ValidationFailure{"Please Enter a numeric value of avi saving time", kCaptionError};
  if (modify && texts.fileMinutes.size() > kMinutesMaxChars)
    return ValidationFailure{"Please Enter a numeric(1 ~ 60) value of avi saving time", kCaptionError};
  const std::int64_t minutes = ParseLeadingInteger(texts.fileMinutes);
  if (!FitsInt32(minutes) || minutes <= 0) {
    if (FitsInt32(minutes)) values.fileMinutes = static_cast<std::int32_t>(minutes);
    return ValidationFailure{"Saving time must be larger than 0", kCaptionSavingTime};
  }
  values.fileMinutes = static_cast<std::int32_t>(minutes);
  if (modify && minutes > kMinutesMaxOnModify)
    return ValidationFailure{"Saving time must be 1 ~ 60 Minute.", kCaptionSavingTime};
  return std::nullopt;
}

}  // namespace zent
