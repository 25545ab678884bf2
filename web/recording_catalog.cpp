#include "web/recording_catalog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "notify/notices.h"
#include "record/recording_reader.h"

namespace zent {
namespace {

constexpr std::size_t kMaxCachedDetails = 20000;

// The part of a recording's name after its stem's "_", without ".avi": digits, '_' and '-'.
std::string NameTail(const std::string& name, const std::string& stem) {
  return name.substr(stem.size() + 1, name.size() - stem.size() - 1 - 4);
}

bool IsTail(const std::string& tail) {
  if (tail.empty() || tail.size() > 40) return false;
  return std::all_of(tail.begin(), tail.end(),
                     [](char c) { return (c >= '0' && c <= '9') || c == '_' || c == '-'; });
}

}  // namespace

std::string DayOf(std::time_t time) {
  std::tm local{};
  ::localtime_r(&time, &local);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &local);
  return text;
}

void RecordingCatalog::SetCameras(const std::vector<CameraSetup>& cameras) {
  std::vector<CatalogCamera> list;
  for (const CameraSetup& camera : cameras) {
    const RecordingsPlace place = PlaceOf(camera.profile.savePath, camera.profile.insertTime);
    if (place.stem.empty()) continue;  // names without a time are no recordings of ours to list
    list.push_back({TopicName(camera.Address()), camera.Address(), place, camera.preEventSeconds});
  }
  std::lock_guard lock(mutex_);
  cameras_ = std::move(list);
}

std::vector<CatalogCamera> RecordingCatalog::Cameras() {
  std::lock_guard lock(mutex_);
  return cameras_;
}

std::optional<CatalogCamera> RecordingCatalog::Camera(const std::string& id) {
  std::lock_guard lock(mutex_);
  for (const CatalogCamera& camera : cameras_)
    if (camera.id == id) return camera;
  return std::nullopt;
}

std::vector<CatalogRecording> RecordingCatalog::Recordings(const std::string& cameraId, const std::string& day) {
  const std::optional<CatalogCamera> camera = Camera(cameraId);
  if (!camera) return {};
  std::vector<RecordingFile> files = FindRecordings(camera->place.folder, camera->place.stem);
  std::vector<CatalogRecording> list;
  list.reserve(files.size());
  for (auto file = files.rbegin(); file != files.rend(); ++file) {
    const std::time_t start = RecordingTime(file->name);
    if (!day.empty() && DayOf(start) != day) continue;
    list.push_back({camera->id + "~" + NameTail(file->name, camera->place.stem), camera->id, std::move(*file), start});
  }
  return list;
}

std::optional<CatalogRecording> RecordingCatalog::Find(const std::string& recordingId) {
  const std::size_t tilde = recordingId.find('~');
  if (tilde == std::string::npos) return std::nullopt;
  const std::optional<CatalogCamera> camera = Camera(recordingId.substr(0, tilde));
  const std::string tail = recordingId.substr(tilde + 1);
  if (!camera || !IsTail(tail)) return std::nullopt;
  const std::string name = camera->place.stem + "_" + tail + ".avi";
  if (!IsRecordingName(name, camera->place.stem)) return std::nullopt;
  // Listed afresh: only a regular file this program named, never a link planted in its place.
  for (RecordingFile& file : FindRecordings(camera->place.folder, camera->place.stem))
    if (file.name == name) return CatalogRecording{recordingId, camera->id, std::move(file), RecordingTime(name)};
  return std::nullopt;
}

RecordingDetails RecordingCatalog::Details(const CatalogRecording& recording) {
  {
    std::lock_guard lock(mutex_);
    const auto found = details_.find(recording.file.path);
    if (found != details_.end() && found->second.size == recording.file.size &&
        found->second.modifiedMs == recording.file.modifiedMs)
      return found->second.details;
  }
  RecordingDetails details;
  std::string error;
  if (const auto reader = RecordingReader::Open(recording.file.path, error)) {
    details.ok = true;
    details.codec = avcodec_get_name(reader->Stream().codecpar->codec_id);
    details.seconds = reader->Seconds();
  }
  std::lock_guard lock(mutex_);
  if (details_.size() >= kMaxCachedDetails) details_.clear();
  details_[recording.file.path] = {recording.file.size, recording.file.modifiedMs, details};
  return details;
}

bool RecordingCatalog::Delete(const CatalogRecording& recording, std::string& error) {
  const std::optional<CatalogRecording> current = Find(recording.id);
  if (!current) {
    error = "no such recording";
    return false;
  }
  if (::unlink(current->file.path.c_str()) != 0) {
    error = std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace zent
