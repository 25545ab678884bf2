#include "record/packet_source.h"

#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

#include "record/ffmpeg_limits.h"
#include "record/first_packet_times.h"
#include "record/multipart_reader.h"

extern "C" {
#include <libavutil/opt.h>
}

namespace zent {
namespace {

constexpr int kReadChunk = 64 << 10;

bool UsesArrivalClock(const AVInputFormat* format) {
  // Motion JPEG carries no time stamps; its demuxers make up 25 per second.
  const std::string name = format && format->name ? format->name : "";
  return name.find("mjpeg") != std::string::npos || name.find("jpeg") != std::string::npos;
}

struct AvioCloser {
  void operator()(AVIOContext* c) const { avio_closep(&c); }
};
using AvioPtr = std::unique_ptr<AVIOContext, AvioCloser>;

struct ParametersFreer {
  void operator()(AVCodecParameters* p) const { avcodec_parameters_free(&p); }
};

// Ends FFmpeg's work on a connection the moment it would talk to a host other than the one our
// own URL names: FFmpeg's RTSP client follows a redirect with the credentials of the first URL.
// FFmpeg checks the interrupt before every write and while connecting, so a redirected
// connection is given up before a request, and so a password, is sent.
struct HostGuard {
  AVIOInterruptCB inner{};
  const AVFormatContext* context = nullptr;
  std::string host;
  std::string checkedUrl;  // the URL last found to name `host`
  bool redirected = false;

  static int Check(void* opaque) {
    auto* guard = static_cast<HostGuard*>(opaque);
    const char* url = guard->context ? guard->context->url : nullptr;
    if (url && guard->checkedUrl != url) {
      if (UrlHost(url) != guard->host) {
        guard->redirected = true;
        return 1;
      }
      guard->checkedUrl = url;
    }
    return guard->inner.callback ? guard->inner.callback(guard->inner.opaque) : 0;
  }
};

// A stream FFmpeg demuxes.
class FormatSource : public PacketSource {
 public:
  FormatSource(InputPtr input, AvioPtr io, std::unique_ptr<HostGuard> guard, int streamIndex)
      : io_(std::move(io)), guard_(std::move(guard)), input_(std::move(input)), stream_(*input_->streams[streamIndex]) {
    if (!ArrivalClock()) start_.emplace(av_rescale_q(1, av_inv_q(DeclaredRate()), stream_.time_base));
  }

  int Read(AVPacket& packet) override {
    while (start_) {
      if (PacketPtr next = start_->Pop()) {
        av_packet_unref(&packet);
        av_packet_move_ref(&packet, next.get());
        return 0;
      }
      if (ended_ < 0) return ended_;
      if (start_->Settled()) {
        start_.reset();
        break;
      }
      PacketPtr read = NewPacket();
      if (!read) return AVERROR(ENOMEM);
      ended_ = ReadVideo(*read);
      if (ended_ < 0) start_->Flush();  // what was held goes on before the error
      else start_->Push(std::move(read));
    }
    return ReadVideo(packet);
  }
  const AVCodecParameters& Parameters() const override { return *stream_.codecpar; }
  AVRational TimeBase() const override { return stream_.time_base; }
  AVRational DeclaredRate() const override {
    if (stream_.avg_frame_rate.num > 0 && stream_.avg_frame_rate.den > 0) return stream_.avg_frame_rate;
    if (stream_.r_frame_rate.num > 0 && stream_.r_frame_rate.den > 0) return stream_.r_frame_rate;
    return {25, 1};
  }
  bool ArrivalClock() const override { return UsesArrivalClock(input_->iformat); }

 private:
  int ReadVideo(AVPacket& packet) {
    for (;;) {
      const int result = av_read_frame(input_.get(), &packet);
      if (result < 0 || packet.stream_index == stream_.index) return result;
      av_packet_unref(&packet);
    }
  }

  AvioPtr io_;                        // set when the demuxer reads a connection we opened; it outlives the demuxer
  std::unique_ptr<HostGuard> guard_;  // the demuxer's interrupt callback; outlives it too
  InputPtr input_;
  const AVStream& stream_;
  std::optional<FirstPacketTimes> start_;  // until the stream's own times are settled
  int ended_ = 0;
};

// Motion JPEG over HTTP, split by our own bounded reader; every part is one key frame. The
// connection is read straight into the part's own buffer, which becomes the packet's: the
// pre-event buffer and the writer share it by reference.
class MultipartSource : public PacketSource {
 public:
  static_assert(kPartPadding >= AV_INPUT_BUFFER_PADDING_SIZE);

  MultipartSource(AvioPtr io, std::string boundary)
      : io_(std::move(io)), reader_(std::move(boundary)), parameters_(avcodec_parameters_alloc()) {
    if (parameters_) {
      parameters_->codec_type = AVMEDIA_TYPE_VIDEO;
      parameters_->codec_id = AV_CODEC_ID_MJPEG;
    }
  }

  int Read(AVPacket& packet) override {
    while (next_ == parts_.size()) {
      parts_.clear();
      next_ = 0;
      // A body of known length is read whole, and from a size above FFmpeg's buffer straight
      // from the connection into the part: no copy on the way.
      const bool whole = reader_.ReadingSizedBody();
      const std::span<std::uint8_t> space = reader_.Space(whole ? kMaxPartBytes : kReadChunk);
      const int n = whole ? avio_read(io_.get(), space.data(), static_cast<int>(space.size()))
                          : avio_read_partial(io_.get(), space.data(), static_cast<int>(space.size()));
      if (n < 0) return n;
      if (n == 0) {
        if (avio_feof(io_.get())) return AVERROR_EOF;
        continue;
      }
      switch (reader_.Commit(static_cast<std::size_t>(n), parts_)) {
        case MultipartReader::Status::Ok: break;
        case MultipartReader::Status::PartTooLarge: return kErrorPartTooLarge;
        case MultipartReader::Status::BadHeader: return AVERROR_INVALIDDATA;
      }
    }
    PartBuffer& part = parts_[next_++];
    const int size = static_cast<int>(part.size());
    const std::size_t allocated = part.capacity() + kPartPadding;
    std::uint8_t* bytes = part.Release();
    AVBufferRef* buffer = av_buffer_create(bytes, allocated, &FreePart, nullptr, 0);
    if (!buffer) {
      delete[] bytes;
      return AVERROR(ENOMEM);
    }
    av_packet_unref(&packet);
    packet.buf = buffer;
    packet.data = bytes;
    packet.size = size;
    packet.flags |= AV_PKT_FLAG_KEY;
    return 0;
  }
  const AVCodecParameters& Parameters() const override { return *parameters_; }
  AVRational TimeBase() const override { return {1, 25}; }
  AVRational DeclaredRate() const override { return {25, 1}; }
  bool ArrivalClock() const override { return true; }
  bool Ready() const { return parameters_ != nullptr; }

 private:
  static void FreePart(void*, std::uint8_t* bytes) { delete[] bytes; }

  AvioPtr io_;
  MultipartReader reader_;
  std::unique_ptr<AVCodecParameters, ParametersFreer> parameters_;
  std::vector<PartBuffer> parts_;  // read, and handed out from next_ on
  std::size_t next_ = 0;
};

bool IsHttp(const std::string& url) { return url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0; }

}  // namespace

std::unique_ptr<PacketSource> OpenPacketSource(const std::string& url, const AVIOInterruptCB& interrupt, int& error) {
  // FFmpeg's own messages could carry the camera's URL, password and all.
  static std::once_flag quiet;
  std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
  const bool http = IsHttp(url);
  const std::string host = UrlHost(url);
  AvioPtr io;
  if (http) {
    // Our own connection, so that a multipart stream can be read without FFmpeg's demuxer.
    AVIOContext* raw = nullptr;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", kHttpProtocols, 0);
    av_dict_set_int(&options, "rw_timeout", kIoTimeoutMicroseconds, 0);
    error = avio_open2(&raw, url.c_str(), AVIO_FLAG_READ, &interrupt, &options);
    av_dict_free(&options);
    if (error < 0) return nullptr;
    io.reset(raw);
    // FFmpeg's HTTP client follows redirects (without the credentials when the host changes);
    // video from another host than the camera's is not the camera's video.
    std::uint8_t* location = nullptr;
    if (av_opt_get(raw, "location", AV_OPT_SEARCH_CHILDREN, &location) >= 0 && location) {
      const bool elsewhere = UrlHost(reinterpret_cast<const char*>(location)) != host;
      av_free(location);
      if (elsewhere) {
        error = kErrorRedirected;
        return nullptr;
      }
    }
    std::uint8_t* mime = nullptr;
    std::string contentType;
    if (av_opt_get(raw, "mime_type", AV_OPT_SEARCH_CHILDREN, &mime) >= 0 && mime) contentType = (const char*)mime;
    av_free(mime);
    const std::string boundary = MultipartBoundary(contentType);
    if (contentType.find("multipart/") != std::string::npos || !boundary.empty()) {
      auto source = std::make_unique<MultipartSource>(std::move(io), boundary);
      if (!source->Ready()) {
        error = AVERROR(ENOMEM);
        return nullptr;
      }
      return source;
    }
  }

  AVFormatContext* raw = avformat_alloc_context();
  auto guard = std::make_unique<HostGuard>();
  if (!raw) {
    error = AVERROR(ENOMEM);
    return nullptr;
  }
  guard->inner = interrupt;
  guard->context = raw;
  guard->host = host;
  raw->interrupt_callback = {&HostGuard::Check, guard.get()};
  if (io) raw->pb = io.get();  // the connection is open already: the demuxer reads it
  // Whatever the camera answers, only the demuxers and decoders of camera video run, and they
  // open nothing but the camera's own kind of connection.
  AVDictionary* options = nullptr;
  av_dict_set(&options, "protocol_whitelist", http ? kHttpProtocols : kRtspProtocols, 0);
  av_dict_set(&options, "format_whitelist", kCameraFormats, 0);
  av_dict_set(&options, "codec_whitelist", kRecordedCodecs, 0);
  av_dict_set_int(&options, "probesize", kProbeBytes, 0);
  av_dict_set_int(&options, "analyzeduration", kAnalyzeMicroseconds, 0);
  if (url.rfind("rtsp://", 0) == 0) {
    av_dict_set(&options, "rtsp_transport", "tcp", 0);
    av_dict_set_int(&options, "timeout", kIoTimeoutMicroseconds, 0);
  }
  error = avformat_open_input(&raw, url.c_str(), nullptr, &options);
  av_dict_free(&options);
  if (error < 0) {  // avformat_open_input freed the context
    if (guard->redirected) error = kErrorRedirected;
    return nullptr;
  }
  InputPtr input(raw);
  if (!UsesArrivalClock(input->iformat)) {
    std::vector<AVDictionary*> decoderOptions(input->nb_streams, nullptr);
    for (AVDictionary*& each : decoderOptions) av_dict_set_int(&each, "max_pixels", kMaxPixels, 0);
    avformat_find_stream_info(input.get(), decoderOptions.data());
    for (AVDictionary*& each : decoderOptions) av_dict_free(&each);
  }
  const int streamIndex = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (streamIndex < 0) {
    error = AVERROR_STREAM_NOT_FOUND;
    return nullptr;
  }
  return std::make_unique<FormatSource>(std::move(input), std::move(io), std::move(guard), streamIndex);
}

std::string SourceErrorText(int error) {
  if (error == kErrorPartTooLarge) return "frame larger than " + std::to_string(kMaxPartBytes >> 20) + " MiB";
  if (error == AVERROR_EXIT) return "no data for a while";
  if (error == AVERROR_STREAM_NOT_FOUND) return "the camera sends no video stream";
  if (error == kErrorRedirected)
    return "the camera sent us to another host; not followed, so its password stays with it";
  return ErrorText(error);
}

}  // namespace zent
