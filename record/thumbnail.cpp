#include "record/thumbnail.h"

#include <algorithm>
#include <chrono>

#include "record/ffmpeg_limits.h"
#include "record/ffmpeg_ptr.h"
#include "record/recording_reader.h"

namespace zent {

Thumbnail MakeThumbnail(const std::string& path, double atSeconds, int maxWidth, int maxHeight) {
  Thumbnail result;
  const std::unique_ptr<RecordingReader> reader = RecordingReader::Open(path, result.error);
  if (!reader) return result;
  AVFormatContext* input = reader->Input();
  const int index = reader->VideoStream();
  const AVStream& stream = reader->Stream();
  result.seconds = reader->Seconds();
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
  if (const int error = OpenDecoder(decoder.get(), codec); error < 0) {
    result.error = ErrorText(error);
    return result;
  }
  const double target = std::clamp(atSeconds, 0.0, std::max(0.0, result.seconds - 0.1));
  if (target > 0) {
    av_seek_frame(input, index, static_cast<std::int64_t>(target / av_q2d(stream.time_base)), AVSEEK_FLAG_BACKWARD);
  }
  const std::int64_t targetTs = static_cast<std::int64_t>(target / av_q2d(stream.time_base));

  PacketPtr packet = NewPacket();
  FramePtr frame = NewFrame();
  FramePtr picture;
  for (int packets = 0; !picture && packets < 600;) {
    const int read = av_read_frame(input, packet.get());
    const bool end = read < 0;
    if (!end && packet->stream_index != index) {
      av_packet_unref(packet.get());
      continue;
    }
    ++packets;
    avcodec_send_packet(decoder.get(), end ? nullptr : packet.get());
    av_packet_unref(packet.get());
    while (avcodec_receive_frame(decoder.get(), frame.get()) == 0) {
      // NOLINTNEXTLINE(bugprone-use-after-move): the frame moved is the last: the loops end with it
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

  Thumbnail scaled = ScaledPicture(*picture, maxWidth, maxHeight);
  scaled.seconds = result.seconds;
  return scaled;
}

Thumbnail ScaledPicture(const AVFrame& picture, int maxWidth, int maxHeight) {
  Thumbnail result;
  int width = maxWidth;
  int height = std::max(1, static_cast<int>(static_cast<std::int64_t>(maxWidth) * picture.height / picture.width));
  if (height > maxHeight) {
    height = maxHeight;
    width = std::max(1, static_cast<int>(static_cast<std::int64_t>(maxHeight) * picture.width / picture.height));
  }
  ScalerPtr scaler(sws_getContext(picture.width, picture.height, static_cast<AVPixelFormat>(picture.format), width,
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
  sws_scale(scaler.get(), picture.data, picture.linesize, 0, picture.height, planes, strides);
  result.ok = true;
  return result;
}

}  // namespace zent
