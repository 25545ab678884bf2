#pragma once
// The program's Options in the user's config folder (~/.config/zent-client/zent-client.ini).

#include "config/options.h"

namespace zent {

Options LoadOptions();
// False when the settings could not be written.
bool SaveOptions(const Options& options);

}  // namespace zent
