#include "web/camera_recordings.h"

#include "record/kept_mark.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "notify/notices.h"

namespace zent {

void CameraRecordings::SetCameras(const std::vector<CameraSetup>& cameras) {
  std::vector<CatalogCamera> list;
  for (const CameraSetup& camera : cameras) {
    const RecordingsPlace place = PlaceOf(camera.profile.savePath, camera.profile.insertTime);
    if (place.stem.empty()) continue;  // names without a time are no recordings of ours to list
    list.push_back(
        {TopicName(camera.Address()), camera.Address(), place, camera.preEventSeconds, camera.diskGuard.reserveBytes});
  }
  std::lock_guard lock(mutex_);
  cameras_ = std::move(list);
}

std::vector<CatalogCamera> CameraRecordings::Cameras() {
  std::lock_guard lock(mutex_);
  return cameras_;
}

std::optional<CatalogCamera> CameraRecordings::Camera(const std::string& id) {
  std::lock_guard lock(mutex_);
  for (const CatalogCamera& camera : cameras_)
    if (camera.id == id) return camera;
  return std::nullopt;
}

CatalogListing CameraRecordings::Listing(const std::string& cameraId) {
  const std::optional<CatalogCamera> camera = Camera(cameraId);
  return camera ? catalog_.Listing(camera->place) : std::make_shared<const std::vector<CatalogEntry>>();
}

std::optional<CatalogRecording> CameraRecordings::Find(const std::string& recordingId) {
  const std::size_t tilde = recordingId.find('~');
  if (tilde == std::string::npos) return std::nullopt;
  const std::optional<CatalogCamera> camera = Camera(recordingId.substr(0, tilde));
  if (!camera) return std::nullopt;
  std::optional<RecordingFile> file = catalog_.Find(camera->place, recordingId.substr(tilde + 1));
  if (!file) return std::nullopt;
  RecordingStamp stamp;
  ReadStamp(file->name, stamp);
  return CatalogRecording{recordingId, camera->id, std::move(*file), stamp.Day()};
}

bool CameraRecordings::Delete(const CatalogRecording& recording, std::string& error) {
  const std::optional<CatalogRecording> current = Find(recording.id);
  if (!current) {
    error = "no such recording";
    return false;
  }
  if (::unlink(current->file.path.c_str()) != 0) {
    error = std::strerror(errno);
    return false;
  }
  std::string ignored;
  SetKept(current->file.path, false, ignored);  // a mark with no recording would keep nothing
  return true;
}

}  // namespace zent
