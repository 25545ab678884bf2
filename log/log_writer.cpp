#include "log/log_writer.h"

#include "log/status_line.h"

namespace zent {

LogWriter::LogWriter() : worker_([this] { Run(); }) {}

LogWriter::~LogWriter() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  worker_.join();
}

void LogWriter::Append(std::string path, std::string line) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back({std::move(path), std::move(line)});
  }
  wake_.notify_one();
}

void LogWriter::Flush() {
  std::unique_lock lock(mutex_);
  drained_.wait(lock, [this] { return queue_.empty() && !busy_; });
}

void LogWriter::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) return;  // stopping, and everything is written
    Entry entry = std::move(queue_.front());
    queue_.pop_front();
    busy_ = true;
    lock.unlock();
    AppendLogLine(entry.path, entry.line);
    lock.lock();
    busy_ = false;
    if (queue_.empty()) drained_.notify_all();
  }
}

}  // namespace zent
