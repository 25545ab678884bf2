#pragma once
// A scratch home folder with a Documents folder, and every variable that says where a program
// keeps its settings, cache, data and state pointing into it: nothing a test runs can touch the
// real user's files.

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/kit/temp_dir.h"

namespace zent::testing {

class TempHome {
 public:
  TempHome() { std::filesystem::create_directories(documents()); }

  const std::string& path() const { return dir_.path(); }
  std::string file(const std::string& name) const { return dir_.file(name); }
  std::string documents() const { return path() + "/Documents"; }
  std::string config() const { return path() + "/.config"; }

  // NAME=VALUE pairs for a child process.
  std::vector<std::string> Environment() const {
    std::vector<std::string> pairs;
    for (const auto& [name, value] : Variables()) pairs.push_back(name + "=" + value);
    return pairs;
  }
  // Points this process at the home.
  void Enter() const {
    for (const auto& [name, value] : Variables()) ::setenv(name.c_str(), value.c_str(), 1);
  }

 private:
  std::vector<std::pair<std::string, std::string>> Variables() const {
    return {{"HOME", path()},
            {"XDG_CONFIG_HOME", config()},
            {"XDG_CACHE_HOME", path() + "/.cache"},
            {"XDG_DATA_HOME", path() + "/.local/share"},
            {"XDG_STATE_HOME", path() + "/.local/state"},
            {"CREDENTIALS_DIRECTORY", ""}};
  }

  TempDir dir_;
};

}  // namespace zent::testing
