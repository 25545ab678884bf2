#include "avi_probe.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <cstdio>
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
  const AVStream* stream = input->streams[0];
  probe.width = stream->codecpar->width;
  probe.height = stream->codecpar->height;
  probe.frameRate = av_q2d(stream->avg_frame_rate.num ? stream->avg_frame_rate : stream->r_frame_rate);
  AVPacket* packet = av_packet_alloc();
  std::int64_t end = 0;
  while (av_read_frame(input, packet) >= 0) {
    if (packet->size > 0) {
      if (probe.packets == 0) probe.startsWithKeyFrame = packet->flags & AV_PKT_FLAG_KEY;
      ++probe.packets;
      const std::string data(reinterpret_cast<const char*>(packet->data), std::min(packet->size, 256));
      const auto at = data.find("frame=");
      if (at != std::string::npos) probe.cameraFrames.push_back(std::strtoull(data.c_str() + at + 6, nullptr, 10));
      const std::int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
      end = std::max(end, pts + std::max<std::int64_t>(packet->duration, 1));
    }
    av_packet_unref(packet);
  }
  probe.seconds = static_cast<double>(end) * av_q2d(stream->time_base);
  av_packet_free(&packet);
  avformat_close_input(&input);
  return probe;
}

std::string DecodeErrors(const std::string& path) {
  const std::string command = "ffmpeg -nostdin -hide_banner -v error -i '" + path + "' -f null - 2>&1";
  std::string output;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
    if (::pclose(pipe) != 0 && output.empty()) output = "ffmpeg failed";
  } else {
    output = "ffmpeg could not be run";
  }
  return output;
}

}  // namespace zent::testing
