#pragma once
// A span of a camera's recordings as one MP4: their packets copied, nothing decoded or encoded. It
// starts at the last key frame at or before the span's start, so it plays from its first byte;
// frames the next recording's pre-event seconds share with the one before are written once; a
// time without a recording stays a gap in the clip's time. Fragmented as it is made, so it can be
// sent while it is being written, in bounded memory.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zent {

using WallClock = std::chrono::system_clock;

// A recording that may lie in the span, oldest first; `named` is when its name says it began.
struct ClipSource {
  std::string path;
  WallClock::time_point named;
  double preEventSeconds = 0;  // how far before its name it may begin, for files without a start tag
};

// Of a camera's recordings (oldest first, by the time in their names), those that may hold frames
// of [from, to): named before `to` (by as much as their seconds before the event), and of those
// named before `from` the newest two only — a recording ends before the next begins, but for the
// next one's seconds before its event.
std::vector<ClipSource> ClipSourcesAmong(const std::vector<ClipSource>& oldestFirst, WallClock::time_point from,
                                         WallClock::time_point to);

// When a recording's first frame came, to the millisecond, and how long it plays (0: unknown, as
// for one still being made); nothing when it cannot be read.
struct RecordingExtent {
  WallClock::time_point start;
  double seconds = 0;
  bool tagged = false;  // the start is the file's own, not its name's
  // Whether it may hold frames of [from, to) (one still being made may).
  bool Reaches(WallClock::time_point from, WallClock::time_point to) const;
};
std::optional<RecordingExtent> ExtentOf(const ClipSource& source);

struct ClipSummary {
  std::int64_t frames = 0;
  int recordings = 0;                 // those that gave frames
  WallClock::time_point first, last;  // the first and last frame's times
  std::vector<std::string> skipped;   // recordings left out, with why
  bool abandoned = false;             // the receiver stopped taking it
};

// Takes the clip's bytes as they are made; false when nobody wants them any more.
using ClipSink = std::function<bool(const char* data, std::size_t size)>;

// Writes the frames of [from, to) of `sources` to `sink`; false with the reason when nothing was
// written or the writing failed (then the bytes sent so far are a clip cut short).
bool WriteClip(const std::vector<ClipSource>& sources, WallClock::time_point from, WallClock::time_point to,
               const ClipSink& sink, ClipSummary& summary, std::string& error);

// An ISO 8601 time as the page and a person write it: "2026-12-09T10:15:00Z", with a fraction,
// with an offset ("+01:00"), or without either (local time).
std::optional<WallClock::time_point> ParseIsoTime(const std::string& text);

}  // namespace zent
