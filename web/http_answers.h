#pragma once
// Answers every route of the web page gives the same way.

#include <httplib.h>

#include <nlohmann/json.hpp>
#include <string>

namespace zent {

inline void SendJson(httplib::Response& response, const nlohmann::json& json, int status = 200) {
  response.status = status;
  response.set_content(json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace), "application/json");
}

inline void SendError(httplib::Response& response, int status, const std::string& text) {
  SendJson(response, {{"error", text}}, status);
}

}  // namespace zent
