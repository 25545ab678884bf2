#include "record/live_decoder.h"

#include <algorithm>
#include <cstdint>

#include "record/ffmpeg_limits.h"

namespace zent {
namespace {

constexpr int kMaxLowres = 3;

}  // namespace

void LiveDecoder::Reset() {
  decoder_.reset();
  lowres_ = -1;
}

std::shared_ptr<VideoPicture> LiveDecoder::Decode(const AVPacket& packet, const AVCodecParameters& parameters,
                                                  int width, int height, int displayWidth, int displayHeight,
                                                  bool wantPicture) {
  if (width <= 0 || height <= 0 || displayWidth <= 0 || displayHeight <= 0) return nullptr;

  // JPEG can decode at 1/2, 1/4 or 1/8 size for almost nothing.
  int lowres = 0;
  const AVCodec* codec = avcodec_find_decoder(parameters.codec_id);
  if (!codec) return nullptr;
  const int maxLowres = std::min<int>(kMaxLowres, codec->max_lowres);
  while (lowres < maxLowres && (width >> (lowres + 1)) >= displayWidth && (height >> (lowres + 1)) >= displayHeight)
    ++lowres;
  if (!decoder_ || lowres != lowres_) {
    decoder_.reset(avcodec_alloc_context3(codec));
    if (!decoder_) return nullptr;
    avcodec_parameters_to_context(decoder_.get(), &parameters);
    decoder_->lowres = lowres;
    decoder_->thread_count = 1;
    // A small live picture: the deblocking filter costs much and shows little at this size.
    decoder_->skip_loop_filter = AVDISCARD_ALL;
    decoder_->flags2 |= AV_CODEC_FLAG2_FAST;
    if (OpenDecoder(decoder_.get(), codec) < 0) {
      decoder_.reset();
      return nullptr;
    }
    lowres_ = lowres;
    needsKey_ = true;
  }
  if (needsKey_) {
    if (!(packet.flags & AV_PKT_FLAG_KEY) && parameters.codec_id != AV_CODEC_ID_MJPEG) return nullptr;
    needsKey_ = false;
  }
  if (avcodec_send_packet(decoder_.get(), &packet) < 0) return nullptr;
  FramePtr frame = NewFrame();
  FramePtr newest;
  while (avcodec_receive_frame(decoder_.get(), frame.get()) == 0) {
    newest = std::move(frame);
    frame = NewFrame();
  }
  if (!newest || !wantPicture) return nullptr;

  // Fit the picture into the display, keeping its shape.
  int outWidth = displayWidth;
  int outHeight = std::max(1, static_cast<int>(static_cast<std::int64_t>(displayWidth) * height / width));
  if (outHeight > displayHeight) {
    outHeight = displayHeight;
    outWidth = std::max(1, static_cast<int>(static_cast<std::int64_t>(displayHeight) * width / height));
  }
  scaler_.reset(sws_getCachedContext(scaler_.release(), newest->width, newest->height,
                                     static_cast<AVPixelFormat>(newest->format), outWidth, outHeight, AV_PIX_FMT_RGB32,
                                     SWS_BILINEAR, nullptr, nullptr, nullptr));
  if (!scaler_) return nullptr;
  auto picture = std::make_shared<VideoPicture>();
  picture->width = outWidth;
  picture->height = outHeight;
  picture->pixels.resize(static_cast<std::size_t>(outWidth) * outHeight * 4);
  std::uint8_t* planes[4] = {picture->pixels.data(), nullptr, nullptr, nullptr};
  int strides[4] = {outWidth * 4, 0, 0, 0};
  sws_scale(scaler_.get(), newest->data, newest->linesize, 0, newest->height, planes, strides);
  return picture;
}

}  // namespace zent
