#pragma once
// Where the headless recorder's status lines go: standard output, one line each prefixed with
// the camera's address (the journal keeps them under systemd), and the camera's own log file
// when its profile asks for one, exactly as the desktop program writes it.

#include <cstdio>
#include <mutex>
#include <map>
#include <string>

#include "log/log_writer.h"
#include "log/repeat_filter.h"
#include "log/status_line.h"

namespace zent {

class StatusOutput {
 public:
  StatusOutput(std::FILE* out, std::string documentsFolder, LocalClock clock = LocalTimeNow);

  // From any thread.
  void Line(const std::string& address, const LogSettings& log, const std::string& text);
  // Lines about the program rather than one camera.
  void Program(const std::string& text);
  void Flush();

 private:
  std::FILE* const out_;
  const std::string documentsFolder_;
  const LocalClock clock_;
  std::mutex mutex_;
  std::map<std::string, RepeatFilter> repeats_;  // by camera address
  LogWriter logWriter_;
};

}  // namespace zent
