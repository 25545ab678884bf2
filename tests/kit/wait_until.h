#pragma once
// Waits for something another thread or process brings about, without a fixed sleep.

#include <chrono>
#include <functional>
#include <thread>

namespace zent::testing {

// Checks `done` until it holds or the time is up, running `between` (by default a 10 ms sleep)
// in between; returns `done()`.
inline bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout,
                      const std::function<void()>& between = {}) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done() && std::chrono::steady_clock::now() < deadline) {
    if (between) between();
    else std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

}  // namespace zent::testing
