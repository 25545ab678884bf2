#include "record/clip.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <memory>
#include <regex>

#include "record/ffmpeg_ptr.h"
#include "record/file_writer.h"
#include "record/recording_reader.h"

extern "C" {
#include <libavutil/mem.h>
}

namespace zent {
namespace {

constexpr AVRational kTimeBase{1, 90000};
constexpr int kIoBuffer = 256 * 1024;
// A clip reads whole recordings while its receiver may be slow: only a file system that stopped
// answering should end it.
constexpr auto kReadDeadline = std::chrono::hours(6);
// What the frames before the span's start may hold while their key frame is looked for, and the
// next recording's frames while the one shared with the last is looked for.
constexpr std::size_t kMaxHeldBytes = 64u << 20;

using Seconds = std::chrono::duration<double>;

WallClock::time_point At(WallClock::time_point start, double seconds) {
  return start + std::chrono::duration_cast<WallClock::duration>(Seconds(seconds));
}

struct HeldPacket {
  PacketPtr packet;
  WallClock::time_point at;
  double shownAfter = 0;  // seconds: a B-frame's picture comes later than its decode time
  double lasts = 0;       // seconds it is shown; 0 when the file does not say
};

class ClipMuxer {
 public:
  explicit ClipMuxer(const ClipSink& sink) : sink_(sink) {}
  ~ClipMuxer() {
    output_.reset();
    if (io_) {
      av_freep(&io_->buffer);
      avio_context_free(&io_);
    }
  }

  bool Opened() const { return output_ != nullptr; }
  bool SameStream(const AVCodecParameters& p) const { return VideoMode{p.codec_id, p.width, p.height} == mode_; }
  WallClock::time_point LastAt() const { return lastAt_; }
  const std::string& LastBytes() const { return lastBytes_; }
  std::int64_t Frames() const { return frames_; }
  WallClock::time_point FirstAt() const { return zero_; }
  bool Abandoned() const { return gone_; }

  bool Open(const AVStream& in, std::string& error) {
    AVFormatContext* raw = nullptr;
    if (avformat_alloc_output_context2(&raw, nullptr, "mp4", nullptr) < 0 || !raw) {
      error = "cannot make an MP4";
      return false;
    }
    output_.reset(raw);
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBuffer));
    io_ = buffer ? avio_alloc_context(buffer, kIoBuffer, 1, this, nullptr, &ClipMuxer::Take, nullptr) : nullptr;
    if (!io_) {
      av_free(buffer);
      error = "out of memory";
      return false;
    }
    raw->pb = io_;
    raw->flags |= AVFMT_FLAG_CUSTOM_IO;
    stream_ = avformat_new_stream(raw, nullptr);
    if (!stream_ || avcodec_parameters_copy(stream_->codecpar, in.codecpar) < 0) {
      error = "cannot make an MP4";
      return false;
    }
    stream_->codecpar->codec_tag = Mp4Tag(*in.codecpar);
    stream_->time_base = kTimeBase;
    mode_ = {in.codecpar->codec_id, in.codecpar->width, in.codecpar->height};
    AVDictionary* options = Mp4FragmentOptions(*in.codecpar);
    const int result = avformat_write_header(raw, &options);
    av_dict_free(&options);
    if (result < 0) {
      error = Failed(result);
      return false;
    }
    return true;
  }

  bool Write(HeldPacket& held, std::string& error) {
    AVPacket& packet = *held.packet;
    if (frames_ == 0) zero_ = held.at;
    std::int64_t dts = std::llround(Seconds(held.at - zero_).count() * kTimeBase.den);
    if (frames_ > 0 && dts <= lastDts_) dts = lastDts_ + 1;
    packet.dts = dts;
    packet.pts = dts + std::llround(held.shownAfter * kTimeBase.den);
    packet.duration = std::llround(held.lasts * kTimeBase.den);
    packet.stream_index = stream_->index;
    packet.pos = -1;
    lastBytes_.assign(reinterpret_cast<const char*>(packet.data), static_cast<std::size_t>(packet.size));
    const int result = av_write_frame(output_.get(), &packet);
    if (result < 0) {
      error = Failed(result);
      return false;
    }
    lastDts_ = dts;
    lastAt_ = held.at;
    ++frames_;
    return true;
  }

  bool Finish(std::string& error) {
    int result = av_write_trailer(output_.get());
    if (result >= 0) {
      avio_flush(io_);
      if (io_->error < 0) result = io_->error;
    }
    if (result < 0) error = Failed(result);
    return result >= 0;
  }

 private:
  std::string Failed(int result) const { return gone_ ? "the clip's receiver went away" : ErrorText(result); }
  static int Take(void* self, std::uint8_t* data, int size) {
    auto* muxer = static_cast<ClipMuxer*>(self);
    if (muxer->gone_ || !muxer->sink_(reinterpret_cast<const char*>(data), static_cast<std::size_t>(size))) {
      muxer->gone_ = true;
      return AVERROR(EPIPE);
    }
    return size;
  }

  const ClipSink& sink_;
  OutputPtr output_;
  AVIOContext* io_ = nullptr;
  AVStream* stream_ = nullptr;
  VideoMode mode_;
  WallClock::time_point zero_, lastAt_;
  std::int64_t lastDts_ = 0;
  std::int64_t frames_ = 0;
  std::string lastBytes_;  // the last frame written, to find it again in the next recording
  bool gone_ = false;
};

bool SameBytes(const AVPacket& packet, const std::string& bytes) {
  return static_cast<std::size_t>(packet.size) == bytes.size() && !bytes.empty() &&
         std::memcmp(packet.data, bytes.data(), bytes.size()) == 0;
}

// One recording's part of the clip, read in decode order.
class RecordingPart {
 public:
  RecordingPart(RecordingReader& reader, WallClock::time_point start) : reader_(reader), start_(start) {}

  // The next video packet and its time; false at the end of the file.
  bool Next(HeldPacket& held) {
    for (;;) {
      held.packet = NewPacket();
      if (!held.packet || av_read_frame(reader_.Input(), held.packet.get()) < 0) return false;
      const AVPacket& p = *held.packet;
      if (p.stream_index != reader_.VideoStream() || p.size == 0) continue;
      const AVRational base = reader_.Stream().time_base;
      const std::int64_t dts = p.dts != AV_NOPTS_VALUE ? p.dts : p.pts;
      if (dts == AV_NOPTS_VALUE) continue;
      if (firstDts_ == AV_NOPTS_VALUE) firstDts_ = dts;
      held.at = At(start_, static_cast<double>(dts - firstDts_) * av_q2d(base));
      held.shownAfter = p.pts != AV_NOPTS_VALUE && p.pts > dts ? static_cast<double>(p.pts - dts) * av_q2d(base) : 0;
      held.lasts = p.duration > 0 ? static_cast<double>(p.duration) * av_q2d(base) : 0;
      return true;
    }
  }

 private:
  RecordingReader& reader_;
  const WallClock::time_point start_;
  std::int64_t firstDts_ = AV_NOPTS_VALUE;
};

bool IsKey(const HeldPacket& held) { return held.packet->flags & AV_PKT_FLAG_KEY; }

RecordingExtent Extent(const RecordingReader& reader, const ClipSource& source) {
  RecordingExtent extent;
  extent.seconds = reader.Seconds();
  const AVDictionaryEntry* date = av_dict_get(reader.Input()->metadata, "date", nullptr, 0);
  const std::optional<WallClock::time_point> tagged = date ? ParseIsoTime(date->value) : std::nullopt;
  extent.tagged = tagged.has_value();
  extent.start = tagged ? *tagged : At(source.named, -source.preEventSeconds);
  return extent;
}

}  // namespace

std::vector<ClipSource> ClipSourcesAmong(const std::vector<ClipSource>& oldestFirst, WallClock::time_point from,
                                         WallClock::time_point to) {
  constexpr std::size_t kEarlier = 2;
  std::vector<ClipSource> picked;
  std::size_t earlier = 0;
  for (auto it = oldestFirst.rbegin(); it != oldestFirst.rend(); ++it) {
    if (it->named >= At(to, it->preEventSeconds + 1)) continue;
    if (it->named < from && ++earlier > kEarlier) break;
    picked.push_back(*it);
  }
  return {picked.rbegin(), picked.rend()};
}

bool RecordingExtent::Reaches(WallClock::time_point from, WallClock::time_point to) const {
  return start < to && (seconds <= 0 || At(start, seconds) > from);
}

std::optional<RecordingExtent> ExtentOf(const ClipSource& source) {
  std::string error;
  const std::unique_ptr<RecordingReader> reader = RecordingReader::Open(source.path, error);
  if (!reader) return std::nullopt;
  return Extent(*reader, source);
}

bool WriteClip(const std::vector<ClipSource>& sources, WallClock::time_point from, WallClock::time_point to,
               const ClipSink& sink, ClipSummary& summary, std::string& error) {
  ClipMuxer muxer(sink);
  const bool written = [&] {
    for (const ClipSource& source : sources) {
      std::string why;
      const std::unique_ptr<RecordingReader> reader = RecordingReader::Open(source.path, why, kReadDeadline);
      if (!reader) {
        summary.skipped.push_back(source.path + ": " + why);
        continue;
      }
      const RecordingExtent extent = Extent(*reader, source);
      if (!extent.Reaches(from, to)) continue;  // names and tags may disagree: each is looked at
      if (muxer.Opened() && !muxer.SameStream(*reader->Stream().codecpar)) {
        summary.skipped.push_back(source.path + ": another codec or picture size than the clip's");
        continue;
      }
      RecordingPart part(*reader, extent.start);
      // Before the span, or over the frames the last recording has: held until it is clear where
      // this recording's part begins.
      std::vector<HeldPacket> held;
      std::size_t heldBytes = 0;
      const bool follows = muxer.Frames() > 0;
      bool placed = false;  // where to begin is known: what comes now is written
      bool needKey = true;  // nothing before a key frame decodes, unless it goes on from the last one written
      bool gave = false;
      auto write = [&](HeldPacket& packet) {
        if (needKey && !IsKey(packet)) return true;
        needKey = false;
        if (!muxer.Opened() && !muxer.Open(reader->Stream(), error)) return false;
        if (!muxer.Write(packet, error)) return false;
        gave = true;
        return true;
      };
      // Writes what is held: after the frame the last recording ended with, found by its bytes,
      // else from the first key frame later than it; for the clip's start, from the last key frame.
      auto place = [&]() {
        std::size_t begin = 0;
        if (follows) {
          begin = held.size();
          for (std::size_t i = held.size(); i-- > 0;)
            if (SameBytes(*held[i].packet, muxer.LastBytes())) {
              begin = i + 1;
              needKey = false;
              break;
            }
          if (needKey) {
            begin = 0;
            while (begin < held.size() && held[begin].at <= muxer.LastAt()) ++begin;
          }
        } else {
          for (std::size_t i = held.size(); i-- > 0;)
            if (IsKey(held[i])) {
              begin = i;
              break;
            }
        }
        placed = true;
        for (std::size_t i = begin; i < held.size(); ++i)
          if (held[i].at < to && !write(held[i])) return false;
        held.clear();
        return true;
      };
      HeldPacket next;
      bool more = true;
      while ((more = part.Next(next))) {
        if (placed) {
          if (next.at >= to) break;
          if (!write(next)) return false;
          continue;
        }
        const bool waiting = follows ? next.at <= muxer.LastAt() + std::chrono::seconds(1) : next.at < from;
        if (!follows && IsKey(next)) {
          held.clear();  // the clip begins at this key frame or a later one
          heldBytes = 0;
        }
        heldBytes += static_cast<std::size_t>(next.packet->size);
        held.push_back(std::move(next));
        while (heldBytes > kMaxHeldBytes) {
          heldBytes -= static_cast<std::size_t>(held.front().packet->size);
          held.erase(held.begin());
        }
        if (!waiting && !place()) return false;
      }
      // A recording wholly before the span gives nothing; one wholly within the last one's frames
      // gives what it has after them.
      if (!placed && follows && !place()) return false;
      if (gave) ++summary.recordings;
      if (more) break;  // the span ended inside this recording
    }
    return true;
  }();
  summary.frames = muxer.Frames();
  summary.abandoned = muxer.Abandoned();
  if (!written) return false;
  if (muxer.Frames() == 0) {
    if (error.empty()) error = "no recording holds a frame of this span";
    return false;
  }
  summary.first = muxer.FirstAt();
  summary.last = muxer.LastAt();
  return muxer.Finish(error);
}

std::optional<WallClock::time_point> ParseIsoTime(const std::string& text) {
  static const std::regex pattern(
      R"(([0-9]{4})-([0-9]{2})-([0-9]{2})[T ]([0-9]{2}):([0-9]{2})(?::([0-9]{2})(?:[.,]([0-9]{1,9}))?)?(Z|z|[+-][0-9]{2}:?[0-9]{2})?)");
  std::smatch m;
  if (text.size() > 40 || !std::regex_match(text, m, pattern)) return std::nullopt;
  std::tm tm{};
  tm.tm_year = std::stoi(m[1]) - 1900;
  tm.tm_mon = std::stoi(m[2]) - 1;
  tm.tm_mday = std::stoi(m[3]);
  tm.tm_hour = std::stoi(m[4]);
  tm.tm_min = std::stoi(m[5]);
  tm.tm_sec = m[6].matched ? std::stoi(m[6]) : 0;
  if (tm.tm_mon > 11 || tm.tm_mday < 1 || tm.tm_mday > 31 || tm.tm_hour > 23 || tm.tm_min > 59 || tm.tm_sec > 60)
    return std::nullopt;
  std::time_t seconds;
  const std::string zone = m[8];
  if (zone.empty()) {
    tm.tm_isdst = -1;
    seconds = std::mktime(&tm);
  } else {
    seconds = ::timegm(&tm);
    if (zone != "Z" && zone != "z") {
      const std::string digits = std::regex_replace(zone.substr(1), std::regex(":"), "");
      const int offset = std::stoi(digits.substr(0, 2)) * 3600 + std::stoi(digits.substr(2, 2)) * 60;
      seconds += zone[0] == '+' ? -offset : offset;
    }
  }
  if (seconds == static_cast<std::time_t>(-1)) return std::nullopt;
  double fraction = 0;
  if (m[7].matched) fraction = std::stod("0." + m[7].str());
  return WallClock::from_time_t(seconds) + std::chrono::duration_cast<WallClock::duration>(Seconds(fraction));
}

}  // namespace zent
