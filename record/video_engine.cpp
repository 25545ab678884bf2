#include "record/video_engine.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "record/avi_writer.h"

extern "C" {
#include <libavutil/imgutils.h>
}

namespace zent {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxQueuedBytes = 128u << 20;  // beyond this the disk is too slow: drop
constexpr auto kFlushPeriod = std::chrono::seconds(1);
constexpr auto kRateWindow = std::chrono::seconds(2);
constexpr int kMaxLowres = 3;
// The small live picture needs no more than this; the recording keeps every frame.
constexpr auto kDisplayInterval = std::chrono::milliseconds(100);

std::int64_t Nanoseconds(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

double Milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

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

bool UsesArrivalClock(const AVInputFormat* format) {
  // Motion JPEG over HTTP carries no time stamps; the demuxer makes up 25 per second.
  const std::string name = format && format->name ? format->name : "";
  return name.find("mjpeg") != std::string::npos || name.find("jpeg") != std::string::npos;
}

}  // namespace

// The writing thread: takes jobs in order, so packets queued before an End are in the file and
// none queued after it.
class VideoEngine::Recorder {
 public:
  explicit Recorder(VideoListener& listener) : listener_(listener), thread_([this] { Run(); }) {}
  ~Recorder() {
    Post(Job(Job::Kind::End));
    Post(Job(Job::Kind::Quit));
    thread_.join();
  }

  void Post(Job job) {
    {
      std::lock_guard lock(mutex_);
      if (job.kind == Job::Kind::Packet) {
        const std::size_t size = static_cast<std::size_t>(job.packet->size);
        if (queuedBytes_ + size > kMaxQueuedBytes) {
          ++dropped_;
          return;
        }
        queuedBytes_ += size;
      }
      queue_.push_back(std::move(job));
    }
    wake_.notify_one();
  }

 private:
  void Run() {
    for (;;) {
      Job job;
      {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return !queue_.empty(); });
        job = std::move(queue_.front());
        queue_.pop_front();
        if (job.kind == Job::Kind::Packet) queuedBytes_ -= static_cast<std::size_t>(job.packet->size);
      }
      switch (job.kind) {
        case Job::Kind::Begin:
          Close();
          path_ = job.path;
          requested_ = job.arrival;
          break;
        case Job::Kind::Packet:
          Write(job);
          break;
        case Job::Kind::End:
          Close();
          break;
        case Job::Kind::Quit:
          return;
      }
    }
  }

  void Write(Job& job) {
    if (path_.empty()) return;
    if (!writer_) {
      if (!(job.packet->flags & AV_PKT_FLAG_KEY)) return;
      std::string error;
      writer_ = AviWriter::Open(path_, job.mode, job.frameRate, error);
      if (!writer_) {
        Fail(error);
        return;
      }
      rate_ = job.frameRate;
      firstArrival_ = job.arrival;
      firstPts_ = job.packet->pts;
      lastFlush_ = Clock::now();
      droppedAtStart_ = Dropped();
    }
    if (job.mode != writer_->Mode()) {
      Close();  // another picture size cannot go into this file
      return;
    }
    std::int64_t frame;
    if (!job.arrivalClock && job.packet->pts != AV_NOPTS_VALUE && firstPts_ != AV_NOPTS_VALUE) {
      frame = av_rescale_q(job.packet->pts - firstPts_, job.sourceTimeBase, av_inv_q(rate_));
    } else {
      const double seconds = std::chrono::duration<double>(job.arrival - firstArrival_).count();
      frame = std::llround(seconds * av_q2d(rate_));
    }
    std::string error;
    if (!writer_->Write(*job.packet, frame, error)) {
      Fail(error);
      return;
    }
    if (writer_->Frames() == 1) {
      VideoReport report{VideoReport::Kind::RecordingStarted, "Recording to " + path_, path_};
      report.firstFrameMs = Milliseconds(Clock::now() - requested_);
      listener_.OnVideoReport(report);
    }
    if (Clock::now() - lastFlush_ >= kFlushPeriod) {
      writer_->Flush();
      lastFlush_ = Clock::now();
    }
  }

  void Close() {
    if (path_.empty()) return;
    const std::string path = std::exchange(path_, {});
    if (!writer_) {
      ::unlink(path.c_str());  // an empty file helps nobody
      listener_.OnVideoReport({VideoReport::Kind::RecordingFailed, "Nothing saved to " + path + ": no video arrived",
                               path});
      return;
    }
    std::string error;
    const bool ok = writer_->Finish(error);
    VideoReport report{ok ? VideoReport::Kind::RecordingSaved : VideoReport::Kind::RecordingFailed, "", path,
                       writer_->Frames(), writer_->Seconds()};
    char summary[96];
    std::snprintf(summary, sizeof summary, ": %lld frames, %.1f s", static_cast<long long>(report.frames),
                  report.seconds);
    report.text = ok ? "Saved " + path + summary : "Could not finish " + path + ": " + error;
    const std::uint64_t dropped = Dropped() - droppedAtStart_;
    if (dropped > 0) report.text += " (" + std::to_string(dropped) + " frames dropped: the disk was too slow)";
    writer_.reset();
    listener_.OnVideoReport(report);
  }

  void Fail(const std::string& error) {
    const std::string path = std::exchange(path_, {});
    std::int64_t kept = 0;
    if (writer_) {
      std::string ignored;
      writer_->Finish(ignored);  // keep what is there playable
      kept = writer_->Frames();
      writer_.reset();
    }
    if (kept == 0) ::unlink(path.c_str());  // nothing in it worth keeping
    listener_.OnVideoReport({VideoReport::Kind::RecordingFailed,
                             "Could not write " + path + ": " + error + "; " + std::to_string(kept) + " frames kept",
                             path, kept});
  }

  std::uint64_t Dropped() {
    std::lock_guard lock(mutex_);
    return dropped_;
  }

  VideoListener& listener_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job> queue_;
  std::size_t queuedBytes_ = 0;
  std::uint64_t dropped_ = 0;

  // Writing thread only.
  std::string path_;
  std::unique_ptr<AviWriter> writer_;
  AVRational rate_{25, 1};
  Clock::time_point requested_, firstArrival_, lastFlush_;
  std::int64_t firstPts_ = AV_NOPTS_VALUE;
  std::uint64_t droppedAtStart_ = 0;
  std::thread thread_;  // last: starts once everything above is ready
};

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
  Job begin(Job::Kind::Begin);
  begin.path = path;
  begin.arrival = requested;
  recorder_->Post(std::move(begin));
  return path;
}

void VideoEngine::StopRecording() {
  recordingWanted_ = false;
  if (recorder_) recorder_->Post(Job(Job::Kind::End));
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
  auto reportNoVideo = [&](const std::string& text) {
    if (!reported) listener_.OnVideoReport({VideoReport::Kind::NoVideo, text});
    reported = true;
  };
  while (!stop_) {
    if (!lost) listener_.OnVideoReport({VideoReport::Kind::Connecting, "Connecting to " + label + "\u2026"});
    AVFormatContext* raw = avformat_alloc_context();
    raw->interrupt_callback = {&VideoEngine::Interrupt, this};
    AVDictionary* options = nullptr;
    if (url.rfind("rtsp://", 0) == 0) av_dict_set(&options, "rtsp_transport", "tcp", 0);
    ioDeadline_ = Nanoseconds(Clock::now() + timings_.openTimeout);
    const int opened = avformat_open_input(&raw, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (opened < 0) {
      if (stop_) break;
      reportNoVideo("No video: " + ErrorText(opened));
      lost = true;
      PauseReading(timings_.reconnectPause);
      continue;
    }
    InputPtr input(raw);
    if (!UsesArrivalClock(input->iformat)) avformat_find_stream_info(input.get(), nullptr);
    const int streamIndex = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (streamIndex < 0) {
      reportNoVideo("No video: the camera sends no video stream");
      lost = true;
      input.reset();
      PauseReading(timings_.reconnectPause);
      continue;
    }
    reported = false;
    lost = !ReadStream(*input, streamIndex, label);
    input.reset();
    decoder_.reset();
    decoderLowres_ = -1;
    if (!stop_) PauseReading(timings_.reconnectPause);
  }
}

bool VideoEngine::ReadStream(AVFormatContext& input, int streamIndex, const std::string& label) {
  const AVStream& stream = *input.streams[streamIndex];
  const bool arrivalClock = UsesArrivalClock(input.iformat);
  const AVRational declared = stream.avg_frame_rate.num > 0 ? stream.avg_frame_rate : AVRational{25, 1};
  PacketPtr packet = NewPacket();
  bool connected = false;
  arrivals_.clear();  // a gap while the stream was away is no frame interval
  for (;;) {
    ioDeadline_ = Nanoseconds(Clock::now() + timings_.readTimeout);
    const int result = av_read_frame(&input, packet.get());
    if (stop_) return true;
    if (result < 0) {
      const std::string reason = result == AVERROR_EXIT ? "no data for a while" : ErrorText(result);
      listener_.OnVideoReport({VideoReport::Kind::StreamLost,
                               "Video stream from " + label + " lost (" + reason + "); retrying every 2 s"});
      return false;
    }
    if (packet->stream_index != streamIndex) {
      av_packet_unref(packet.get());
      continue;
    }
    const auto arrival = Clock::now();
    if (!connected) {
      connected = true;
      listener_.OnVideoReport({VideoReport::Kind::Connected, "Receiving video from " + label});
    }

    std::optional<VideoMode> mode;
    if (stream.codecpar->codec_id == AV_CODEC_ID_MJPEG) mode = JpegFrameSize(packet->data, packet->size);
    else mode = VideoMode{stream.codecpar->codec_id, stream.codecpar->width, stream.codecpar->height};
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
      Decode(*packet, *stream.codecpar);
    }
    if (recordingWanted_ && mode_) {
      Job job(Job::Kind::Packet);
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
      if (stream.codecpar->codec_id == AV_CODEC_ID_MJPEG) job.packet->flags |= AV_PKT_FLAG_KEY;
      job.mode = *mode_;
      job.frameRate = MeasuredRate(arrivals_).value_or(declared);
      job.arrivalClock = arrivalClock;
      job.sourceTimeBase = stream.time_base;
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
