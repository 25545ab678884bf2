#include "link/protocol.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "config/camera_profile.h"

namespace zent {

Unit FormatUnit(int id) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d", id);
  Unit unit;
  std::memcpy(unit.data(), text, kUnitLength);
  return unit;
}

int ReadUnit(const Unit& unit) {
  // The unit ends at its fourth byte, or earlier at a zero byte, like the C string it was read as.
  std::string_view text(unit.data(), kUnitLength);
  text = text.substr(0, text.find('\0'));
  return static_cast<int>(ParseLeadingInteger(text));
}

AuthPacket BuildAuthPacket(const std::string& userId, const std::string& password) {
  AuthPacket packet{};
  const Unit request = FormatUnit(MSG_AUTH_REQUEST);
  std::memcpy(packet.data(), request.data(), kUnitLength);
  std::memcpy(packet.data() + 16, userId.data(), std::min(userId.size(), kMaxUserIdBytes));
  std::memcpy(packet.data() + 32, password.data(), std::min(password.size(), kMaxPasswordBytes));
  return packet;
}

}  // namespace zent
