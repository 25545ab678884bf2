#pragma once
// Checks of the four number boxes before a camera profile is stored.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zent {

// Digits and '.', a '-' only in front, no '.' in front; the empty text passes.
bool IsNumericText(std::string_view text);

enum class SaveOperation { Add, Modify };

struct SettingsTexts {
  std::string privatePort;
  std::string videoPort;
  std::string audioPort;
  std::string fileMinutes;
};

struct SettingsValues {
  std::int32_t privatePort = 0;
  std::int32_t videoPort = 0;
  std::int32_t audioPort = 0;
  std::int32_t fileMinutes = 0;
};

struct ValidationFailure {
  std::string message;
  std::string caption;
  bool operator==(const ValidationFailure&) const = default;
};

// Runs the checks in their fixed order and stops at the first failure. Each value is stored in
// `values` as soon as its own checks pass (the length right after conversion), and stays stored
// when a later check fails. A number too large for 32 bits fails its range check.
std::optional<ValidationFailure> ValidateSettings(const SettingsTexts& texts, SaveOperation operation,
                                                  SettingsValues& values);

}  // namespace zent
