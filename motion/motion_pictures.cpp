#include "motion/motion_pictures.h"

#include <algorithm>

#include "record/ffmpeg_limits.h"

namespace zent {
namespace {

// Five pictures a second, with room for a camera's uneven clock.
constexpr auto kPictureInterval = std::chrono::milliseconds(190);
constexpr int kMaxLowres = 3;

}  // namespace

void MotionPictures::Reset() {
  decoder_.reset();
  learnedWidth_ = 0;
  needsKey_ = true;
}

bool MotionPictures::Open(const AVCodecParameters& parameters) {
  // A stream of JPEGs over HTTP says its size only in its pictures: the first is decoded whole.
  const int width = parameters.width > 0 ? parameters.width : learnedWidth_;
  if (decoder_ && codec_ == parameters.codec_id && width_ == width && height_ == parameters.height) return true;
  decoder_.reset();
  const AVCodec* codec = avcodec_find_decoder(parameters.codec_id);
  if (!codec) return false;
  CodecPtr decoder(avcodec_alloc_context3(codec));
  if (!decoder || avcodec_parameters_to_context(decoder.get(), &parameters) < 0) return false;
  // A JPEG decodes at 1/2, 1/4 or 1/8 of its size for little more than reading it.
  int lowres = 0;
  while (lowres < std::min<int>(kMaxLowres, codec->max_lowres) && (width >> (lowres + 1)) >= kMotionWidth) ++lowres;
  decoder->lowres = lowres;
  decoder->thread_count = 1;
  // What is lost here is detail a 160-pixel picture does not show.
  decoder->skip_loop_filter = AVDISCARD_ALL;
  decoder->flags2 |= AV_CODEC_FLAG2_FAST;
  decoder->flags |= AV_CODEC_FLAG_LOW_DELAY;
  if (!everyPicture_) decoder->skip_frame = AVDISCARD_NONKEY;
  if (OpenDecoder(decoder.get(), codec) < 0) return false;
  decoder_ = std::move(decoder);
  codec_ = parameters.codec_id;
  width_ = width;
  height_ = parameters.height;
  lowres_ = lowres;
  needsKey_ = true;
  return true;
}

std::optional<GreyPicture> MotionPictures::Take(const AVPacket& packet, const AVCodecParameters& parameters,
                                                Clock::time_point at, bool eager) {
  const bool standsAlone = parameters.codec_id == AV_CODEC_ID_MJPEG;
  const bool key = (packet.flags & AV_PKT_FLAG_KEY) != 0;
  const bool due = eager || at - lastTaken_ >= kPictureInterval;
  // What is not looked at is not decoded, where the codec allows it.
  if (standsAlone && !due) return std::nullopt;
  if (!standsAlone && !everyPicture_ && !key) return std::nullopt;
  if (!Open(parameters)) return std::nullopt;
  if (needsKey_ && !standsAlone && !key) return std::nullopt;
  needsKey_ = false;
  if (avcodec_send_packet(decoder_.get(), &packet) < 0) return std::nullopt;
  FramePtr frame = NewFrame();
  FramePtr newest;
  while (frame && avcodec_receive_frame(decoder_.get(), frame.get()) == 0) {
    ++decoded_;
    newest = std::move(frame);
    frame = NewFrame();
  }
  if (newest && parameters.width <= 0 && lowres_ == 0 && newest->width != learnedWidth_)
    learnedWidth_ = newest->width;  // the next picture is decoded at the size it needs
  if (!newest || !due) return std::nullopt;
  lastTaken_ = at;
  return Grey(*newest);
}

std::optional<GreyPicture> MotionPictures::Grey(const AVFrame& frame) {
  if (frame.width <= 0 || frame.height <= 0) return std::nullopt;
  GreyPicture picture;
  picture.width = kMotionWidth;
  // The camera's shape, within reason: a 4:3 picture is 120 high, a 16:9 one 90.
  picture.height = std::clamp(kMotionWidth * frame.height / frame.width, kMotionWidth / 4, kMotionWidth);
  scaler_.reset(sws_getCachedContext(scaler_.release(), frame.width, frame.height,
                                     static_cast<AVPixelFormat>(frame.format), picture.width, picture.height,
                                     AV_PIX_FMT_GRAY8, SWS_AREA, nullptr, nullptr, nullptr));
  if (!scaler_) return std::nullopt;
  picture.pixels.resize(static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height));
  std::uint8_t* planes[4] = {picture.pixels.data(), nullptr, nullptr, nullptr};
  int strides[4] = {picture.width, 0, 0, 0};
  if (sws_scale(scaler_.get(), frame.data, frame.linesize, 0, frame.height, planes, strides) <= 0) return std::nullopt;
  return picture;
}

}  // namespace zent
