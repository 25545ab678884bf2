#pragma once
// Appends status lines to their log files on a thread of its own, so that no caller waits for
// the disk. Lines land in the order they were handed over.

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace zent {

class LogWriter {
 public:
  LogWriter();
  ~LogWriter();  // writes what is queued, then stops
  LogWriter(const LogWriter&) = delete;
  LogWriter& operator=(const LogWriter&) = delete;

  void Append(std::string path, std::string line);
  // Returns once every line handed over before the call has been written (or skipped).
  void Flush();

 private:
  struct Entry {
    std::string path;
    std::string line;
  };
  void Run();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable drained_;
  std::deque<Entry> queue_;
  bool busy_ = false;
  bool stopping_ = false;
  std::thread worker_;
};

}  // namespace zent
