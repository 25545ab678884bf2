#include "record/file_writer.h"
#include "record/recording_reader.h"

#include "record/ffmpeg_limits.h"

namespace zent {

int RecordingReader::PastDeadline(void* opaque) {
  return std::chrono::steady_clock::now() > static_cast<RecordingReader*>(opaque)->deadline_ ? 1 : 0;
}

std::unique_ptr<RecordingReader> RecordingReader::Open(const std::string& path, std::string& error,
                                                       std::chrono::seconds giveUpAfter) {
  std::unique_ptr<RecordingReader> reader(new RecordingReader);
  reader->deadline_ = std::chrono::steady_clock::now() + giveUpAfter;
  UniqueFd fd = OpenRecordingForReading(path, error);
  if (!fd) return nullptr;
  reader->io_ = FdIo::ForReading(std::move(fd), reader->deadline_);
  AVFormatContext* raw = reader->io_ ? avformat_alloc_context() : nullptr;
  if (!raw) {
    error = ErrorText(AVERROR(ENOMEM));
    return nullptr;
  }
  raw->pb = reader->io_->Context();
  raw->flags |= AVFMT_FLAG_CUSTOM_IO;
  raw->interrupt_callback = {&RecordingReader::PastDeadline, reader.get()};
  AVDictionary* options = nullptr;
  av_dict_set(&options, "protocol_whitelist", "file", 0);
  av_dict_set(&options, "format_whitelist", "avi,mov", 0);
  av_dict_set(&options, "codec_whitelist", kRecordedCodecs, 0);
  const char* format = ContainerOf(path) == Container::Mp4 ? "mp4" : "avi";
  const int result = avformat_open_input(&raw, nullptr, av_find_input_format(format), &options);
  av_dict_free(&options);
  if (result < 0) {
    error = result == AVERROR_EXIT ? "the file could not be read in time" : ErrorText(result);
    return nullptr;
  }
  reader->input_.reset(raw);
  reader->stream_ = av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (reader->stream_ < 0) {
    error = "no video in the file";
    return nullptr;
  }
  return reader;
}

double RecordingReader::Seconds() const {
  const AVStream& stream = Stream();
  if (stream.duration != AV_NOPTS_VALUE) return static_cast<double>(stream.duration) * av_q2d(stream.time_base);
  if (input_->duration != AV_NOPTS_VALUE) return static_cast<double>(input_->duration) / AV_TIME_BASE;
  return 0;
}

bool ReadFrameIndex(const std::string& path, FrameIndex& index, std::string& error) {
  const std::unique_ptr<RecordingReader> reader = RecordingReader::Open(path, error);
  if (!reader) return false;
  AVStream* stream = reader->Input()->streams[reader->VideoStream()];
  const AVCodecParameters& parameters = *stream->codecpar;
  index.codec = avcodec_get_name(parameters.codec_id);
  index.width = parameters.width;
  index.height = parameters.height;
  index.fps = stream->avg_frame_rate.num > 0 ? av_q2d(stream->avg_frame_rate) : av_q2d(av_inv_q(stream->time_base));
  const int count = avformat_index_get_entries_count(stream);
  index.offsets.reserve(static_cast<std::size_t>(count));
  index.sizes.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    const AVIndexEntry* entry = avformat_index_get_entry(stream, i);
    if (!entry) continue;
    if (entry->size <= 0) {
      // An empty chunk holds the picture before it for one more frame interval.
      if (index.offsets.empty()) continue;
      index.offsets.push_back(index.offsets.back());
      index.sizes.push_back(index.sizes.back());
      continue;
    }
    // The AVI demuxer indexes each chunk at its 8-byte header; the frame's data follows it.
    index.offsets.push_back(entry->pos + 8);
    index.sizes.push_back(entry->size);
  }
  if (index.offsets.empty()) {
    error = "the recording has no index (still being recorded, or cut short)";
    return false;
  }
  return true;
}

}  // namespace zent
