#pragma once
// What a camera address may be: a host name or a dotted IPv4 address, and nothing else. The
// address goes into the event channel's connection and into the video URL alike; anything more
// (a blank, an '@', a '/') could make the two reach different hosts, with the password.

#include <cstddef>
#include <string_view>

namespace zent {

inline constexpr std::size_t kMaxCameraAddressBytes = 100;

// Four decimal numbers 0-255 separated by dots, nothing before or after.
bool IsDottedIPv4(std::string_view text);
// Labels of letters, digits and '-' (no '-' at either end, at most 63 each) joined by dots,
// beginning with a letter: a name that starts with a digit is read as a dotted address.
bool IsHostName(std::string_view text);
// One of the two, 1 to kMaxCameraAddressBytes bytes.
bool IsCameraAddress(std::string_view text);

}  // namespace zent
