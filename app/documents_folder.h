#pragma once

#include <string>

namespace zent {

// The user's documents folder (XDG user directories), as local 8-bit text; the home of the
// configuration file and of the default recording path.
std::string GetDocumentsFolder();

}  // namespace zent
