#include "web/health_routes.h"

#include <nlohmann/json.hpp>
#include <set>

#include "record/disk_space.h"
#include "record/memory_budget.h"
#include "web/camera_health.h"
#include "web/http_answers.h"
#include "web/metrics.h"

namespace zent {
namespace {

constexpr auto kHealthyVideoWithin = std::chrono::seconds(30);

}  // namespace

void HealthRoutes::Register(HttpServer& server) {
  server.Route("GET", "/metrics", [this](const HttpRequest&, HttpResponse& r) { Metrics(r); });
  server.Route("GET", "/healthz", [this](const HttpRequest&, HttpResponse& r) { Health(r); });
}

void HealthRoutes::Metrics(HttpResponse& response) {
  ProcessFigures process;
  process.memoryUsedBytes = MemoryBudget::Process().Used();
  process.memoryLimitBytes = MemoryBudget::Process().Limit();
  process.liveViewers = slots_.Live();
  std::set<std::string> folders;
  for (const CatalogCamera& camera : recordings_.Cameras()) {
    if (!folders.insert(camera.place.folder).second) continue;
    process.disks.push_back({camera.place.folder, FreeBytes(camera.place.folder + "/."), camera.reserveBytes});
  }
  response.SetContent(MetricsText(board_.Cameras(), feeds_, process), "text/plain; version=0.0.4; charset=utf-8");
}

void HealthRoutes::Health(HttpResponse& response) {
  nlohmann::json cameras = nlohmann::json::array();
  bool healthy = true;
  for (const CameraHealth& camera :
       HealthOf(board_.Cameras(), feeds_, std::chrono::system_clock::now(), kHealthyVideoWithin)) {
    healthy = healthy && camera.problems.empty();
    cameras.push_back({{"camera", camera.id},
                       {"address", camera.address},
                       {"ok", camera.problems.empty()},
                       {"problems", camera.problems}});
  }
  SendJson(response, {{"ok", healthy}, {"cameras", cameras}}, healthy ? 200 : 503);
}

}  // namespace zent
