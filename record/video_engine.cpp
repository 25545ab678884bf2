#include "record/video_engine.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "record/avi_writer.h"
#include "record/packet_source.h"
#include "record/recorder.h"

extern "C" {
#include <libavutil/imgutils.h>
}

namespace zent {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kRateWindow = std::chrono::seconds(2);
constexpr int kMaxLowres = 3;
// The small live picture needs no more than this; the recording keeps every frame.
constexpr auto kDisplayInterval = std::chrono::milliseconds(100);

std::int64_t Nanoseconds(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

// The camera's frame rate over the recent arrivals: their span over their number, which a burst
// after a delay does not distort. A rate close to a whole number is taken as that number.
std::optional<AVRational> MeasuredRate(const std::deque<Clock::time_point>& arrivals) {
  if (arrivals.size() < 3) return std::nullopt;
  const double span = std::chrono::duration<double>(arrivals.back() - arrivals.front()).count();
  if (span <= 0) return std::nullopt;
  const double rate = static_cast<double>(arrivals.size() - 1) / span;
  const double whole = std::round(rate);
  if (whole >= 1 && std::fabs(rate - whole) <= 0.03 * whole) return AVRational{static_cast<int>(whole), 1};
  return av_d2q(rate, 100000);
}

}  // namespace

VideoEngine::VideoEngine(VideoListener& listener, EngineTimings timings) : listener_(listener), timings_(timings) {
  av_log_set_level(AV_LOG_QUIET);  // FFmpeg's own messages could carry the camera's URL
}

VideoEngine::~VideoEngine() { StopView(); }

void VideoEngine::SetSource(VideoSource source) { source_ = std::move(source); }

void VideoEngine::SetDisplaySize(int width, int height) {
  displayWidth_ = width;
  displayHeight_ = height;
}

void VideoEngine::StartView() {
  if (reader_.joinable()) return;
  stop_ = false;
  recorder_ = std::make_unique<Recorder>(listener_);
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
  recorder_.reset();  // closes an open recording with its index
  decoder_.reset();
  scaler_.reset();
  decoderLowres_ = -1;
  mode_.reset();
  arrivals_.clear();
  pictureInFlight_ = false;
}

std::string VideoEngine::StartRecording(const std::string& wanted, std::string& error) {
  if (!recorder_) {
    error = "the viewer is not started";
    return {};
  }
  const auto requested = Clock::now();
  const std::string path = CreateFreeFile(wanted, error);
  if (path.empty()) return {};
  recordingWanted_ = true;
  RecordJob begin(RecordJob::Kind::Begin);
  begin.path = path;
  begin.arrival = requested;
  recorder_->Post(std::move(begin));
  return path;
}

void VideoEngine::StopRecording() {
  recordingWanted_ = false;
  if (recorder_) recorder_->Post(RecordJob(RecordJob::Kind::End));
}

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
  bool reported = false;  // a camera that stays away is reported once, not every 2 s
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
    lost = !ReadStream(*source, label);
    source.reset();
    decoder_.reset();
    decoderLowres_ = -1;
    if (!stop_) PauseReading(timings_.reconnectPause);
  }
}

bool VideoEngine::ReadStream(PacketSource& source, const std::string& label) {
  const AVCodecParameters& parameters = source.Parameters();
  const bool arrivalClock = source.ArrivalClock();
  const AVRational declared = source.DeclaredRate();
  PacketPtr packet = NewPacket();
  bool connected = false;
  arrivals_.clear();  // a gap while the stream was away is no frame interval
  for (;;) {
    ioDeadline_ = Nanoseconds(Clock::now() + timings_.readTimeout);
    const int result = source.Read(*packet);
    if (stop_) return true;
    if (result < 0) {
      listener_.OnVideoReport({VideoReport::Kind::StreamLost, "Video stream from " + label + " lost (" +
                                                                  SourceErrorText(result) + "); retrying every 2 s"});
      return false;
    }
    const auto arrival = Clock::now();
    if (!connected) {
      connected = true;
      listener_.OnVideoReport({VideoReport::Kind::Connected, "Receiving video from " + label});
    }

    std::optional<VideoMode> mode;
    if (parameters.codec_id == AV_CODEC_ID_MJPEG) mode = JpegFrameSize(packet->data, packet->size);
    else mode = VideoMode{parameters.codec_id, parameters.width, parameters.height};
    if (mode) {
      if (mode_ && *mode != *mode_) listener_.OnVideoModeChanged();
      if (!mode_ || *mode != *mode_) arrivals_.clear();
      mode_ = mode;
    }

    arrivals_.push_back(arrival);
    while (arrivals_.front() < arrival - kRateWindow) arrivals_.pop_front();

    const bool decode =
        displayWidth_ > 0 && displayHeight_ > 0 && !pictureInFlight_ && arrival - lastDecode_ >= kDisplayInterval;
    if (decode) {
      lastDecode_ = arrival;
      Decode(*packet, parameters);
    }
    if (recordingWanted_ && mode_) {
      RecordJob job(RecordJob::Kind::Packet);
      job.packet = NewPacket();
      if (decode) {
        // The decoder may still hold the packet's buffer: the writing thread gets bytes of its
        // own, so no buffer is shared between the threads.
        if (av_new_packet(job.packet.get(), packet->size) < 0) {
          av_packet_unref(packet.get());
          continue;
        }
        std::memcpy(job.packet->data, packet->data, static_cast<std::size_t>(packet->size));
        av_packet_copy_props(job.packet.get(), packet.get());
      } else {
        av_packet_move_ref(job.packet.get(), packet.get());
      }
      if (parameters.codec_id == AV_CODEC_ID_MJPEG) job.packet->flags |= AV_PKT_FLAG_KEY;
      job.mode = *mode_;
      job.frameRate = MeasuredRate(arrivals_).value_or(declared);
      job.arrivalClock = arrivalClock;
      job.sourceTimeBase = source.TimeBase();
      job.arrival = arrival;
      recorder_->Post(std::move(job));
    }
    av_packet_unref(packet.get());
  }
}

void VideoEngine::Decode(const AVPacket& packet, const AVCodecParameters& parameters) {
  const int displayWidth = displayWidth_, displayHeight = displayHeight_;
  const int width = mode_ ? mode_->width : parameters.width;
  const int height = mode_ ? mode_->height : parameters.height;
  if (width <= 0 || height <= 0) return;

  // Decode no larger than shown: JPEG can decode at 1/2, 1/4 or 1/8 size for almost nothing.
  int lowres = 0;
  const AVCodec* codec = avcodec_find_decoder(parameters.codec_id);
  if (!codec) return;
  const int maxLowres = std::min<int>(kMaxLowres, codec->max_lowres);
  while (lowres < maxLowres && (width >> (lowres + 1)) >= displayWidth && (height >> (lowres + 1)) >= displayHeight)
    ++lowres;
  if (!decoder_ || lowres != decoderLowres_) {
    decoder_.reset(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(decoder_.get(), &parameters);
    decoder_->lowres = lowres;
    decoder_->thread_count = 1;
    if (avcodec_open2(decoder_.get(), codec, nullptr) < 0) {
      decoder_.reset();
      return;
    }
    decoderLowres_ = lowres;
  }
  if (avcodec_send_packet(decoder_.get(), &packet) < 0) return;
  FramePtr frame = NewFrame();
  if (avcodec_receive_frame(decoder_.get(), frame.get()) < 0) return;

  // Fit the picture into the display, keeping its shape.
  int outWidth = displayWidth;
  int outHeight = std::max(1, static_cast<int>(static_cast<std::int64_t>(displayWidth) * height / width));
  if (outHeight > displayHeight) {
    outHeight = displayHeight;
    outWidth = std::max(1, static_cast<int>(static_cast<std::int64_t>(displayHeight) * width / height));
  }
  scaler_.reset(sws_getCachedContext(scaler_.release(), frame->width, frame->height,
                                     static_cast<AVPixelFormat>(frame->format), outWidth, outHeight, AV_PIX_FMT_RGB32,
                                     SWS_BILINEAR, nullptr, nullptr, nullptr));
  if (!scaler_) return;
  auto picture = std::make_shared<VideoPicture>();
  picture->width = outWidth;
  picture->height = outHeight;
  picture->pixels.resize(static_cast<std::size_t>(outWidth) * outHeight * 4);
  std::uint8_t* planes[4] = {picture->pixels.data(), nullptr, nullptr, nullptr};
  int strides[4] = {outWidth * 4, 0, 0, 0};
  sws_scale(scaler_.get(), frame->data, frame->linesize, 0, frame->height, planes, strides);
  pictureInFlight_ = true;
  listener_.OnVideoPicture(std::move(picture));
}

}  // namespace zent
