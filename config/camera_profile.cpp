#include "config/camera_profile.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace zent {
namespace {

bool IsCSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

std::string_view SkipSpace(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsCSpace(text[i])) ++i;
  return text.substr(i);
}

std::int32_t ToInt32(std::int64_t value) {
  constexpr std::int64_t lo = std::numeric_limits<std::int32_t>::min();
  constexpr std::int64_t hi = std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(value < lo ? lo : value > hi ? hi : value);
}

std::int32_t ParseFlag(std::string_view token) { return token == "1" ? 1 : 0; }

// A token longer than its field keeps what the field can hold.
std::string ClampText(std::string_view token, std::size_t capacity) {
  return std::string(token.substr(0, capacity - 1));
}

void AppendFlag(std::string& out, std::int32_t flag) { out += flag != 0 ? "1," : "0,"; }

void AppendField(std::string& out, std::string_view text) {
  out += text;
  out += ',';
}

void SetField(CameraProfile& p, int index, std::string_view token) {
  switch (index) {
    case 0: p.savingEnabled = ParseFlag(token); break;
    case 1: p.savePath = ClampText(token, kPathCapacity); break;
    case 2: p.saveFileName = ClampText(token, kFileNameCapacity); break;
    case 3: p.insertTime = ParseFlag(token); break;
    case 4: p.fileMinutes = ToInt32(ParseLeadingInteger(token)); break;
    case 5: p.cameraAddress = ClampText(token, kAddressCapacity); break;
    case 6: p.privatePort = ToInt32(ParseLeadingInteger(token)); break;
    case 7: p.videoPort = ToInt32(ParseLeadingInteger(token)); break;
    case 8: p.audioPort = ToInt32(ParseLeadingInteger(token)); break;
    case 9: p.spareReal = ParseReal(token); break;
    case 10: p.spareFlag = ParseFlag(token); break;
    case 11: p.logToFile = ParseFlag(token); break;
    case 12: p.logPeriod = ToInt32(ParseLeadingInteger(token)); break;
    case 13: p.logPath = ClampText(token, kPathCapacity); break;
    case 14: p.logFileName = ClampText(token, kFileNameCapacity); break;
    default: break;  // tokens past the fifteenth are ignored
  }
}

// Splits at ',' the way strtok does: empty tokens vanish.
CameraProfile ParseRecord(std::string_view record) {
  CameraProfile profile;
  int index = 0;
  std::size_t pos = 0;
  while (pos < record.size()) {
    std::size_t end = record.find(',', pos);
    if (end == std::string_view::npos) end = record.size();
    if (end > pos) SetField(profile, index++, record.substr(pos, end - pos));
    pos = end + 1;
  }
  return profile;
}

}  // namespace

std::int64_t ParseLeadingInteger(std::string_view text) {
  text = SkipSpace(text);
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  // Saturate well outside the 32-bit range so that callers can tell an overflow.
  constexpr std::int64_t limit = std::int64_t{1} << 40;
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    if (value < limit) value = value * 10 + (c - '0');
  }
  return negative ? -value : value;
}

float ParseReal(std::string_view text) {
  text = SkipSpace(text);
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  double value = 0.0;
  auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ec == std::errc::result_out_of_range) value = HUGE_VAL;
  else if (result.ec != std::errc()) value = 0.0;
  return static_cast<float>(negative ? -value : value);
}

std::string FormatReal(float value) {
  const double v = value;
  char buf[64];
  // A whole number keeps its decimal point ("15."), as the stored files hold it.
  if (std::isfinite(v) && v == std::trunc(v) && std::fabs(v) < 1e10) {
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 0);
    *r.ptr = '\0';
    return std::string(buf) + ".";
  }
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 10);
  return std::string(buf, r.ptr);
}

std::string FormatProfile(const CameraProfile& p) {
  std::string out;
  out.reserve(p.savePath.size() + p.logPath.size() + 128);
  AppendFlag(out, p.savingEnabled);
  AppendField(out, p.savePath);
  AppendField(out, p.saveFileName);
  AppendFlag(out, p.insertTime);
  AppendField(out, std::to_string(p.fileMinutes));
  AppendField(out, p.cameraAddress);
  AppendField(out, std::to_string(p.privatePort));
  AppendField(out, std::to_string(p.videoPort));
  AppendField(out, std::to_string(p.audioPort));
  AppendField(out, FormatReal(p.spareReal));
  AppendFlag(out, p.spareFlag);
  AppendFlag(out, p.logToFile);
  AppendField(out, std::to_string(p.logPeriod));
  AppendField(out, p.logPath);
  out += p.logFileName;
  out += ';';
  return out;
}

ProfileList ParseProfiles(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  ProfileList profiles;
  std::size_t start = 0;
  for (std::size_t end = text.find(';'); end != std::string_view::npos; end = text.find(';', start)) {
    profiles.push_back(ParseRecord(text.substr(start, end - start)));
    start = end + 1;
  }
  return profiles;
}

}  // namespace zent
