#pragma once
// The page's files, built into the program: "/index.html", "/app.js", … with their types.

#include <map>
#include <string_view>

namespace zent {

struct WebAsset {
  std::string_view type;
  std::string_view body;
};

const std::map<std::string_view, WebAsset>& WebAssets();

}  // namespace zent
