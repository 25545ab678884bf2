// The event channel's four-byte units as a camera may send them: any bytes read as a number, and
// every id the program sends reads back as itself.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "link/protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zent::Unit unit{};
  std::memcpy(unit.data(), data, size < unit.size() ? size : unit.size());
  const int value = zent::ReadUnit(unit);
  if (value >= 0 && value <= 9999 && zent::ReadUnit(zent::FormatUnit(value)) != value) __builtin_trap();
  return 0;
}
