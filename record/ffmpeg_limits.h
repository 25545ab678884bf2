#pragma once
// What FFmpeg may do on a camera's word or a file's: which protocols it may open, which demuxers
// and decoders it may run, how large a picture it may decode, and to which host it may take the
// camera's password. A camera answering with a playlist or a redirect must not make us fetch
// another host's data or hand it the credentials.

#include <cstdint>
#include <string>

#include "record/ffmpeg_ptr.h"

namespace zent {

inline constexpr char kHttpProtocols[] = "http,https,tcp,tls";
inline constexpr char kRtspProtocols[] = "rtsp,rtp,udp,tcp,tls";
// Motion JPEG over HTTP (multipart or bare), RTSP, and raw H.264 as some cameras serve it.
inline constexpr char kCameraFormats[] = "mpjpeg,mjpeg,rtsp,h264";
// The codecs the program records, and so decodes for the live picture and thumbnails (H.265 goes
// into MP4 only).
inline constexpr char kRecordedCodecs[] = "mjpeg,h264,hevc";
// 8K: larger than any camera's picture, small enough that a forged size cannot take the memory.
inline constexpr std::int64_t kMaxPixels = 7680LL * 4320;
// How long FFmpeg may wait for one read or write of the camera's connection.
inline constexpr std::int64_t kIoTimeoutMicroseconds = 10'000'000;
inline constexpr std::int64_t kProbeBytes = 2'000'000;
inline constexpr std::int64_t kAnalyzeMicroseconds = 5'000'000;

// The camera sent us to another host: not followed, so its password stays with the camera.
inline constexpr int kErrorRedirected = FFERRTAG('Z', 'R', 'D', 'R');

// The host part of a URL, lower-case, as FFmpeg itself reads it.
std::string UrlHost(const std::string& url);

// Opens a decoder for one of the recorded codecs only, with the pixel bound.
int OpenDecoder(AVCodecContext* context, const AVCodec* codec);

}  // namespace zent
