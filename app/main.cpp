#include <chrono>
#include <cstdlib>

#include "app/client_app.h"
#include "record/memory_budget.h"
#include "record/recorder_finishing.h"

int main(int argc, char** argv) {
  zent::KeepFreedFrameMemory();
  const int code = theApp.Run(argc, argv);
  // Recordings closed at the end finish in the background; a disk that does not answer within
  // 2 s is not waited for, and nothing is torn down under the thread still writing to it.
  if (!zent::Finishing::WaitForAll(std::chrono::steady_clock::now() + std::chrono::seconds(2))) std::_Exit(code);
  return code;
}
