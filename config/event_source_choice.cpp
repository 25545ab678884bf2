#include "config/event_source_choice.h"

#include <charconv>

namespace zent {

std::optional<EventSourceChoice> ParseEventSource(const std::string& text) {
  if (text.empty() || text == "camera") return EventSourceChoice{};
  if (text == "external") return EventSourceChoice{EventSourceChoice::Kind::External, 80};
  if (text == "motion") return EventSourceChoice{EventSourceChoice::Kind::Motion, 80};
  if (text == "onvif") return EventSourceChoice{EventSourceChoice::Kind::Onvif, 80};
  if (text.rfind("onvif:", 0) != 0) return std::nullopt;
  int port = 0;
  const char* first = text.data() + 6;
  const char* last = text.data() + text.size();
  const auto [end, error] = std::from_chars(first, last, port);
  if (error != std::errc() || end != last || first == last || port < 1 || port > 65535) return std::nullopt;
  return EventSourceChoice{EventSourceChoice::Kind::Onvif, port};
}

const char* SourceName(EventSourceChoice::Kind kind) {
  switch (kind) {
    case EventSourceChoice::Kind::Onvif: return "onvif";
    case EventSourceChoice::Kind::External: return "external";
    case EventSourceChoice::Kind::Motion: return "motion";
    case EventSourceChoice::Kind::Camera: break;
  }
  return "camera";
}

std::string EventSourceText(const EventSourceChoice& choice) {
  if (choice.kind == EventSourceChoice::Kind::Onvif && choice.port != 80) return "onvif:" + std::to_string(choice.port);
  return SourceName(choice.kind);
}

}  // namespace zent
