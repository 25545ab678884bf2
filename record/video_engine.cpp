#include "record/video_engine.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "config/paths.h"
#include "record/file_writer.h"
#include "record/ffmpeg_limits.h"
#include "record/live_decoder.h"
#include "record/memory_budget.h"
#include "record/packet_source.h"
#include "record/pre_event_buffer.h"
#include "record/recording_name.h"
#include "record/recorder.h"
#include "record/recorder_finishing.h"

namespace zent {
namespace {

// "2 s", "0.3 s": a pause as a status line says it.
std::string SecondsText(std::chrono::milliseconds pause) {
  char text[32];
  if (pause.count() % 1000 == 0)
    std::snprintf(text, sizeof text, "%lld s", static_cast<long long>(pause.count() / 1000));
  else std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(pause.count()) / 1000.0);
  return text;
}

using Clock = std::chrono::steady_clock;

// The small live picture needs no more than this; the recording keeps every frame.
constexpr auto kDisplayInterval = std::chrono::milliseconds(100);

std::int64_t Nanoseconds(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

// A recording asked for this long after the window marked its event still begins before that event.
constexpr auto kEventMarkValidity = std::chrono::seconds(10);

// The stream's parameters with the size of the pictures that now arrive (a JPEG stream says its
// size only in each picture).
std::shared_ptr<AVCodecParameters> CopyParameters(const AVCodecParameters& stream, const VideoMode& mode) {
  std::shared_ptr<AVCodecParameters> copy(avcodec_parameters_alloc(),
                                          [](AVCodecParameters* p) { avcodec_parameters_free(&p); });
  if (!copy || avcodec_parameters_copy(copy.get(), &stream) < 0) return nullptr;
  copy->codec_type = AVMEDIA_TYPE_VIDEO;
  copy->width = mode.width;
  copy->height = mode.height;
  return copy;
}

}  // namespace

VideoEngine::VideoEngine(VideoListener& listener, EngineTimings timings)
    : listener_(listener), timings_(timings), link_(std::make_shared<ListenerLink>(listener)) {}

VideoEngine::~VideoEngine() {
  StopView();
  link_->CutOff();  // a recording still finishing reports to nobody from now on
}

bool VideoEngine::WaitUntilFinished(std::chrono::steady_clock::time_point deadline) {
  return finishing_.WaitUntil(deadline);
}

void VideoEngine::SetSource(VideoSource source) { source_ = std::move(source); }

void VideoEngine::SetDisplaySize(int width, int height) {
  displayWidth_ = width;
  displayHeight_ = height;
}

void VideoEngine::StartView() {
  if (reader_.joinable()) return;
  stop_ = false;
  recorder_ = std::make_unique<Recorder>(*link_, retention_,
                                         feed_ ? std::shared_ptr<FeedStats>(feed_, &feed_->Stats()) : nullptr);
  reader_ = std::thread([this] { ReadLoop(); });
}

void VideoEngine::StopView() {
  if (!reader_.joinable()) return;
  {
    std::lock_guard lock(pauseMutex_);
    stop_ = true;
  }
  pauseWake_.notify_all();
  reader_.join();
  recordingWanted_ = false;
  // Closes an open recording with its index, without waiting for the disk.
  finishing_.Start(std::move(recorder_), link_);
  {
    std::lock_guard lock(bufferMutex_);
    preEvent_.Clear();
  }
  live_.Reset();
  mode_.reset();
  meter_.Restart();
  pictureInFlight_ = false;
}

std::string VideoEngine::StartRecording(const std::string& wanted, std::string& error) {
  if (!recorder_) {
    error = "the viewer is not started";
    return {};
  }
  const auto requested = Clock::now();
  const int codec = streamCodec_;
  const Container container = ContainerOf(wanted);
  if (codec != AV_CODEC_ID_NONE && !Carries(container, codec)) {
    // Said before any file exists: a file that cannot hold the video would only mislead.
    error = std::string("an ") + ContainerName(container) + " file cannot hold the camera's " +
            avcodec_get_name(static_cast<AVCodecID>(codec)) + " video";
    return {};
  }
  CreatedFile file = CreateFileInTime(wanted, error);
  if (file.path.empty()) return {};
  std::string path = file.path;
  // The event marked by the window that asked for this recording, if it is recent.
  Clock::time_point event = requested;
  const std::int64_t marked = eventTime_.exchange(0);
  const Clock::time_point markedAt{std::chrono::nanoseconds(marked)};
  if (marked != 0 && markedAt <= requested && requested - markedAt < kEventMarkValidity) event = markedAt;

  BeginRecording begin;
  begin.path = path;
  begin.file = std::move(file);
  begin.requested = requested;
  begin.event = event;
  begin.guard = diskGuard_;
  begin.stem = RecordingStem(path.substr(path.rfind(kPathSeparator) + 1));
  begin.bytesPerSecond = meter_.BytesPerSecond();
  std::lock_guard lock(bufferMutex_);
  begin.reportPreEvent = preEvent_.Seconds() > 0;
  recorder_->Post(std::move(begin));
  std::vector<RecordedPacket> before = preEvent_.Take(event);
  for (RecordedPacket& job : before) {
    job.buffered = true;
    // Packets from the viewer's first seconds carry an early guess of the frame rate; the file
    // is stamped with the one measured last.
    job.frameRate = before.back().frameRate;
    recorder_->Post(std::move(job));
  }
  recordingWanted_ = true;
  return path;
}

void VideoEngine::StopRecording() {
  std::lock_guard lock(bufferMutex_);
  recordingWanted_ = false;
  if (recorder_) recorder_->Post(EndRecording{});
}

void VideoEngine::SetPreEventSeconds(double seconds) {
  std::lock_guard lock(bufferMutex_);
  preEvent_.SetSeconds(seconds);
}

void VideoEngine::SetDiskGuard(DiskGuard guard) { diskGuard_ = guard; }

void VideoEngine::SetRetention(Retention retention) { retention_ = std::move(retention); }

bool VideoEngine::Charge(AVPacket& packet, bool buffering) {
  MemoryBudget& budget = MemoryBudget::Process();
  // The camera's own oldest seconds before an event give way first; then the frame is dropped.
  bool charged = ChargePacket(packet, budget);
  while (!charged && buffering && preEvent_.DropOldestGroup()) charged = ChargePacket(packet, budget);
  if (charged) {
    if (droppedForMemory_ > 0) {
      listener_.OnVideoReport(
          {VideoReport::Kind::FramesDropped,
           "Memory for buffered video free again; " + std::to_string(droppedForMemory_) + " frames were dropped"});
      droppedForMemory_ = 0;
    }
    return true;
  }
  if (feed_) ++feed_->Stats().framesDropped;
  if (droppedForMemory_++ == 0) {
    listener_.OnVideoReport(
        {VideoReport::Kind::FramesDropped, "Memory for buffered video full (" + SizeText(budget.Limit()) +
                                               " for all cameras; the disk is too slow?): dropping frames"});
  }
  return false;
}

void VideoEngine::Feed(const AVPacket& packet, const std::shared_ptr<const AVCodecParameters>& parameters,
                       std::uint64_t segment, AVRational timeBase, bool arrivalClock,
                       std::chrono::steady_clock::time_point arrival, bool charged) {
  std::shared_ptr<LivePacket> live = MakeLivePacket(packet, parameters, segment, timeBase, arrivalClock, arrival);
  // Held for viewers beyond the recording's own hold: counted in the budget too, and a full
  // budget costs viewers a frame, never the recording.
  if (live && !charged && !ChargePacket(*live->packet, MemoryBudget::Process())) live.reset();
  feed_->Push(std::move(live));
}

void VideoEngine::MarkEvent() { eventTime_ = Nanoseconds(Clock::now()); }

int VideoEngine::Interrupt(void* opaque) {
  auto* engine = static_cast<VideoEngine*>(opaque);
  return engine->stop_ || Nanoseconds(Clock::now()) > engine->ioDeadline_ ? 1 : 0;
}

bool VideoEngine::PauseReading(std::chrono::milliseconds duration) {
  std::unique_lock lock(pauseMutex_);
  return !pauseWake_.wait_for(lock, duration, [this] { return stop_.load(); });
}

void VideoEngine::ReadLoop() {
  const std::string url = SourceUrl(source_);
  const std::string label = SourceLabel(source_);
  bool lost = false;
  bool reported = false;  // a camera that stays away is reported once, not at every try
  std::uint64_t segment = 0;
  while (!stop_) {
    if (!lost) listener_.OnVideoReport({VideoReport::Kind::Connecting, "Connecting to " + label + "\u2026"});
    ioDeadline_ = Nanoseconds(Clock::now() + timings_.openTimeout);
    int error = 0;
    std::unique_ptr<PacketSource> source = OpenPacketSource(url, {&VideoEngine::Interrupt, this}, error);
    if (!source) {
      if (stop_) break;
      if (!reported) listener_.OnVideoReport({VideoReport::Kind::NoVideo, "No video: " + SourceErrorText(error)});
      reported = true;
      lost = true;
      PauseReading(timings_.reconnectPause);
      continue;
    }
    reported = false;
    const bool cameBack = lost;
    lost = !ReadStream(*source, label, ++segment, cameBack);
    if (lost && feed_) feed_->Lost();
    reported = lost;  // the loss was reported; failed attempts to come back add nothing to it
    source.reset();
    live_.Reset();
    if (!stop_) PauseReading(timings_.reconnectPause);
  }
}

bool VideoEngine::ReadStream(PacketSource& source, const std::string& label, std::uint64_t segment, bool cameBack) {
  const AVCodecParameters& streamParameters = source.Parameters();
  const AVCodecID codec = streamParameters.codec_id;
  const bool arrivalClock = source.ArrivalClock();
  const AVRational declared = source.DeclaredRate();
  // Every JPEG stands alone; other codecs predict pictures from earlier ones.
  const bool interCoded = codec != AV_CODEC_ID_MJPEG;
  streamCodec_ = codec;
  std::shared_ptr<AVCodecParameters> parameters;  // the file's header: the stream's, at the current size
  PacketPtr packet = NewPacket();
  bool connected = false;
  meter_.Restart();
  for (;;) {
    ioDeadline_ = Nanoseconds(Clock::now() + timings_.readTimeout);
    const int result = source.Read(*packet);
    if (stop_) return true;
    if (result < 0) {
      listener_.OnVideoReport({VideoReport::Kind::StreamLost, "Video stream from " + label + " lost (" +
                                                                  SourceErrorText(result) + "); retrying every " +
                                                                  SecondsText(timings_.reconnectPause)});
      return false;
    }
    const auto arrival = Clock::now();
    if (!connected) {
      connected = true;
      listener_.OnVideoReport({VideoReport::Kind::Connected, "Receiving video from " + label});
      if (cameBack)
        listener_.OnVideoReport({VideoReport::Kind::StreamBack, "Receiving video from " + label + " again"});
    }

    std::optional<VideoMode> mode;
    if (codec == AV_CODEC_ID_MJPEG) mode = JpegFrameSize(packet->data, packet->size);
    else mode = VideoMode{codec, streamParameters.width, streamParameters.height};
    if (mode) {
      if (mode_ && *mode != *mode_) {
        listener_.OnVideoModeChanged();
        std::lock_guard lock(bufferMutex_);
        preEvent_.Clear();  // pictures of another size cannot open a file of the new one
      }
      if (!mode_ || *mode != *mode_) meter_.Restart();
      mode_ = mode;
      if (!parameters || parameters->width != mode->width || parameters->height != mode->height)
        parameters = CopyParameters(streamParameters, *mode);
    }

    meter_.Arrived(arrival, packet->size);

    const bool shown = displayWidth_ > 0 && displayHeight_ > 0;
    const bool wantPicture = shown && !pictureInFlight_ && arrival - lastDecode_ >= kDisplayInterval;
    // An inter-coded picture needs every packet since its key frame; a JPEG only itself.
    const bool decode = interCoded ? shown : wantPicture;
    if (!shown && interCoded && live_.Open()) live_.Reset();  // hidden: nothing decoded, no state kept
    if (decode) {
      if (wantPicture) lastDecode_ = arrival;
      ShowPicture(*packet, streamParameters, wantPicture);
    }
    std::lock_guard lock(bufferMutex_);  // a recording that starts now takes the buffer and what follows, once
    const bool buffering = preEvent_.Seconds() > 0;
    if ((recordingWanted_ || buffering) && mode_ && parameters) {
      RecordedPacket job;
      job.packet = NewPacket();
      if (decode) {
        // The decoder may still hold the packet's buffer: the writing thread gets bytes of its
        // own, so no buffer is shared between the decoder and the writer.
        if (av_new_packet(job.packet.get(), packet->size) < 0) {
          av_packet_unref(packet.get());
          continue;
        }
        std::memcpy(job.packet->data, packet->data, static_cast<std::size_t>(packet->size));
        av_packet_copy_props(job.packet.get(), packet.get());
      } else {
        av_packet_move_ref(job.packet.get(), packet.get());
      }
      if (codec == AV_CODEC_ID_MJPEG) job.packet->flags |= AV_PKT_FLAG_KEY;
      if (!Charge(*job.packet, buffering)) {
        av_packet_unref(packet.get());
        continue;
      }
      job.parameters = parameters;
      job.segment = segment;
      job.mode = *mode_;
      // A stream with time stamps of its own says its rate; arrivals right after connecting come
      // in bursts. Motion JPEG has only its arrivals to go by.
      job.frameRate = arrivalClock ? meter_.FrameRate().value_or(declared) : declared;
      job.arrivalClock = arrivalClock;
      job.sourceTimeBase = source.TimeBase();
      job.arrival = arrival;
      if (buffering) preEvent_.Push(SharePacket(job));
      if (feed_) Feed(*job.packet, parameters, segment, job.sourceTimeBase, arrivalClock, arrival, true);
      if (recordingWanted_) recorder_->Post(std::move(job));
    } else if (feed_ && mode_ && parameters) {
      if (codec == AV_CODEC_ID_MJPEG) packet->flags |= AV_PKT_FLAG_KEY;
      Feed(*packet, parameters, segment, source.TimeBase(), arrivalClock, arrival, false);
    }
    av_packet_unref(packet.get());
  }
}

void VideoEngine::ShowPicture(const AVPacket& packet, const AVCodecParameters& parameters, bool wantPicture) {
  const int width = mode_ ? mode_->width : parameters.width;
  const int height = mode_ ? mode_->height : parameters.height;
  auto picture = live_.Decode(packet, parameters, width, height, displayWidth_, displayHeight_, wantPicture);
  if (!picture) return;
  pictureInFlight_ = true;
  listener_.OnVideoPicture(std::move(picture));
}

}  // namespace zent
