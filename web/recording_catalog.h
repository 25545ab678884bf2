#pragma once
// The recordings the web page may show: for each camera of the running recorder, the files this
// program made in the camera's recordings place, and nothing else. A recording is known by an id
// made of the camera's id and the time in its name ("192_168_1_7~20261207_143005-1"), so no part
// of a request ever becomes a path.

#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "record/recording_name.h"
#include "service/camera_setup.h"

namespace zent {

struct CatalogCamera {
  std::string id;       // topic-safe form of the address
  std::string address;
  RecordingsPlace place;
  int preEventSeconds = 0;  // where the event lies in its recordings, as far as the buffer reached
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

// A recording as the folder's listing names it, nothing looked up: the part of its name after
// the stem ("20261207_143005-1", also its id after the camera's) and its day.
struct CatalogEntry {
  std::string tail;
  std::string day;  // "YYYY-MM-DD"
};
using CatalogListing = std::shared_ptr<const std::vector<CatalogEntry>>;

// What a look into the file says; kept while the file's size and time stay the same.
struct RecordingDetails {
  bool ok = false;
  std::string codec;
  double seconds = 0;
};

class RecordingCatalog {
 public:
  void SetCameras(const std::vector<CameraSetup>& cameras);
  std::vector<CatalogCamera> Cameras();
  std::optional<CatalogCamera> Camera(const std::string& id);

  // The camera's recordings newest first, shared and unchanged until the folder changes. Names
  // only, no file looked into or even at: ten thousand recordings list in milliseconds.
  CatalogListing Listing(const std::string& cameraId);
  // One recording by its id: its one name looked at, never the whole folder.
  std::optional<CatalogRecording> Find(const std::string& recordingId);
  RecordingDetails Details(const CatalogRecording& recording);
  // Deletes the recording's file, found afresh in its folder; false with the reason.
  bool Delete(const CatalogRecording& recording, std::string& error);

 private:
  std::mutex mutex_;
  std::vector<CatalogCamera> cameras_;
  struct Cached {
    std::int64_t size = 0, modifiedMs = 0;
    RecordingDetails details;
  };
  std::map<std::string, Cached> details_;  // by path, bounded
  // Each camera's folder as last read, until the folder changes.
  struct Listed {
    std::string folder;
    std::int64_t changedNs = -1;
    CatalogListing entries;
  };
  std::map<std::string, Listed> listings_;
};

// "YYYY-MM-DD" of a time, local.
std::string DayOf(std::time_t time);

}  // namespace zent
