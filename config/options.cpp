#include "config/options.h"

namespace zent {

std::string VideoUrlTemplateFor(const Options& options, const std::string& address) {
  const auto own = options.cameraVideoUrlTemplates.find(address);
  if (own != options.cameraVideoUrlTemplates.end() && !own->second.empty()) return own->second;
  return options.videoUrlTemplate;
}

}  // namespace zent
