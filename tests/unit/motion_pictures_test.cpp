// What motion detection decodes: only the pictures it looks at, and no larger than it needs.

#include "motion/motion_pictures.h"

#include <gtest/gtest.h>

#include <vector>

namespace zent {
namespace {

using namespace std::chrono_literals;
using Clock = MotionPictures::Clock;

// `count` encoded pictures of a grey 1280 x 720 scene; null when the encoder is not there.
struct Encoded {
  std::vector<PacketPtr> packets;
  AVCodecParameters* parameters = avcodec_parameters_alloc();
  ~Encoded() { avcodec_parameters_free(&parameters); }
};

bool Encode(const char* name, int count, int keyEvery, Encoded& out) {
  const AVCodec* codec = avcodec_find_encoder_by_name(name);
  if (!codec) return false;
  CodecPtr encoder(avcodec_alloc_context3(codec));
  encoder->width = 1280;
  encoder->height = 720;
  encoder->pix_fmt = codec->id == AV_CODEC_ID_MJPEG ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P;
  encoder->time_base = {1, 15};
  encoder->gop_size = keyEvery;
  encoder->max_b_frames = 0;
  if (avcodec_open2(encoder.get(), codec, nullptr) < 0) return false;
  avcodec_parameters_from_context(out.parameters, encoder.get());
  for (int i = 0; i <= count; ++i) {
    FramePtr frame = NewFrame();
    if (i < count) {
      frame->width = 1280;
      frame->height = 720;
      frame->format = encoder->pix_fmt;
      frame->pts = i;
      if (av_frame_get_buffer(frame.get(), 0) < 0) return false;
      for (int plane = 0; plane < 3; ++plane)
        for (int y = 0; y < (plane ? 360 : 720); ++y)
          std::fill_n(frame->data[plane] + y * frame->linesize[plane], plane ? 640 : 1280, plane ? 128 : 60 + i);
      // A little texture, so that the H.264 encoder has something to predict.
      for (int y = 0; y < 720; y += 8) frame->data[0][y * frame->linesize[0] + (y + 4 * i) % 1280] = 200;
    }
    avcodec_send_frame(encoder.get(), i < count ? frame.get() : nullptr);
    for (PacketPtr packet = NewPacket(); avcodec_receive_packet(encoder.get(), packet.get()) == 0; packet = NewPacket())
      out.packets.push_back(std::move(packet));
  }
  return static_cast<int>(out.packets.size()) == count;
}

TEST(MotionPictures, JpegsAreDecodedSmallAndOnlyWhenDueAndH264AtItsKeyFramesOnly) {
  av_log_set_level(AV_LOG_ERROR);
  Encoded jpegs;
  ASSERT_TRUE(Encode("mjpeg", 30, 1, jpegs));
  // As a stream of JPEGs over HTTP says it: no size until a picture is read.
  jpegs.parameters->width = jpegs.parameters->height = 0;
  MotionPictures pictures(false);
  const auto t0 = Clock::time_point{} + 1h;
  int taken = 0;
  for (int i = 0; i < 15; ++i) {  // a second at 15 a second
    const auto picture = pictures.Take(*jpegs.packets[i], *jpegs.parameters, t0 + i * 66667us, false);
    if (!picture) continue;
    ++taken;
    EXPECT_EQ(picture->width, kMotionWidth);
    EXPECT_EQ(picture->height, 90);
    EXPECT_NEAR(picture->pixels[45 * 160 + 80], 60 + i, 2);  // this picture's own
  }
  EXPECT_EQ(taken, 5);
  EXPECT_EQ(pictures.Decoded(), 5u);  // the other ten never reached the decoder
  // Something began to move: every picture is looked at until it is decided.
  for (int i = 15; i < 20; ++i)
    EXPECT_TRUE(pictures.Take(*jpegs.packets[i], *jpegs.parameters, t0 + 1s + i * 1ms, true));

  Encoded h264;
  if (!Encode("libx264", 30, 10, h264)) GTEST_SKIP() << "no H.264 encoder";
  MotionPictures keyFrames(false);
  taken = 0;
  for (int i = 0; i < 30; ++i)
    taken += keyFrames.Take(*h264.packets[i], *h264.parameters, t0 + i * 66667us, false).has_value();
  EXPECT_EQ(taken, 3);
  EXPECT_EQ(keyFrames.Decoded(), 3u);
}

}  // namespace
}  // namespace zent
