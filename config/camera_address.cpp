#include "config/camera_address.h"

namespace zent {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

bool IsDottedIPv4(std::string_view text) {
  int parts = 0;
  std::size_t i = 0;
  while (parts < 4) {
    std::size_t digits = 0;
    int value = 0;
    while (i < text.size() && IsDigit(text[i]) && digits < 4) {
      value = value * 10 + (text[i] - '0');
      ++i;
      ++digits;
    }
    if (digits == 0 || digits > 3 || value > 255) return false;
    ++parts;
    if (parts < 4) {
      if (i >= text.size() || text[i] != '.') return false;
      ++i;
    }
  }
  return i == text.size();
}

bool IsHostName(std::string_view text) {
  if (text.empty() || !IsLetter(text[0])) return false;
  std::size_t labelLength = 0;
  char previous = '.';
  for (const char c : text) {
    if (c == '.') {
      if (labelLength == 0 || previous == '-') return false;
      labelLength = 0;
    } else if (IsLetter(c) || IsDigit(c) || c == '-') {
      if (c == '-' && labelLength == 0) return false;
      if (++labelLength > 63) return false;
    } else {
      return false;
    }
    previous = c;
  }
  return labelLength > 0 && previous != '-';
}

bool IsCameraAddress(std::string_view text) {
  return !text.empty() && text.size() <= kMaxCameraAddressBytes && (IsDottedIPv4(text) || IsHostName(text));
}

}  // namespace zent
