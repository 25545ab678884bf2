#include "sim/sim_log.h"

#include <cstdarg>
#include <string>

namespace camsim {

void Log(const char* format, ...) {
  static std::mutex mutex;
  timespec wall{}, mono{};
  clock_gettime(CLOCK_REALTIME, &wall);
  clock_gettime(CLOCK_MONOTONIC, &mono);
  tm local{};
  localtime_r(&wall.tv_sec, &local);
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  std::lock_guard lock(mutex);
  std::printf("%02d:%02d:%02d.%03ld t=%ld.%06ld %s\n", local.tm_hour, local.tm_min, local.tm_sec,
              wall.tv_nsec / 1000000, static_cast<long>(mono.tv_sec), mono.tv_nsec / 1000, text);
  std::fflush(stdout);
}

}  // namespace camsim
