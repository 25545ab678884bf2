#include "tests/kit/avi_probe.h"

#include <fcntl.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cstdio>
#include <memory>

#include "record/file_writer.h"
#include <cstring>

namespace zent::testing {

AviProbe ProbeAvi(const std::string& path) {
  AviProbe probe;
  AVFormatContext* input = nullptr;
  if (avformat_open_input(&input, path.c_str(), nullptr, nullptr) < 0) return probe;
  avformat_find_stream_info(input, nullptr);
  probe.opened = true;
  probe.format = input->iformat->name;
  probe.codec = avcodec_get_name(input->streams[0]->codecpar->codec_id);
  char tag[AV_FOURCC_MAX_STRING_SIZE] = {};
  probe.codecTag = av_fourcc_make_string(tag, input->streams[0]->codecpar->codec_tag);
  const AVStream* stream = input->streams[0];
  probe.width = stream->codecpar->width;
  probe.height = stream->codecpar->height;
  probe.frameRate = av_q2d(stream->avg_frame_rate.num ? stream->avg_frame_rate : stream->r_frame_rate);
  AVPacket* packet = av_packet_alloc();
  std::int64_t start = INT64_MAX, end = 0, step = 0;
  std::vector<std::int64_t> shown;
  while (av_read_frame(input, packet) >= 0) {
    if (packet->size > 0) {
      if (probe.packets == 0) probe.startsWithKeyFrame = packet->flags & AV_PKT_FLAG_KEY;
      ++probe.packets;
      const std::string data(reinterpret_cast<const char*>(packet->data), std::min(packet->size, 256));
      const auto at = data.find("frame=");
      if (at != std::string::npos) probe.cameraFrames.push_back(std::strtoull(data.c_str() + at + 6, nullptr, 10));
      const std::int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
      start = std::min(start, pts);
      end = std::max(end, pts + std::max<std::int64_t>(packet->duration, 1));
      shown.push_back(pts);
      if (step == 0) step = packet->duration;
    }
    av_packet_unref(packet);
  }
  // From the first picture shown: an MP4 with B-frames may show its first a few frames in.
  probe.seconds = static_cast<double>(start == INT64_MAX ? 0 : end - start) * av_q2d(stream->time_base);
  std::sort(shown.begin(), shown.end());
  for (std::size_t i = 1; step > 0 && i + 1 < shown.size(); ++i)
    probe.missingBeforeLast += std::max<std::int64_t>(0, (shown[i] - shown[i - 1] + step / 2) / step - 1);
  av_packet_free(&packet);
  avformat_close_input(&input);
  return probe;
}

bool WriteTestAvi(const std::string& path, int frames, int width, int height) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
  AVCodecContext* encoder = codec ? avcodec_alloc_context3(codec) : nullptr;
  if (!encoder) return false;
  encoder->width = width;
  encoder->height = height;
  encoder->pix_fmt = AV_PIX_FMT_YUVJ420P;
  encoder->time_base = {1, 10};
  bool ok = avcodec_open2(encoder, codec, nullptr) >= 0;
  AVFrame* frame = av_frame_alloc();
  frame->width = width;
  frame->height = height;
  frame->format = encoder->pix_fmt;
  ok = ok && av_frame_get_buffer(frame, 0) >= 0;
  std::unique_ptr<zent::FileWriter> writer;
  std::string error;
  if (ok) {
    AVCodecParameters* parameters = avcodec_parameters_alloc();
    avcodec_parameters_from_context(parameters, encoder);
    zent::UniqueFd file(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (file)
      writer = zent::FileWriter::Open(std::move(file), zent::ContainerOf(path), *parameters, {10, 1},
                                      std::chrono::system_clock::now(), error);
    avcodec_parameters_free(&parameters);
  }
  AVPacket* packet = av_packet_alloc();
  for (int i = 0; ok && writer && i < frames; ++i) {
    av_frame_make_writable(frame);
    for (int plane = 0; plane < 3; ++plane)
      std::memset(frame->data[plane], plane == 0 ? 40 + 4 * i : 128,
                  static_cast<std::size_t>(frame->linesize[plane]) * (plane ? height / 2 : height));
    frame->pts = i;
    ok = avcodec_send_frame(encoder, frame) >= 0 && avcodec_receive_packet(encoder, packet) >= 0 &&
         writer->Write(*packet, i, 0, error);
    av_packet_unref(packet);
  }
  ok = ok && writer && writer->Finish(error);
  av_packet_free(&packet);
  av_frame_free(&frame);
  avcodec_free_context(&encoder);
  return ok;
}

namespace {

// `program`'s output, or that it failed when it printed nothing.
std::string Run(const std::string& program, const std::string& arguments) {
  std::string output;
  if (FILE* pipe = ::popen((program + " " + arguments).c_str(), "r")) {
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
    if (::pclose(pipe) != 0 && output.empty()) output = program + " failed";
  } else {
    output = program + " could not be run";
  }
  return output;
}

}  // namespace

std::vector<std::int64_t> ShownTimes(const std::string& path) {
  const std::string output =
      Run("ffprobe", "-v error -select_streams v:0 -show_entries frame=pts -of csv=p=0 '" + path + "'");
  std::vector<std::int64_t> times;
  for (std::size_t at = 0; at < output.size();) {
    const std::size_t end = std::min(output.find('\n', at), output.size());
    if (end > at) times.push_back(std::strtoll(output.c_str() + at, nullptr, 10));
    at = end + 1;
  }
  return times;
}

std::string DecodeErrors(const std::string& path) {
  return Run("ffmpeg", "-nostdin -hide_banner -v error -i '" + path + "' -f null - 2>&1");
}

}  // namespace zent::testing
