#pragma once
// The recorder's figures in Prometheus' text format: per camera, its state and counters; for the
// process, the memory budget, each recordings folder's disk and the live viewers.

#include <cstdint>
#include <string>
#include <vector>

#include "record/camera_feed.h"
#include "web/camera_board.h"

namespace zent {

struct DiskFigures {
  std::string folder;
  std::int64_t freeBytes = -1;  // -1: unknown
  std::int64_t reserveBytes = 0;
};

struct ProcessFigures {
  std::int64_t memoryUsedBytes = 0;
  std::int64_t memoryLimitBytes = 0;
  std::vector<DiskFigures> disks;
  int liveViewers = 0;
};

std::string MetricsText(const std::vector<CameraState>& cameras, CameraFeeds& feeds, const ProcessFigures& process);

}  // namespace zent
