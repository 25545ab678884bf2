#include "record/avi_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zent {
namespace {

std::string NumberedName(const std::string& wanted, int n) {
  const std::string suffix = "-" + std::to_string(n);
  const std::size_t dot = wanted.size() >= 4 ? wanted.size() - 4 : std::string::npos;
  if (dot != std::string::npos && strcasecmp(wanted.c_str() + dot, ".avi") == 0)
    return wanted.substr(0, dot) + suffix + wanted.substr(dot);
  return wanted + suffix;
}

}  // namespace

std::string CreateFreeFile(const std::string& wanted, std::string& error) {
  for (int n = 0; n < 10000; ++n) {
    const std::string path = n == 0 ? wanted : NumberedName(wanted, n);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      return path;
    }
    if (errno != EEXIST) {
      error = std::strerror(errno);
      return {};
    }
  }
  error = "no free file name";
  return {};
}

bool AviCarries(int codecId) {
  const AVOutputFormat* avi = av_guess_format("avi", nullptr, nullptr);
  return avi && avformat_query_codec(avi, static_cast<AVCodecID>(codecId), FF_COMPLIANCE_NORMAL) == 1;
}

std::unique_ptr<AviWriter> AviWriter::Open(const std::string& path, const AVCodecParameters& source,
                                           AVRational frameRate, std::string& error) {
  std::unique_ptr<AviWriter> writer(new AviWriter);
  AVFormatContext* output = nullptr;
  int result = avformat_alloc_output_context2(&output, nullptr, "avi", path.c_str());
  if (result < 0 || !output) {
    error = ErrorText(result < 0 ? result : AVERROR(ENOMEM));
    return nullptr;
  }
  writer->output_.reset(output);
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

  if ((result = avio_open(&output->pb, path.c_str(), AVIO_FLAG_WRITE)) < 0) {
    error = ErrorText(result);
    return nullptr;
  }
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
  if (output_ && output_->pb) avio_flush(output_->pb);
}

bool AviWriter::Finish(std::string& error) {
  if (finished_) return true;
  finished_ = true;
  int result = av_write_trailer(output_.get());
  if (result >= 0 && output_->pb->error < 0) result = output_->pb->error;
  const int closed = avio_closep(&output_->pb);
  if (result >= 0) result = closed;
  if (result < 0) {
    error = ErrorText(result);
    return false;
  }
  return true;
}

double AviWriter::Seconds() const { return static_cast<double>(lastFrame_ + 1) * av_q2d(timeBase_); }

}  // namespace zent
