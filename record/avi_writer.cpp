#include "record/avi_writer.h"

namespace zent {
bool AviCarries(int codecId) {
  const AVOutputFormat* avi = av_guess_format("avi", nullptr, nullptr);
  return avi && avformat_query_codec(avi, static_cast<AVCodecID>(codecId), FF_COMPLIANCE_NORMAL) == 1;
}

std::unique_ptr<AviWriter> AviWriter::Open(UniqueFd file, const AVCodecParameters& source, AVRational frameRate,
                                           std::string& error) {
  std::unique_ptr<AviWriter> writer(new AviWriter);
  writer->io_ = FdIo::ForWriting(std::move(file));
  AVFormatContext* output = nullptr;
  int result = writer->io_ ? avformat_alloc_output_context2(&output, nullptr, "avi", nullptr) : AVERROR(ENOMEM);
  if (result < 0 || !output) {
    error = ErrorText(result < 0 ? result : AVERROR(ENOMEM));
    return nullptr;
  }
  writer->output_.reset(output);
  output->pb = writer->io_->Context();
  output->flags |= AVFMT_FLAG_CUSTOM_IO;
  writer->mode_ = {source.codec_id, source.width, source.height};
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
  writer->stream_->codecpar->codec_tag = 0;  // the source's tag belongs to its own container
  writer->stream_->time_base = writer->timeBase_;
  writer->stream_->avg_frame_rate = frameRate;
  writer->stream_->r_frame_rate = frameRate;

  if ((result = avformat_write_header(output, nullptr)) < 0) {
    error = ErrorText(result);
    return nullptr;
  }
  writer->headerWritten_ = true;
  // The muxer may pick its own time base; frames are counted in ours.
  return writer;
}

AviWriter::~AviWriter() {
  std::string ignored;
  if (output_ && headerWritten_ && !finished_) Finish(ignored);
}

bool AviWriter::Write(AVPacket& packet, std::int64_t frame, std::string& error) {
  if (frame <= lastFrame_) frame = lastFrame_ + 1;
  packet.stream_index = stream_->index;
  packet.pts = packet.dts = av_rescale_q(frame, timeBase_, stream_->time_base);
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

void AviWriter::Flush() {
  if (!output_ || !output_->pb) return;
  avio_flush(output_->pb);
  if (const int result = io_->Drain(); result < 0 && output_->pb->error >= 0) output_->pb->error = result;
}

bool AviWriter::Finish(std::string& error) {
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

double AviWriter::Seconds() const { return static_cast<double>(lastFrame_ + 1) * av_q2d(timeBase_); }

}  // namespace zent
