#include "web/metrics.h"

#include <cinttypes>
#include <cstdio>
#include <functional>

namespace zent {
namespace {

// A label value as the format wants it: backslash, quote and newline escaped.
std::string Label(const std::string& value) {
  std::string text;
  for (const char c : value) {
    if (c == '\\') text += "\\\\";
    else if (c == '"') text += "\\\"";
    else if (c == '\n') text += "\\n";
    else text += c;
  }
  return text;
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.15g", value);
  return text;
}

class Writer {
 public:
  void Family(const char* name, const char* type, const char* help) {
    text_ += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
  }
  void Sample(const char* name, const std::string& labels, double value) {
    text_ += name;
    if (!labels.empty()) text_ += "{" + labels + "}";
    text_ += " " + Number(value) + "\n";
  }
  std::string Take() { return std::move(text_); }

 private:
  std::string text_;
};

struct CameraRow {
  const CameraState* state;
  std::shared_ptr<CameraFeed> feed;
  std::string labels;
};

}  // namespace

std::string MetricsText(const std::vector<CameraState>& cameras, CameraFeeds& feeds, const ProcessFigures& process) {
  std::vector<CameraRow> rows;
  rows.reserve(cameras.size());
  for (const CameraState& camera : cameras)
    rows.push_back({&camera, feeds.Find(camera.address),
                    "camera=\"" + Label(camera.id) + "\",address=\"" + Label(camera.address) + "\""});
  Writer out;
  using Value = std::function<double(const CameraRow&)>;
  const auto stat = [](const CameraRow& row, auto member) -> double {
    return row.feed ? static_cast<double>((row.feed->Stats().*member).load()) : 0.0;
  };
  const struct {
    const char* name;
    const char* type;
    const char* help;
    Value value;
  } families[] = {
      {"zent_camera_up", "gauge", "1 while the camera's event channel is logged in.",
       [](const CameraRow& r) { return r.state->loggedIn ? 1.0 : 0.0; }},
      {"zent_camera_video_up", "gauge", "1 while the camera's video arrives.",
       [&](const CameraRow& r) { return r.state->video && (!r.feed || r.feed->Stats().videoUp) ? 1.0 : 0.0; }},
      {"zent_camera_recording", "gauge", "1 while a recording of the camera is being written.",
       [](const CameraRow& r) { return r.state->recording ? 1.0 : 0.0; }},
      {"zent_camera_recordings_total", "counter", "Recordings begun.",
       [](const CameraRow& r) { return static_cast<double>(r.state->recordings); }},
      {"zent_camera_frames_written_total", "counter", "Frames written to recordings.",
       [&](const CameraRow& r) { return stat(r, &FeedStats::framesWritten); }},
      {"zent_camera_frames_dropped_total", "counter", "Frames dropped: memory for buffered video full, disk too slow.",
       [&](const CameraRow& r) { return stat(r, &FeedStats::framesDropped); }},
      {"zent_camera_bytes_written_total", "counter", "Bytes of video written to recordings.",
       [&](const CameraRow& r) { return stat(r, &FeedStats::bytesWritten); }},
      {"zent_camera_reconnects_total", "counter", "Log-ins after the first, and the video coming back.",
       [](const CameraRow& r) { return static_cast<double>(r.state->reconnects); }},
      {"zent_camera_last_event_timestamp_seconds", "gauge", "When the camera last sent an event (0: never).",
       [](const CameraRow& r) { return r.state->lastEventUnix; }},
      {"zent_camera_last_frame_timestamp_seconds", "gauge", "When the camera's video last arrived (0: never).",
       [&](const CameraRow& r) { return stat(r, &FeedStats::lastFrameUnixMs) / 1000.0; }},
  };
  for (const auto& family : families) {
    out.Family(family.name, family.type, family.help);
    for (const CameraRow& row : rows) out.Sample(family.name, row.labels, family.value(row));
  }
  // Every source for every camera, so that a rate has its zero before the first event.
  out.Family("zent_camera_events_total", "counter", "Events of the camera, by where they came from.");
  for (const CameraRow& row : rows) {
    for (const char* source : {"camera", "onvif", "external", "motion"}) {
      const auto found = row.state->eventsBySource.find(source);
      out.Sample("zent_camera_events_total", row.labels + ",source=\"" + source + "\"",
                 found == row.state->eventsBySource.end() ? 0.0 : static_cast<double>(found->second));
    }
  }
  out.Family("zent_memory_budget_used_bytes", "gauge", "Video held in memory by all cameras.");
  out.Sample("zent_memory_budget_used_bytes", "", static_cast<double>(process.memoryUsedBytes));
  out.Family("zent_memory_budget_limit_bytes", "gauge", "The bound on video held in memory.");
  out.Sample("zent_memory_budget_limit_bytes", "", static_cast<double>(process.memoryLimitBytes));
  out.Family("zent_disk_free_bytes", "gauge", "Free space on the disk of a recordings folder.");
  for (const DiskFigures& disk : process.disks)
    if (disk.freeBytes >= 0)
      out.Sample("zent_disk_free_bytes", "folder=\"" + Label(disk.folder) + "\"", static_cast<double>(disk.freeBytes));
  out.Family("zent_disk_reserve_bytes", "gauge", "Free space recordings keep on the disk of a recordings folder.");
  for (const DiskFigures& disk : process.disks)
    out.Sample("zent_disk_reserve_bytes", "folder=\"" + Label(disk.folder) + "\"",
               static_cast<double>(disk.reserveBytes));
  out.Family("zent_web_live_viewers", "gauge", "Live views open on the web page.");
  out.Sample("zent_web_live_viewers", "", process.liveViewers);
  return out.Take();
}

}  // namespace zent
