#pragma once
// Running a window program's event loop from a benchmark.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <functional>

namespace bench {

// Runs the event loop until `done` holds or `ms` have passed; returns `done()`.
inline bool PumpUntil(const std::function<bool()>& done, int ms) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  return done();
}

}  // namespace bench
