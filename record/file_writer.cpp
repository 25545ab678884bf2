#include "record/file_writer.h"

#include <strings.h>

#include <cstdio>
#include <ctime>

namespace zent {

Container ContainerOf(const std::string& path) {
  return path.size() >= 4 && strcasecmp(path.c_str() + path.size() - 4, ".mp4") == 0 ? Container::Mp4 : Container::Avi;
}

std::string FileDate(std::chrono::system_clock::time_point at) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000 - (ms % 1000 < 0 ? 1 : 0));
  std::tm utc{};
  ::gmtime_r(&seconds, &utc);
  char text[80];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>((ms % 1000 + 1000) % 1000));
  return text;
}

unsigned Mp4Tag(const AVCodecParameters& source) {
  // Apple's players take H.265 in MP4 only as hvc1 (parameter sets in the header); otherwise the
  // muxer's own choice, as the source's tag belongs to its own container.
  return source.codec_id == AV_CODEC_ID_HEVC ? MKTAG('h', 'v', 'c', '1') : 0;
}

AVDictionary* Mp4FragmentOptions(const AVCodecParameters& source) {
  // Fragments from the start: the header says everything a player needs before the first frame,
  // and each fragment is whole once written. JPEGs are all key frames: a fifth of a second each,
  // small enough to stay in the cache on their way through the muxer.
  const bool standsAlone = source.codec_id == AV_CODEC_ID_MJPEG;
  std::string flags = standsAlone ? "empty_moov+default_base_moof" : "frag_keyframe+empty_moov+default_base_moof";
  // Parameter sets only in the stream (a camera that sends them there, an AVI of such a camera):
  // the header waits for the first frame's, or it would describe no picture at all.
  if (!standsAlone && source.extradata_size == 0) flags += "+delay_moov";
  AVDictionary* options = nullptr;
  av_dict_set(&options, "movflags", flags.c_str(), 0);
  if (standsAlone) av_dict_set(&options, "frag_duration", "200000", 0);
  return options;
}

const char* ContainerName(Container container) { return container == Container::Mp4 ? "MP4" : "AVI"; }

namespace {

const char* MuxerName(Container container) { return container == Container::Mp4 ? "mp4" : "avi"; }

}  // namespace

bool Carries(Container container, int codecId) {
  const AVOutputFormat* format = av_guess_format(MuxerName(container), nullptr, nullptr);
  return format && avformat_query_codec(format, static_cast<AVCodecID>(codecId), FF_COMPLIANCE_NORMAL) == 1;
}

std::unique_ptr<FileWriter> FileWriter::Open(UniqueFd file, Container container, const AVCodecParameters& source,
                                             AVRational frameRate, std::chrono::system_clock::time_point began,
                                             std::string& error) {
  std::unique_ptr<FileWriter> writer(new FileWriter);
  writer->io_ = FdIo::ForWriting(std::move(file));
  AVFormatContext* output = nullptr;
  int result =
      writer->io_ ? avformat_alloc_output_context2(&output, nullptr, MuxerName(container), nullptr) : AVERROR(ENOMEM);
  if (result < 0 || !output) {
    error = ErrorText(result < 0 ? result : AVERROR(ENOMEM));
    return nullptr;
  }
  writer->output_.reset(output);
  output->pb = writer->io_->Context();
  output->flags |= AVFMT_FLAG_CUSTOM_IO;
  writer->mode_ = {source.codec_id, source.width, source.height};
  writer->container_ = container;
  writer->timeBase_ = av_inv_q(frameRate);
  writer->stream_ = avformat_new_stream(output, nullptr);
  if (!writer->stream_) {
    error = ErrorText(AVERROR(ENOMEM));
    return nullptr;
  }
  if ((result = avcodec_parameters_copy(writer->stream_->codecpar, &source)) < 0) {
    error = ErrorText(result);
    return nullptr;
  }
  writer->stream_->codecpar->codec_tag = container == Container::Mp4 ? Mp4Tag(source) : 0;
  writer->stream_->time_base = writer->timeBase_;
  writer->stream_->avg_frame_rate = frameRate;
  writer->stream_->r_frame_rate = frameRate;
  const std::string date = FileDate(began);
  av_dict_set(&output->metadata, "date", date.c_str(), 0);
  av_dict_set(&output->metadata, "creation_time", date.c_str(), 0);

  AVDictionary* options = container == Container::Mp4 ? Mp4FragmentOptions(source) : nullptr;
  result = avformat_write_header(output, &options);
  av_dict_free(&options);
  if (result < 0) {
    error = ErrorText(result);
    return nullptr;
  }
  writer->headerWritten_ = true;
  // The muxer may pick its own time base; frames are counted in ours.
  return writer;
}

FileWriter::~FileWriter() {
  std::string ignored;
  if (output_ && headerWritten_ && !finished_) Finish(ignored);
}

bool FileWriter::Write(AVPacket& packet, std::int64_t frame, std::int64_t shownAfter, std::string& error) {
  if (frame <= lastFrame_) frame = lastFrame_ + 1;
  packet.stream_index = stream_->index;
  packet.pts = packet.dts = av_rescale_q(frame, timeBase_, stream_->time_base);
  if (container_ == Container::Mp4 && shownAfter > 0)
    packet.pts = av_rescale_q(frame + shownAfter, timeBase_, stream_->time_base);
  packet.duration = av_rescale_q(1, timeBase_, stream_->time_base);
  packet.pos = -1;
  const int result = av_write_frame(output_.get(), &packet);
  if (result < 0 || output_->pb->error < 0) {
    error = ErrorText(result < 0 ? result : output_->pb->error);
    return false;
  }
  lastFrame_ = frame;
  ++frames_;
  return true;
}

void FileWriter::Flush() {
  if (!output_ || !output_->pb) return;
  avio_flush(output_->pb);
  if (const int result = io_->Drain(); result < 0 && output_->pb->error >= 0) output_->pb->error = result;
}

bool FileWriter::Finish(std::string& error) {
  if (finished_) return true;
  finished_ = true;
  int result = av_write_trailer(output_.get());
  if (result >= 0 && output_->pb->error < 0) result = output_->pb->error;
  const int closed = io_->Close();
  if (result >= 0) result = closed;
  if (result < 0) {
    error = ErrorText(result);
    return false;
  }
  return true;
}

double FileWriter::Seconds() const { return static_cast<double>(lastFrame_ + 1) * av_q2d(timeBase_); }

}  // namespace zent
