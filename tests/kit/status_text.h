#pragma once
// A status line as the program shows it ("hh:mm:ss  TEXT"), without its time.

#include <string>

namespace zent::testing {

inline std::string StatusText(const std::string& line) { return line.size() > 11 ? line.substr(11) : std::string(); }

}  // namespace zent::testing
