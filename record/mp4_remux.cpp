#include "record/mp4_remux.h"

#include <unistd.h>

#include "record/ffmpeg_ptr.h"
#include "record/recording_reader.h"

namespace zent {

bool RemuxToMp4(const std::string& avi, const std::string& mp4, std::string& error) {
  const std::unique_ptr<RecordingReader> reader = RecordingReader::Open(avi, error, std::chrono::seconds(60));
  if (!reader) return false;
  const AVStream& in = reader->Stream();
  if (in.codecpar->codec_id != AV_CODEC_ID_H264) {
    error = "not an H.264 recording";
    return false;
  }
  const std::string partial = mp4 + ".part";
  AVFormatContext* raw = nullptr;
  if (avformat_alloc_output_context2(&raw, nullptr, "mp4", partial.c_str()) < 0 || !raw) {
    error = "cannot make an MP4";
    return false;
  }
  struct Output {
    AVFormatContext* context;
    ~Output() {
      if (context->pb) avio_closep(&context->pb);
      avformat_free_context(context);
    }
  } output{raw};
  AVStream* out = avformat_new_stream(raw, nullptr);
  if (!out || avcodec_parameters_copy(out->codecpar, in.codecpar) < 0) {
    error = "cannot make an MP4";
    return false;
  }
  out->codecpar->codec_tag = 0;
  out->time_base = in.time_base;
  out->avg_frame_rate = in.avg_frame_rate;
  AVDictionary* options = nullptr;
  av_dict_set(&options, "movflags", "+faststart", 0);
  int result = avio_open(&raw->pb, partial.c_str(), AVIO_FLAG_WRITE);
  if (result >= 0) result = avformat_write_header(raw, &options);
  av_dict_free(&options);
  if (result < 0) {
    error = ErrorText(result);
    ::unlink(partial.c_str());
    return false;
  }
  PacketPtr packet = NewPacket();
  std::int64_t lastDts = AV_NOPTS_VALUE;
  while ((result = av_read_frame(reader->Input(), packet.get())) >= 0) {
    if (packet->stream_index != reader->VideoStream() || packet->size == 0) {
      av_packet_unref(packet.get());
      continue;
    }
    av_packet_rescale_ts(packet.get(), in.time_base, out->time_base);
    // An AVI carries no presentation times of B-frames; cameras send none, and MP4 wants rising times.
    if (packet->dts != AV_NOPTS_VALUE && lastDts != AV_NOPTS_VALUE && packet->dts <= lastDts) packet->dts = lastDts + 1;
    if (packet->pts == AV_NOPTS_VALUE || packet->pts < packet->dts) packet->pts = packet->dts;
    lastDts = packet->dts;
    packet->stream_index = 0;
    packet->pos = -1;
    if ((result = av_interleaved_write_frame(raw, packet.get())) < 0) break;
  }
  if (result == AVERROR_EOF) result = 0;
  if (result >= 0) result = av_write_trailer(raw);
  if (result >= 0) result = avio_closep(&raw->pb);
  if (result < 0 || ::rename(partial.c_str(), mp4.c_str()) != 0) {
    error = result < 0 ? ErrorText(result) : "cannot rename the MP4";
    ::unlink(partial.c_str());
    return false;
  }
  return true;
}

}  // namespace zent
