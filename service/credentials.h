#pragma once
// The cameras' IDs and passwords for the headless recorder: never in the camera list or on the
// command line, but in a file of their own that only its owner may read. One camera a line:
// "ADDRESS ID PASSWORD"; blank lines and lines starting with '#' are skipped. The MQTT broker's
// line has "mqtt://HOST:PORT" for its address.

#include <map>
#include <string>
#include <string_view>

#include "camera/camera_setup.h"

namespace zent {

inline constexpr std::size_t kMaxBrokerSecretBytes = 256;

// "mqtt://HOST:PORT": the broker's line rather than a camera's.
inline bool IsBrokerKey(std::string_view address) { return address.rfind("mqtt://", 0) == 0; }

struct CredentialsFile {
  std::string path;
  std::map<std::string, CameraCredentials> cameras;  // by address
  std::string error;                                 // why the file cannot be used; never holds a password
};

// $CREDENTIALS_DIRECTORY/zent-recorder under systemd's LoadCredential=, else
// $XDG_CONFIG_HOME/zent-client/credentials (~/.config when unset).
std::string CredentialsPath(const char* credentialsDirectory, const char* configHome, const char* home);

// Refuses a file that its group or others may read or change, one that belongs to another user
// than the one running or root, and anything but a regular file (a FIFO there would block).
CredentialsFile ReadCredentials(const std::string& path);

}  // namespace zent
