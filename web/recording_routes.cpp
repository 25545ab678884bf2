#include "web/recording_routes.h"

#include "record/file_writer.h"
#include "record/kept_mark.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <regex>

#include "notify/notices.h"
#include "record/picture_jpeg.h"
#include "record/thumbnail.h"
#include "web/http_answers.h"
#include "web/web_requests.h"

namespace zent {
namespace {

using Json = nlohmann::json;

constexpr std::size_t kPageSize = 50;

bool SameFile(const std::string& a, const std::string& b) {
  struct stat x {
  }, y{};
  if (a == b) return true;
  return ::stat(a.c_str(), &x) == 0 && ::stat(b.c_str(), &y) == 0 && x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}

}  // namespace

void RecordingRoutes::Register(HttpServer& server) {
  const std::string one = "/api/recordings/" + kRecordingIdPattern;
  server.Route("GET", "/api/recordings", [this](const HttpRequest& q, HttpResponse& r) {
    List(q.Param("camera"), q.Param("day"), q.Param("page"), r);
  });
  server.Route("GET", "/api/week", [this](const HttpRequest& q, HttpResponse& r) { Week(q.Param("camera"), r); });
  server.Route("GET", one, [this](const HttpRequest& q, HttpResponse& r) { One(q.matches[1], r); });
  server.Route("DELETE", one, [this](const HttpRequest& q, HttpResponse& r) {
    const auto caller = caller_(q);
    if (!caller) return SendError(r, 401, "log in first");
    Delete(*caller, q.matches[1], r);
  });
  for (const bool keep : {true, false})
    server.Route(keep ? "POST" : "DELETE", one + "/keep", [this, keep](const HttpRequest& q, HttpResponse& r) {
      const auto caller = caller_(q);
      if (!caller) return SendError(r, 401, "log in first");
      Keep(*caller, q.matches[1], keep, r);
    });
  server.Route("GET", one + "/download", [this](const HttpRequest& q, HttpResponse& r) { Download(q.matches[1], r); });
  server.Route("GET", one + "/frames", [this](const HttpRequest& q, HttpResponse& r) { Frames(q.matches[1], r); });
  server.Route("GET", one + "/frame/([0-9]{1,9})\\.jpg",
               [this](const HttpRequest& q, HttpResponse& r) { Frame(q.matches[1], std::stoul(q.matches[2]), r); });
  server.Route("GET", one + "/thumbnail\\.jpg",
               [this](const HttpRequest& q, HttpResponse& r) { Thumbnail(q.matches[1], r); });
  server.Route("GET", one + "/video\\.mp4", [this](const HttpRequest& q, HttpResponse& r) { Video(q.matches[1], r); });
}

std::string RecordingRoutes::Json(const CatalogRecording& recording) {
  const RecordingDetails details = recordings_.Details(recording);
  const std::optional<CatalogCamera> camera = recordings_.Camera(recording.camera);
  const std::string base = "/api/recordings/" + recording.id;
  nlohmann::json json{
      {"id", recording.id},
      {"camera", recording.camera},
      {"start",
       recording.Start() >= 0 ? IsoTime(std::chrono::system_clock::from_time_t(recording.Start()), false) : ""},
      {"seconds", details.seconds},
      {"bytes", recording.file.size},
      {"codec", details.ok ? details.codec : "unknown"},
      {"eventSeconds", std::min<double>(details.seconds, camera ? camera->preEventSeconds : 0)},
      {"thumbnail", base + "/thumbnail.jpg"},
      {"download", base + "/download"},
      {"kept", IsKept(recording.file.path)}};
  if (details.codec == "mjpeg") json["frames"] = base + "/frames";
  else if (details.codec == "h264" || (details.codec == "hevc" && ContainerOf(recording.file.path) == Container::Mp4))
    json["video"] = base + "/video.mp4";
  return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void RecordingRoutes::List(const std::string& camera, const std::string& day, const std::string& pageText,
                           HttpResponse& response) {
  if (!recordings_.Camera(camera)) return SendError(response, 404, "no such camera");
  if (!day.empty() && !std::regex_match(day, std::regex("[0-9]{4}-[0-9]{2}-[0-9]{2}")))
    return SendError(response, 400, "day is YYYY-MM-DD");
  const std::size_t page =
      pageText.empty() || pageText.size() > 6 || pageText.find_first_not_of("0123456789") != std::string::npos
          ? 0
          : std::stoul(pageText);
  // One read of the folder: the day's recordings, and every day that has some (newest first) for
  // the page's day buttons.
  const CatalogListing listing = recordings_.Listing(camera);
  nlohmann::json days = nlohmann::json::array();
  const std::string* lastDay = nullptr;
  std::vector<const CatalogEntry*> all;
  all.reserve(listing->size());
  for (const CatalogEntry& entry : *listing) {
    if (!entry.day.empty() && (!lastDay || *lastDay != entry.day)) {
      days.push_back(entry.day);
      lastDay = &entry.day;
    }
    if (day.empty() || entry.day == day) all.push_back(&entry);
  }
  std::string items;
  for (std::size_t i = page * kPageSize; i < all.size() && i < (page + 1) * kPageSize; ++i) {
    // Looked at now: its size and length, and whether it is still there.
    const std::optional<CatalogRecording> now = recordings_.Find(camera + "~" + all[i]->tail);
    if (now) items += (items.empty() ? "" : ",") + Json(*now);
  }
  const std::size_t pages = (all.size() + kPageSize - 1) / kPageSize;
  response.SetContent("{\"camera\":" + nlohmann::json(camera).dump() + ",\"day\":" + nlohmann::json(day).dump() +
                          ",\"page\":" + std::to_string(page) + ",\"pages\":" + std::to_string(pages) + ",\"total\":" +
                          std::to_string(all.size()) + ",\"days\":" + days.dump() + ",\"recordings\":[" + items + "]}",
                      "application/json");
}

void RecordingRoutes::Week(const std::string& camera, HttpResponse& response) {
  if (!recordings_.Camera(camera)) return SendError(response, 404, "no such camera");
  // The events of the last seven days by hour, as the desktop's week chart counts them: one a
  // recording, at the time in its name.
  const std::time_t now = std::time(nullptr);
  std::vector<RecordingStamp> stamps;
  const CatalogListing listing = recordings_.Listing(camera);  // held here: a loop over *Listing() would outlive it
  for (const CatalogEntry& entry : *listing) stamps.push_back(entry.stamp);
  const auto counts = CountByHour(stamps, DayNumberOf(now - 6 * 86400), 7);
  nlohmann::json week = nlohmann::json::array();
  for (int back = 6; back >= 0; --back)
    week.push_back({{"day", DayOf(now - back * 86400)}, {"hours", counts[static_cast<std::size_t>(6 - back)]}});
  SendJson(response, {{"camera", camera}, {"days", week}});
}

void RecordingRoutes::One(const std::string& id, HttpResponse& response) {
  const auto recording = recordings_.Find(id);
  if (!recording) return SendError(response, 404, "no such recording");
  response.SetContent(Json(*recording), "application/json");
}

void RecordingRoutes::Delete(const WebSession& caller, const std::string& id, HttpResponse& response) {
  if (caller.role != Role::Admin) return SendError(response, 403, "only an admin may delete");
  const auto recording = recordings_.Find(id);
  if (!recording) return SendError(response, 404, "no such recording");
  // The writer would go on into a file nobody can see, and the recording would be lost whole.
  for (const CameraState& camera : board_.Cameras())
    if (camera.recording && !camera.recordingPath.empty() && SameFile(camera.recordingPath, recording->file.path))
      return SendError(response, 409, "this recording is still being made; delete it when it is saved");
  std::string error;
  if (!recordings_.Delete(*recording, error)) return SendError(response, 500, "not deleted: " + error);
  say_("Web page: " + caller.user + " deleted " + recording->file.path);
  SendJson(response, {{"deleted", recording->id}});
}

void RecordingRoutes::Keep(const WebSession& caller, const std::string& id, bool keep, HttpResponse& response) {
  if (caller.role != Role::Admin) return SendError(response, 403, "only an admin may keep or release a recording");
  const auto recording = recordings_.Find(id);
  if (!recording) return SendError(response, 404, "no such recording");
  std::string error;
  if (!SetKept(recording->file.path, keep, error)) return SendError(response, 500, "not changed: " + error);
  say_("Web page: " + caller.user + (keep ? " keeps " : " no longer keeps ") + recording->file.path);
  SendJson(response, {{"id", recording->id}, {"kept", keep}});
}

void RecordingRoutes::Download(const std::string& id, HttpResponse& response) {
  const auto recording = recordings_.Find(id);
  if (!recording) return SendError(response, 404, "no such recording");
  std::string error;
  UniqueFd fd = OpenRecordingForReading(recording->file.path, error);
  if (!fd) return SendError(response, 409, "cannot read this recording: " + error);
  const off_t size = ::lseek(fd.Get(), 0, SEEK_END);
  response.SetHeader("Content-Disposition", "attachment; filename=\"" + recording->file.name + "\"");
  response.SetFile(std::move(fd), 0, size,
                   ContainerOf(recording->file.path) == Container::Mp4 ? "video/mp4" : "video/x-msvideo");
}

std::optional<std::pair<CatalogRecording, std::shared_ptr<const FrameIndex>>> RecordingRoutes::Mjpeg(
    const std::string& id, HttpResponse& response) {
  auto recording = recordings_.Find(id);
  if (!recording) {
    SendError(response, 404, "no such recording");
    return std::nullopt;
  }
  std::string error;
  auto index = indexes_.Of(recording->file, error);
  if (!index) {
    SendError(response, 409, error);
    return std::nullopt;
  }
  return std::make_pair(std::move(*recording), std::move(index));
}

void RecordingRoutes::Frames(const std::string& id, HttpResponse& response) {
  const auto found = Mjpeg(id, response);
  if (!found) return;
  const auto& [recording, index] = *found;
  SendJson(response, {{"count", index->offsets.size()},
                      {"fps", index->fps},
                      {"width", index->width},
                      {"height", index->height},
                      {"offsets", index->offsets},
                      {"sizes", index->sizes},
                      {"frame", "/api/recordings/" + recording.id + "/frame/"}});
}

void RecordingRoutes::Frame(const std::string& id, std::size_t number, HttpResponse& response) {
  const auto found = Mjpeg(id, response);
  if (!found) return;
  const auto& [recording, index] = *found;
  if (number >= index->offsets.size()) return SendError(response, 404, "no such frame");
  std::string error;
  UniqueFd fd = OpenRecordingForReading(recording.file.path, error);
  if (!fd) return SendError(response, 409, "cannot read this recording: " + error);
  // A finished recording never changes: the browser may keep its frames.
  response.SetHeader("Cache-Control", "private, max-age=86400, immutable");
  response.SetFile(std::move(fd), index->offsets[number], index->sizes[number], "image/jpeg");
}

void RecordingRoutes::Thumbnail(const std::string& id, HttpResponse& response) {
  const auto recording = recordings_.Find(id);
  if (!recording) return SendError(response, 404, "no such recording");
  // The picture a second in, as the desktop's Recordings window shows it.
  const std::string jpeg = thumbnails_.Get(recording->file.path, recording->file.size, recording->file.modifiedMs, [&] {
    return EncodeJpeg(MakeThumbnail(recording->file.path, 1.0, 320, 240));
  });
  if (jpeg.empty()) return SendError(response, 409, "no picture in this recording");
  response.SetHeader("Cache-Control", "private, max-age=3600");
  response.SetContent(jpeg, "image/jpeg");
}

void RecordingRoutes::Video(const std::string& id, HttpResponse& response) {
  const auto recording = recordings_.Find(id);
  if (!recording) return SendError(response, 404, "no such recording");
  if (ContainerOf(recording->file.path) != Container::Mp4 && recordings_.Details(*recording).codec != "h264")
    return SendError(response, 409, "not an H.264 recording");
  Play(*recording, response);
}

void RecordingRoutes::Play(const CatalogRecording& recording, HttpResponse& response) {
  std::string error;
  if (ContainerOf(recording.file.path) == Container::Mp4) {
    // Written for players already: served as it is, ranges and all.
    UniqueFd file = OpenRecordingForReading(recording.file.path, error);
    if (!file) return SendError(response, 409, "cannot read this recording: " + error);
    const off_t size = ::lseek(file.Get(), 0, SEEK_END);
    response.SetFile(std::move(file), 0, size, "video/mp4");
    return;
  }
  if (recordings_.Details(recording).codec != "h264") return Download(recording.id, response);
  const std::string mp4 = mp4s_.Of(recording.id, recording.file, error);
  if (mp4.empty()) return SendError(response, 409, error);
  UniqueFd fd(::open(mp4.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!fd) return SendError(response, 410, "the MP4 made of this recording went away; ask again");
  const off_t size = ::lseek(fd.Get(), 0, SEEK_END);
  response.SetHeader("Cache-Control", "private, max-age=3600");
  response.SetFile(std::move(fd), 0, size, "video/mp4");
}

}  // namespace zent
