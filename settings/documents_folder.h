#pragma once

#include <string>

namespace zent {

// The user's documents folder (XDG user directories), as local 8-bit text; the home of the
// configuration file and of the default recording path.
std::string GetDocumentsFolder();

// Creates the documents folder (that folder only, as GetDocumentsFolder names it) when it is
// missing, for the configuration file and the default recordings; false when it is still not there.
bool EnsureDocumentsFolder(const std::string& folder = GetDocumentsFolder());

}  // namespace zent
