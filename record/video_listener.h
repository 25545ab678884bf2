#pragma once
// What the video engine tells the window or program that runs it.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zent {

struct VideoPicture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;  // 32-bit 0xffRRGGBB words, row after row
};

struct VideoReport {
  enum class Kind {
    Connecting,
    Connected,
    NoVideo,
    StreamLost,
    StreamBack,  // video arrives again after a loss
    RecordingStarted,
    RecordingSaved,
    RecordingFailed,
    RecordingDeleted,  // an old recording made room on the disk
    RecordingKept,     // one a person marked kept was passed by
    FramesDropped      // the process's memory for buffered video was full
  };
  VideoReport(Kind k, std::string t, std::string p = {}, std::int64_t f = 0, double s = 0)
      : kind(k), text(std::move(t)), path(std::move(p)), frames(f), seconds(s) {}
  VideoReport() : VideoReport(Kind::Connecting, {}) {}
  Kind kind;
  std::string text;  // for the user; never holds the password
  std::string path;  // the file, for the recording reports
  std::int64_t frames = 0;
  double seconds = 0;
  double firstFrameMs = 0;     // from the start request to the first frame written
  double preEventSeconds = 0;  // of the file, the part before the event
};

// Being connected is no news; everything else is a status line for the user.
inline bool IsStatusReport(const VideoReport& report) {
  return report.kind != VideoReport::Kind::Connecting && report.kind != VideoReport::Kind::Connected;
}

// What a report means for a recording's file: it appeared; it was finished (saved, or failed after
// frames were written, which are kept); or it is gone (nothing kept, or deleted to make room).
enum class FileEffect { None, Started, Saved, Removed };
inline FileEffect FileEffectOf(const VideoReport& report) {
  using Kind = VideoReport::Kind;
  if (report.path.empty()) return FileEffect::None;
  switch (report.kind) {
    case Kind::RecordingStarted: return FileEffect::Started;
    case Kind::RecordingSaved: return FileEffect::Saved;
    case Kind::RecordingFailed: return report.frames > 0 ? FileEffect::Saved : FileEffect::Removed;
    case Kind::RecordingDeleted: return FileEffect::Removed;
    default: return FileEffect::None;
  }
}

// Called on the engine's threads; implementations hand the calls on and return at once.
class VideoListener {
 public:
  virtual ~VideoListener() = default;
  virtual void OnVideoPicture(std::shared_ptr<const VideoPicture> picture) = 0;
  virtual void OnVideoModeChanged() = 0;
  virtual void OnVideoReport(const VideoReport& report) = 0;
};

}  // namespace zent
