#include "record/ffmpeg_limits.h"

#include <cctype>

extern "C" {
#include <libavutil/opt.h>
}

namespace zent {

std::string UrlHost(const std::string& url) {
  char host[1024] = {};
  int port = -1;
  av_url_split(nullptr, 0, nullptr, 0, host, sizeof host, &port, nullptr, 0, url.c_str());
  std::string text = host;
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

int OpenDecoder(AVCodecContext* context, const AVCodec* codec) {
  context->max_pixels = kMaxPixels;
  AVDictionary* options = nullptr;
  av_dict_set(&options, "codec_whitelist", kRecordedCodecs, 0);
  const int result = avcodec_open2(context, codec, &options);
  av_dict_free(&options);
  return result;
}

}  // namespace zent
