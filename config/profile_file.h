#pragma once
// Reading and rewriting the configuration file, and the list changes its writers make.

#include <string>

#include "config/camera_profile.h"

namespace zent {

struct ReadResult {
  bool opened = false;   // false: the file counts as absent (or could not be read)
  ProfileList profiles;  // in file order; empty unless opened
  std::string error;     // set when the file opened but reading it failed
  // forWriting: set when the file is there but cannot be opened for writing (permissions, a
  // read-only file system, a folder in its place), so no writer mistakes it for an absent file.
  std::string cannotWrite;
};

// Reads the whole file, whatever its size. With forWriting the open also requires the file to
// be writable, as the writers' reads do.
ReadResult ReadProfiles(const std::string& path, bool forWriting);

enum class WriteForm {
  Rewrite,  // after Replace and Delete: an empty list deletes the file
  Create,   // after Append: the file holds the list, even when there was none
};

struct WriteResult {
  bool ok = true;
  std::string error;  // why the file could not be written, for the user
};

// Writes the record text of every profile. The old file is replaced in one step (temporary
// file in the same folder, renamed over it, keeping its permissions), so a failure part-way
// leaves it as it was. An existing file that cannot be opened for writing is not replaced.
WriteResult WriteProfiles(const std::string& path, const ProfileList& profiles, WriteForm form);

// List changes; an index that names no profile changes nothing and returns false.
void AppendProfile(ProfileList& profiles, const CameraProfile& profile);
bool ReplaceProfile(ProfileList& profiles, int index, const CameraProfile& profile);
bool DeleteProfile(ProfileList& profiles, int index);

}  // namespace zent
