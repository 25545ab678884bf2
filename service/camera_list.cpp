#include "service/camera_list.h"

#include <algorithm>
#include <map>
#include <set>

#include "config/camera_address.h"
#include "config/paths.h"
#include "record/recording_name.h"

namespace zent {

SetupResult BuildSetups(const ProfileList& profiles, const CredentialsFile& credentials, const Options& options,
                        const std::vector<std::string>& only) {
  SetupResult result;
  std::map<RecordingsPlace, std::string> places;  // the camera whose recordings go there
  std::set<std::string> addresses;
  for (const CameraProfile& profile : profiles) {
    if (!addresses.insert(profile.cameraAddress).second) continue;  // skipped below
    const RecordingsPlace place = PlaceOf(profile.savePath, profile.insertTime);
    if (place.stem.empty()) continue;  // names without a time are never deleted
    const auto [other, added] = places.emplace(place, profile.cameraAddress);
    if (!added) {
      result.error = "Cameras " + other->second + " and " + profile.cameraAddress + " both record to " +
                     JoinPath(place.folder, place.stem) +
                     "_…avi: each would delete the other's recordings as its own; give one of them another "
                     "saving path";
      return result;
    }
  }
  std::set<std::string> taken;
  for (const CameraProfile& profile : profiles) {
    const std::string& address = profile.cameraAddress;
    if (!only.empty() && std::find(only.begin(), only.end(), address) == only.end()) continue;
    if (!IsCameraAddress(address)) {
      // Anything else could send the video URL, with the password, to another host.
      result.error = "The camera address \"" + address +
                     "\" in the camera list is not a host name or an IPv4 address; not starting";
      return result;
    }
    if (!taken.insert(address).second) {
      result.warnings.push_back("A second camera at " + address + " in the camera list is skipped");
      continue;
    }
    const auto found = credentials.cameras.find(address);
    if (found == credentials.cameras.end()) {
      result.error = "No line for camera " + address + " in the credentials file " + credentials.path;
      return result;
    }
    CameraSetup setup = DescribeCamera(profile, found->second, options);
    if (!setup.eventsError.empty()) {
      result.error = setup.eventsError;
      return result;
    }
    result.cameras.push_back(std::move(setup));
  }
  for (const std::string& address : only) {
    if (!taken.count(address)) {
      result.error = "No camera at " + address + " in the camera list";
      return result;
    }
  }
  return result;
}

}  // namespace zent
