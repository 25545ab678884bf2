#pragma once
// The recordings the web page may show: for each camera of the running recorder, the files this
// program made in the camera's recordings place, and nothing else. A recording is known by an id
// made of the camera's id and the time in its name ("192_168_1_7~20261207_143005-1"), so no part
// of a request ever becomes a path.

#include <cstdint>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "record/recording_catalog.h"
#include "camera/camera_setup.h"

namespace zent {

struct CatalogCamera {
  std::string id;  // topic-safe form of the address
  std::string address;
  RecordingsPlace place;
  int preEventSeconds = 0;        // where the event lies in its recordings, as far as the buffer reached
  std::int64_t reserveBytes = 0;  // what its recordings keep free on their disk
};

struct CatalogRecording {
  std::string id;
  std::string camera;
  RecordingFile file;
  std::string day;  // "YYYY-MM-DD" from the name
  // When it began, from the time in its name (local time); -1 for none.
  std::time_t Start() const { return RecordingTime(file.name); }
};

class CameraRecordings {
 public:
  void SetCameras(const std::vector<CameraSetup>& cameras);
  std::vector<CatalogCamera> Cameras();
  std::optional<CatalogCamera> Camera(const std::string& id);

  // The camera's recordings newest first, unchanged until its folder changes.
  CatalogListing Listing(const std::string& cameraId);
  std::optional<CatalogRecording> Find(const std::string& recordingId);
  RecordingDetails Details(const CatalogRecording& recording) { return catalog_.Details(recording.file); }
  // Deletes the recording's file, found afresh in its folder; false with the reason.
  bool Delete(const CatalogRecording& recording, std::string& error);

 private:
  RecordingCatalog catalog_;
  std::mutex mutex_;
  std::vector<CatalogCamera> cameras_;
};

}  // namespace zent
