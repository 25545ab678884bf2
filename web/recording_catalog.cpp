#include "web/recording_catalog.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "notify/notices.h"
#include "config/paths.h"
#include "record/recording_reader.h"

namespace zent {
namespace {

constexpr std::size_t kMaxCachedDetails = 20000;

// The part of a recording's name after its stem's "_", without ".avi": digits, '_' and '-'.
std::string NameTail(const std::string& name, const std::string& stem) {
  return name.substr(stem.size() + 1, name.size() - stem.size() - 1 - 4);
}

// "YYYY-MM-DD" of the time in a name's tail ("YYYYMMDD_HHMMSS…").
std::string TailDay(const std::string& tail) {
  return tail.size() < 8 ? std::string() : tail.substr(0, 4) + "-" + tail.substr(4, 2) + "-" + tail.substr(6, 2);
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
    list.push_back({TopicName(camera.Address()), camera.Address(), place, camera.preEventSeconds,
                    camera.diskGuard.reserveBytes});
  }
  std::lock_guard lock(mutex_);
  cameras_ = std::move(list);
  listings_.clear();
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

namespace {

// The folder's recordings of `stem`, newest first, from the names alone: the entry's type says
// what a regular file is (a look at the file only where the file system does not say), and the
// sizes of the few shown are looked up where they are shown.
std::vector<CatalogEntry> ReadListing(const std::string& folder, const std::string& stem) {
  std::vector<std::pair<std::string, CatalogEntry>> found;  // (time and number, entry)
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (!IsRecordingName(name, stem)) continue;
      bool regular = entry->d_type == DT_REG;
      if (entry->d_type == DT_UNKNOWN) {
        struct stat info {};
        regular = ::fstatat(::dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode);
      }
      if (!regular) continue;
      std::string tail = NameTail(name, stem);
      std::string day = TailDay(tail);
      found.emplace_back(RecordingOrderKey(name, stem), CatalogEntry{std::move(tail), std::move(day)});
    }
    ::closedir(dir);
  }
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  std::vector<CatalogEntry> entries;
  entries.reserve(found.size());
  for (auto& [key, entry] : found) entries.push_back(std::move(entry));
  return entries;
}

}  // namespace

CatalogListing RecordingCatalog::Listing(const std::string& cameraId) {
  const std::optional<CatalogCamera> camera = Camera(cameraId);
  if (!camera) return std::make_shared<const std::vector<CatalogEntry>>();
  // A folder changes its time when a file is added, renamed or deleted: until then the last
  // reading holds.
  struct stat info {};
  if (::stat(camera->place.folder.c_str(), &info) != 0) return std::make_shared<const std::vector<CatalogEntry>>();
  const std::int64_t changed = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
  {
    std::lock_guard lock(mutex_);
    const auto found = listings_.find(camera->id);
    if (found != listings_.end() && found->second.folder == camera->place.folder && found->second.changedNs == changed)
      return found->second.entries;
  }
  auto entries = std::make_shared<const std::vector<CatalogEntry>>(ReadListing(camera->place.folder, camera->place.stem));
  std::lock_guard lock(mutex_);
  listings_[camera->id] = {camera->place.folder, changed, entries};
  return entries;
}

std::optional<CatalogRecording> RecordingCatalog::Find(const std::string& recordingId) {
  const std::size_t tilde = recordingId.find('~');
  if (tilde == std::string::npos) return std::nullopt;
  const std::optional<CatalogCamera> camera = Camera(recordingId.substr(0, tilde));
  const std::string tail = recordingId.substr(tilde + 1);
  if (!camera || !IsTail(tail)) return std::nullopt;
  const std::string name = camera->place.stem + "_" + tail + ".avi";
  if (!IsRecordingName(name, camera->place.stem)) return std::nullopt;
  // A regular file of this name, not a link planted in its place.
  const std::string path = JoinPath(camera->place.folder, name);
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  RecordingFile file{path, name, static_cast<std::int64_t>(info.st_size), static_cast<std::int64_t>(info.st_blocks) * 512,
                     static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000 + info.st_mtim.tv_nsec / 1000000};
  return CatalogRecording{recordingId, camera->id, std::move(file), TailDay(tail)};
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
