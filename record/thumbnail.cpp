#include "record/thumbnail.h"

#include <algorithm>
#include <chrono>

#include "record/ffmpeg_limits.h"
#include "record/ffmpeg_ptr.h"
#include "record/file_io.h"

namespace zent {

namespace {

// A file in the recordings folder may have been put there by anyone: a FIFO, a link, a file made
// to send a demuxer round in circles. It is read as an AVI through a descriptor we checked, and
// given up on after a few seconds.
constexpr auto kGiveUpAfter = std::chrono::seconds(5);

int PastDeadline(void* opaque) {
  return std::chrono::steady_clock::now() > *static_cast<std::chrono::steady_clock::time_point*>(opaque) ? 1 : 0;
}

}  // namespace

Thumbnail MakeThumbnail(const std::string& path, double atSeconds, int maxWidth, int maxHeight) {
  Thumbnail result;
  auto deadline = std::chrono::steady_clock::now() + kGiveUpAfter;
  UniqueFd fd = OpenRecordingForReading(path, result.error);
  if (!fd) return result;
  std::unique_ptr<FdIo> io = FdIo::ForReading(std::move(fd), deadline);
  AVFormatContext* raw = io ? avformat_alloc_context() : nullptr;
  if (!raw) {
    result.error = ErrorText(AVERROR(ENOMEM));
    return result;
  }
  raw->pb = io->Context();
  raw->flags |= AVFMT_FLAG_CUSTOM_IO;
  raw->interrupt_callback = {&PastDeadline, &deadline};
  AVDictionary* options = nullptr;
  av_dict_set(&options, "protocol_whitelist", "file", 0);
  av_dict_set(&options, "format_whitelist", "avi", 0);
  av_dict_set(&options, "codec_whitelist", kRecordedCodecs, 0);
  int error = avformat_open_input(&raw, nullptr, av_find_input_format("avi"), &options);
  av_dict_free(&options);
  if (error < 0) {
    result.error = error == AVERROR_EXIT ? "the file could not be read in time" : ErrorText(error);
    return result;
  }
  InputPtr input(raw);
  const int index = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (index < 0) {
    result.error = "no video in the file";
    return result;
  }
  const AVStream& stream = *input->streams[index];
  if (stream.duration != AV_NOPTS_VALUE) result.seconds = static_cast<double>(stream.duration) * av_q2d(stream.time_base);
  else if (input->duration != AV_NOPTS_VALUE) result.seconds = static_cast<double>(input->duration) / AV_TIME_BASE;
  const AVCodecParameters& parameters = *stream.codecpar;
  const AVCodec* codec = avcodec_find_decoder(parameters.codec_id);
  if (!codec || parameters.width <= 0 || parameters.height <= 0) {
    result.error = "no picture this program can decode";
    return result;
  }
  CodecPtr decoder(avcodec_alloc_context3(codec));
  if (!decoder || avcodec_parameters_to_context(decoder.get(), &parameters) < 0) {
    result.error = ErrorText(AVERROR(ENOMEM));
    return result;
  }
  // A JPEG decodes at 1/2, 1/4 or 1/8 of its size for almost nothing.
  int lowres = 0;
  while (lowres < std::min(3, static_cast<int>(codec->max_lowres)) && (parameters.width >> (lowres + 1)) >= maxWidth &&
         (parameters.height >> (lowres + 1)) >= maxHeight)
    ++lowres;
  decoder->lowres = lowres;
  decoder->thread_count = 1;
  if ((error = OpenDecoder(decoder.get(), codec)) < 0) {
    result.error = ErrorText(error);
    return result;
  }
  const double target = std::clamp(atSeconds, 0.0, std::max(0.0, result.seconds - 0.1));
  if (target > 0) {
    av_seek_frame(input.get(), index, static_cast<std::int64_t>(target / av_q2d(stream.time_base)),
                  AVSEEK_FLAG_BACKWARD);
  }
  const std::int64_t targetTs = static_cast<std::int64_t>(target / av_q2d(stream.time_base));

  PacketPtr packet = NewPacket();
  FramePtr frame = NewFrame();
  FramePtr picture;
  for (int packets = 0; !picture && packets < 600;) {
    const int read = av_read_frame(input.get(), packet.get());
    const bool end = read < 0;
    if (!end && packet->stream_index != index) {
      av_packet_unref(packet.get());
      continue;
    }
    ++packets;
    avcodec_send_packet(decoder.get(), end ? nullptr : packet.get());
    av_packet_unref(packet.get());
    while (avcodec_receive_frame(decoder.get(), frame.get()) == 0) {
      const std::int64_t ts = frame->best_effort_timestamp;
      if (ts == AV_NOPTS_VALUE || ts >= targetTs || end) {
        picture = std::move(frame);
        break;
      }
    }
    if (end) break;
  }
  if (!picture) {
    result.error = "no picture could be decoded";
    return result;
  }

  int width = maxWidth;
  int height = std::max(1, static_cast<int>(static_cast<std::int64_t>(maxWidth) * picture->height / picture->width));
  if (height > maxHeight) {
    height = maxHeight;
    width = std::max(1, static_cast<int>(static_cast<std::int64_t>(maxHeight) * picture->width / picture->height));
  }
  ScalerPtr scaler(sws_getContext(picture->width, picture->height, static_cast<AVPixelFormat>(picture->format), width,
                                  height, AV_PIX_FMT_RGB32, SWS_BILINEAR, nullptr, nullptr, nullptr));
  if (!scaler) {
    result.error = "the picture's format cannot be converted";
    return result;
  }
  result.width = width;
  result.height = height;
  result.pixels.resize(static_cast<std::size_t>(width) * height * 4);
  std::uint8_t* planes[4] = {result.pixels.data(), nullptr, nullptr, nullptr};
  int strides[4] = {width * 4, 0, 0, 0};
  sws_scale(scaler.get(), picture->data, picture->linesize, 0, picture->height, planes, strides);
  result.ok = true;
  return result;
}

}  // namespace zent
