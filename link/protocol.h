#pragma once
// The event channel's units: four ASCII digits each, and the 48-byte authentication packet.

#include <array>
#include <cstdint>
#include <string>

namespace zent {

inline constexpr int MSG_AUTH_REQUEST = 300;
inline constexpr int MSG_AUTH_ACCEPTED = 301;
inline constexpr int MSG_AUTH_REFUSED = 302;
inline constexpr int MSG_KEEP_ALIVE = 500;
inline constexpr int MSG_KEEP_ALIVE_OK = 501;
inline constexpr int MSG_KEEP_ALIVE_BROKEN = 502;
inline constexpr int MSG_EVENT = 520;
inline constexpr int MSG_INVALID_ID = 9000;

inline constexpr int kUnitLength = 4;
inline constexpr int IMG_XFER_USER_AUTH_PKT_LEN = 48;
inline constexpr int IMG_XFER_USER_AUTH_RSLT_PKT_LEN = 4;
inline constexpr std::size_t kMaxUserIdBytes = 15;
inline constexpr std::size_t kMaxPasswordBytes = 10;

using Unit = std::array<char, kUnitLength>;
using AuthPacket = std::array<std::uint8_t, IMG_XFER_USER_AUTH_PKT_LEN>;

// "%04d" of the id, without terminator.
Unit FormatUnit(int id);

// The number a received unit reads as: leading blanks, one sign, digits up to the first other
// character; 0 when there are none. " 520", "+520" and "520a" all read as 520.
int ReadUnit(const Unit& unit);

// 0300, then the ID at offset 16 and the password at offset 32, each ended by a zero byte; every
// other byte is zero. The caller checks the length limits first.
AuthPacket BuildAuthPacket(const std::string& userId, const std::string& password);

}  // namespace zent
