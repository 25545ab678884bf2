#include "record/picture_jpeg.h"

#include <algorithm>

#include "record/ffmpeg_limits.h"
#include "record/ffmpeg_ptr.h"

namespace zent {

std::string EncodeJpeg(const Thumbnail& picture, int quality) {
  if (!picture.ok || picture.width <= 0 || picture.height <= 0) return {};
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
  CodecPtr encoder(codec ? avcodec_alloc_context3(codec) : nullptr);
  if (!encoder) return {};
  encoder->width = picture.width;
  encoder->height = picture.height;
  encoder->pix_fmt = AV_PIX_FMT_YUVJ420P;
  encoder->time_base = {1, 25};
  encoder->flags |= AV_CODEC_FLAG_QSCALE;
  // libavcodec's scale: 2 is the finest, 31 the coarsest.
  const int qscale = std::max(2, std::min(31, 2 + (100 - quality) * 29 / 100));
  encoder->global_quality = FF_QP2LAMBDA * qscale;
  if (avcodec_open2(encoder.get(), codec, nullptr) < 0) return {};

  FramePtr frame = NewFrame();
  frame->width = picture.width;
  frame->height = picture.height;
  frame->format = AV_PIX_FMT_YUVJ420P;
  frame->quality = encoder->global_quality;
  if (av_frame_get_buffer(frame.get(), 0) < 0) return {};
  ScalerPtr scaler(sws_getContext(picture.width, picture.height, AV_PIX_FMT_RGB32, picture.width, picture.height,
                                  AV_PIX_FMT_YUVJ420P, SWS_BILINEAR, nullptr, nullptr, nullptr));
  if (!scaler) return {};
  const std::uint8_t* planes[4] = {picture.pixels.data(), nullptr, nullptr, nullptr};
  const int strides[4] = {picture.width * 4, 0, 0, 0};
  sws_scale(scaler.get(), planes, strides, 0, picture.height, frame->data, frame->linesize);

  PacketPtr packet = NewPacket();
  if (avcodec_send_frame(encoder.get(), frame.get()) < 0 || avcodec_receive_packet(encoder.get(), packet.get()) < 0)
    return {};
  return std::string(reinterpret_cast<const char*>(packet->data), static_cast<std::size_t>(packet->size));
}

std::string SnapshotJpeg(const std::vector<LivePacketPtr>& held) {
  if (held.empty() || !held.back()->parameters) return {};
  if (held.back()->parameters->codec_id == AV_CODEC_ID_MJPEG) {
    const AVPacket& jpeg = *held.back()->packet;
    return std::string(reinterpret_cast<const char*>(jpeg.data), static_cast<std::size_t>(jpeg.size));
  }
  return EncodeJpeg(SnapshotPicture(held, 1 << 16, 1 << 16));
}

Thumbnail SnapshotPicture(const std::vector<LivePacketPtr>& held, int maxWidth, int maxHeight) {
  if (held.empty() || !held.back()->parameters) return {};
  const AVCodecParameters& parameters = *held.back()->parameters;
  const AVCodec* codec = avcodec_find_decoder(parameters.codec_id);
  CodecPtr decoder(codec ? avcodec_alloc_context3(codec) : nullptr);
  if (!decoder || avcodec_parameters_to_context(decoder.get(), &parameters) < 0) return {};
  decoder->thread_count = 1;
  // The camera's word for its size is bounded like every other decode of its video.
  if (OpenDecoder(decoder.get(), codec) < 0) return {};
  FramePtr frame = NewFrame();
  FramePtr newest;
  const auto take = [&] {
    while (avcodec_receive_frame(decoder.get(), frame.get()) == 0) {
      newest = std::move(frame);
      frame = NewFrame();
    }
  };
  for (const LivePacketPtr& packet : held) {
    avcodec_send_packet(decoder.get(), packet->packet.get());
    take();
  }
  avcodec_send_packet(decoder.get(), nullptr);
  take();
  if (!newest) return {};
  return ScaledPicture(*newest, std::min(maxWidth, newest->width), std::min(maxHeight, newest->height));
}

}  // namespace zent
