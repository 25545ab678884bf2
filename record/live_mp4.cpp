#include "record/live_mp4.h"

#include <algorithm>

extern "C" {
#include <libavutil/mem.h>
#include <libavutil/opt.h>
}

namespace zent {
namespace {

constexpr AVRational kTimeBase{1, 90000};
constexpr int kIoBuffer = 64 * 1024;

}  // namespace

std::unique_ptr<LiveMp4> LiveMp4::Open(const LivePacket& first, std::string& error) {
  if (!first.parameters || first.parameters->codec_id != AV_CODEC_ID_H264) {
    error = "only H.264 is sent as MP4";
    return nullptr;
  }
  if (first.parameters->extradata_size <= 0) {
    // The MP4 header carries the stream's parameter sets; a camera that sends them only in the
    // stream is shown from its recordings and snapshots instead.
    error = "the camera's stream description has no H.264 parameter sets";
    return nullptr;
  }
  std::unique_ptr<LiveMp4> mp4(new LiveMp4);
  AVFormatContext* raw = nullptr;
  if (avformat_alloc_output_context2(&raw, nullptr, "mp4", nullptr) < 0 || !raw) {
    error = "cannot make an MP4";
    return nullptr;
  }
  mp4->output_.reset(raw);
  auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBuffer));
  mp4->io_ =
      buffer ? avio_alloc_context(buffer, kIoBuffer, 1, mp4.get(), nullptr, &LiveMp4::Collect, nullptr) : nullptr;
  if (!mp4->io_) {
    av_free(buffer);
    error = "out of memory";
    return nullptr;
  }
  raw->pb = mp4->io_;
  raw->flags |= AVFMT_FLAG_CUSTOM_IO;
  AVStream* stream = avformat_new_stream(raw, nullptr);
  if (!stream || avcodec_parameters_copy(stream->codecpar, first.parameters.get()) < 0) {
    error = "cannot make an MP4";
    return nullptr;
  }
  stream->codecpar->codec_tag = 0;
  stream->time_base = kTimeBase;
  mp4->parameters_ = first.parameters;
  mp4->segment_ = first.segment;
  return mp4;
}

LiveMp4::~LiveMp4() {
  output_.reset();  // custom I/O: the context leaves it to us
  if (io_) {
    av_freep(&io_->buffer);
    avio_context_free(&io_);
  }
}

int LiveMp4::Collect(void* self, std::uint8_t* data, int size) {
  auto* mp4 = static_cast<LiveMp4*>(self);
  if (mp4->sink_) mp4->sink_->append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(size));
  return size;
}

bool LiveMp4::Fits(const LivePacket& packet) const {
  const AVCodecParameters* p = packet.parameters.get();
  return p && packet.segment == segment_ && p->codec_id == parameters_->codec_id && p->width == parameters_->width &&
         p->height == parameters_->height;
}

bool LiveMp4::Add(const LivePacket& packet, std::string& out, std::string& error) {
  sink_ = &out;
  struct Detach {
    std::string*& sink;
    ~Detach() { sink = nullptr; }
  } detach{sink_};
  AVFormatContext* context = output_.get();
  if (!headerWritten_) {
    // A fragment a frame: the browser has each picture as soon as it arrived here.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "empty_moov+default_base_moof+frag_custom+omit_tfhd_offset", 0);
    const int result = avformat_write_header(context, &options);
    av_dict_free(&options);
    if (result < 0) {
      error = "cannot begin the MP4: " + ErrorText(result);
      return false;
    }
    headerWritten_ = true;
  }
  PacketPtr copy = NewPacket();
  if (!copy || av_packet_ref(copy.get(), packet.packet.get()) < 0) {
    error = "out of memory";
    return false;
  }
  const AVRational streamBase = context->streams[0]->time_base;
  std::int64_t ts = AV_NOPTS_VALUE;
  const std::int64_t own = packet.packet->dts != AV_NOPTS_VALUE ? packet.packet->dts : packet.packet->pts;
  if (!packet.arrivalClock && own != AV_NOPTS_VALUE) {
    if (firstTs_ == AV_NOPTS_VALUE) firstTs_ = own;
    ts = av_rescale_q(own - firstTs_, packet.timeBase, streamBase);
  } else {
    if (lastDts_ == AV_NOPTS_VALUE) firstArrival_ = packet.arrival;
    const auto since = std::chrono::duration_cast<std::chrono::microseconds>(packet.arrival - firstArrival_).count();
    ts = av_rescale_q(since, AVRational{1, 1000000}, streamBase);
  }
  const AVPacket& source = *packet.packet;
  // A fragment of one frame must say how long it lasts before the next is known: as long as the
  // gap before it, no longer than the stream's frame. The muxer moves a frame that begins before
  // the one before it ended, and drops its showing offset: such a frame begins at that end.
  if (lastDts_ != AV_NOPTS_VALUE) ts = std::max(ts, lastDts_ + lastDuration_);
  const std::int64_t gap = lastDts_ != AV_NOPTS_VALUE ? ts - lastDts_ : kTimeBase.den / 25;
  const std::int64_t frame =
      !packet.arrivalClock && source.duration > 0 ? av_rescale_q(source.duration, packet.timeBase, streamBase) : 0;
  copy->duration = lastDuration_ = frame > 0 ? std::min(gap, frame) : gap;
  copy->dts = copy->pts = ts;
  // A B-frame is shown after pictures decoded later: without its offset a player shows each
  // group out of order.
  if (!packet.arrivalClock && source.dts != AV_NOPTS_VALUE && source.pts != AV_NOPTS_VALUE && source.pts > source.dts)
    copy->pts = ts + av_rescale_q(source.pts - source.dts, packet.timeBase, streamBase);
  copy->stream_index = 0;
  copy->pos = -1;
  lastDts_ = ts;
  int result = av_write_frame(context, copy.get());
  if (result >= 0) result = av_write_frame(context, nullptr);  // close the fragment now
  if (result < 0) {
    error = "cannot add to the MP4: " + ErrorText(result);
    return false;
  }
  avio_flush(context->pb);
  return true;
}

}  // namespace zent
