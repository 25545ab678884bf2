#include "res/strings.h"

#include <map>

namespace {

std::map<int, std::string>& Table() {
  static std::map<int, std::string> table = {
      {IDS_ABOUTBOX, "&About ZENT Client..."},
  };
  return table;
}

}  // namespace

std::string LoadStringResource(int id) {
  auto it = Table().find(id);
  return it == Table().end() ? std::string() : it->second;
}

void SetStringResource(int id, std::string text) { Table()[id] = std::move(text); }
