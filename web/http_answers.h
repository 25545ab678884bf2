#pragma once
// Answers every route of the web page gives the same way.

#include <nlohmann/json.hpp>
#include <string>

#include "web/http_server.h"

namespace zent {

inline void SendJson(HttpResponse& response, const nlohmann::json& json, int status = 200) {
  response.status = status;
  response.SetContent(json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace), "application/json");
}

inline void SendError(HttpResponse& response, int status, const std::string& text) {
  SendJson(response, {{"error", text}}, status);
}

}  // namespace zent
