#pragma once
// The cameras zent-recorder records: the camera list with the credentials file and the Options,
// each camera described as both programs describe it, or why it cannot be.

#include <string>
#include <vector>

#include "camera/camera_setup.h"
#include "config/options.h"
#include "config/profile_file.h"
#include "service/credentials.h"

namespace zent {

struct SetupResult {
  std::vector<CameraSetup> cameras;  // in the camera list's order
  std::vector<std::string> warnings;
  std::string error;  // nothing can be recorded as asked
};

// Every camera of the list, or only those whose address is in `only`. A camera without a line in
// the credentials file, or an address in `only` that the list does not have, is an error; a
// second profile with an address already taken is skipped with a warning. Two cameras of the list
// whose recordings would share a folder and a name stem are an error: each would delete the
// other's recordings as its own.
SetupResult BuildSetups(const ProfileList& profiles, const CredentialsFile& credentials, const Options& options,
                        const std::vector<std::string>& only);

}  // namespace zent
