#pragma once
// The cameras' IDs and passwords for the headless recorder: never in the camera list or on the
// command line, but in a file of their own that only its owner may read. One camera a line:
// "ADDRESS ID PASSWORD"; blank lines and lines starting with '#' are skipped.

#include <map>
#include <string>

namespace zent {

struct CameraCredentials {
  std::string userId;
  std::string password;
  bool operator==(const CameraCredentials&) const = default;
};

struct CredentialsFile {
  std::string path;
  std::map<std::string, CameraCredentials> cameras;  // by address
  std::string error;  // why the file cannot be used; never holds a password
};

// $CREDENTIALS_DIRECTORY/zent-recorder under systemd's LoadCredential=, else
// $XDG_CONFIG_HOME/zent-client/credentials (~/.config when unset).
std::string CredentialsPath(const char* credentialsDirectory, const char* configHome, const char* home);

// Refuses a file that its group or others may read or change.
CredentialsFile ReadCredentials(const std::string& path);

}  // namespace zent
