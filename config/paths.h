#pragma once
// Building and splitting paths with the platform's separator.

#include <string>
#include <string_view>

namespace zent {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// folder + separator + name; the folder is used as given, even when empty.
inline std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string path(folder);
  path += kPathSeparator;
  path += name;
  return path;
}

// The text before the last separator; empty when there is none.
inline std::string DirectoryPart(std::string_view path) {
  const auto pos = path.rfind(kPathSeparator);
  return pos == std::string_view::npos ? std::string() : std::string(path.substr(0, pos));
}

// Where the saved cameras live, inside the user's documents folder.
inline std::string ConfigFilePath(std::string_view documentsFolder) { return JoinPath(documentsFolder, "zent.cfg1"); }

}  // namespace zent
