#pragma once
// Where the engine's reader takes the camera's packets from: FFmpeg's demuxers for RTSP and
// other streams, or our own multipart reader for Motion JPEG over HTTP, whose parts must be
// bounded before they are buffered.

#include <memory>
#include <string>

#include "record/ffmpeg_ptr.h"

namespace zent {

// A JPEG part beyond the multipart reader's bound.
inline constexpr int kErrorPartTooLarge = FFERRTAG('Z', 'B', 'I', 'G');

class PacketSource {
 public:
  virtual ~PacketSource() = default;
  // The next packet of the video stream; a negative FFmpeg error when the stream ended or failed.
  virtual int Read(AVPacket& packet) = 0;
  virtual const AVCodecParameters& Parameters() const = 0;
  virtual AVRational TimeBase() const = 0;
  // The frame rate the stream declares; 25 when it declares none.
  virtual AVRational DeclaredRate() const = 0;
  // The stream carries no time stamps of its own: packets are timed by their arrival.
  virtual bool ArrivalClock() const = 0;
};

// Opens `url`; `interrupt` ends a blocked open or read. Null with an FFmpeg error in `error` when
// the stream cannot be opened or has no video.
std::unique_ptr<PacketSource> OpenPacketSource(const std::string& url, const AVIOInterruptCB& interrupt, int& error);

// For reports: what went wrong, in words.
std::string SourceErrorText(int error);

}  // namespace zent
