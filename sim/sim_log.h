#pragma once
// The simulator's output: one line per thing it did, with the wall-clock time and the monotonic
// clock (seconds) so that another process on this machine can measure delays against it.

#include <cstdio>
#include <ctime>
#include <mutex>

namespace camsim {

void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace camsim
